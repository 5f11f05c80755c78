// The console link and the event dispatcher, against in-process stand-ins and the reference console process.
#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>

#include <algorithm>
#include <functional>
#include <map>

#include "comfw/comObject.h"
#include "comfw/dispatch.h"
#include "tests/consoleTestSupport.h"
#include "tests/logTestSupport.h"
#include "tests/ownLog.h"
#include "win32/plugin/consoleCall.h"
#include "zova/consoleContract.h"
#include "win32/plugin/procControl.h"
#include "win32/plugin/vmControlEventDisp.h"

using comfw::ComPtr;
using comfw::Variant;
using namespace zova::console;
using namespace zova::test;
using Messages = std::vector<std::string>;

namespace {

std::string Dec(HRESULT hr) { return std::to_string(static_cast<int>(hr)); }
// Any type tag over a raw value.
Variant Typed(VARTYPE vt, ULONG_PTR raw) { Variant v; v.ptr()->vt = vt; v.ptr()->ullVal = raw; return v; }

// Invoke with arguments given in call order.
template <class... V>
HRESULT Send(IDispatch* target, DISPID id, const V&... callOrder) {
    std::vector<VARIANTARG> lastFirst{callOrder.get()...};
    std::reverse(lastFirst.begin(), lastFirst.end());
    DISPPARAMS params{lastFirst.data(), nullptr, static_cast<UINT>(lastFirst.size()), 0};
    return target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}

// A dispatcher that writes each operation it is called with into a journal that outlives it; `onCall` may act.
class RecordingSink : public zova::VMControlEventDisp {
public:
    Messages* journal = nullptr;
    std::function<HRESULT(const std::string&)> onCall;
    bool* destroyed = nullptr;

    ~RecordingSink() override { *destroyed = true; }
    HRESULT onMessage(uint32_t type, BSTR text) noexcept override { return Note("onMessage", type, text); }
    HRESULT onConnectionStateChange(uint32_t cs, BSTR host, BSTR dc, BSTR vm, bool user, BSTR why) noexcept override {
        return Note("onConnectionStateChange", cs, host, dc, vm, user, why);
    }
    HRESULT onScreenSizeChange(int32_t w, int32_t h) noexcept override { return Note("onScreenSizeChange", w, h); }
    HRESULT onGrabStateChange(uint32_t state) noexcept override { return Note("onGrabStateChange", state); }
    HRESULT onFullscreenChange(bool on) noexcept override { return Note("onFullscreenChange", on); }
    HRESULT onDeviceStateChange(uint32_t state, BSTR host, BSTR dc, BSTR vm, BSTR vkey, BSTR pkey, bool user,
                                BSTR reason) noexcept override {
        return Note("onDeviceStateChange", state, host, dc, vm, vkey, pkey, user, reason);
    }
    HRESULT onVirtualDevicesChange() noexcept override { return Note("onVirtualDevicesChange"); }
    HRESULT onPhysicalClientDevicesChange() noexcept override { return Note("onPhysicalClientDevicesChange"); }

private:
    template <class T>
    static std::string Show(T v) { return std::to_string(v); }
    static std::string Show(bool v) { return v ? "true" : "false"; }
    static std::string Show(BSTR s) { return s ? "'" + Narrow(std::wstring(s, SysStringLen(s))) + "'" : "null"; }
    template <class... V>
    HRESULT Note(const char* name, V... values) noexcept {
        std::string call, sep;
        ((call += sep + Show(values), sep = ","), ...);
        journal->push_back(name + ("(" + call + ")"));
        return onCall ? onCall(journal->back()) : S_OK;
    }
};

struct Dispatcher : ::testing::Test {
    Messages journal;
    bool destroyed = false;
    ComPtr<RecordingSink> sink = Make(true);
    HWND window = sink->hwnd();

    ComPtr<RecordingSink> Make(bool withWindow) {
        ComPtr<RecordingSink> made;
        EXPECT_EQ(S_OK, zova::VMControlEventDisp::Create(made));
        made->journal = &journal, made->destroyed = &destroyed;
        if (withWindow) { EXPECT_NE(nullptr, made->CreateDispatcherWindow()); }
        return made;
    }
    bool DeliverOne() {
        MSG msg;
        const bool got = PeekMessageW(&msg, window, zova::WM_VM_CONTROL_EVENT, zova::WM_VM_CONTROL_EVENT, PM_REMOVE);
        return got && (DispatchMessageW(&msg), true);
    }
};

// How each event is decoded (numbers, argument counts, exact types, values): fuzz/decoderFuzz.cpp. Here: the queue.
TEST_F(Dispatcher, ABatchGoesOutWithTheFirstMessageArgumentsIntactAndFailuresAreLoggedAtDelivery) {
    // A failing handler or a refused event is logged and the batch goes on; an event sent from a handler waits
    // for a message of its own.
    sink->onCall = [&](const std::string& call) {
        if (call == "onGrabStateChange(1)") { EXPECT_EQ(S_OK, Send(sink.get(), 4, Bool(true))); }
        return call == "onVirtualDevicesChange()" ? E_ACCESSDENIED : S_OK;
    };
    LogMark log;
    // Arguments keep their order, and a null string stays null (the platform's copy would make it empty).
    EXPECT_EQ(S_OK, Send(sink.get(), 1, UI4(0), Str(nullptr), Str(L""), Str(L"vm-1"), Bool(true), Str(nullptr)));
    EXPECT_EQ(S_OK, Send(sink.get(), 2, UI4(1)));
    EXPECT_EQ(S_OK, Send(sink.get(), 6));
    EXPECT_EQ(S_OK, Send(sink.get(), 8));
    EXPECT_EQ(S_OK, Send(sink.get(), 3, I4(-1024), I4(768)));
    EXPECT_TRUE(journal.empty() && log.NewMessages().empty()) << "nothing is delivered inside the console's call";
    EXPECT_EQ(5u, sink->pending_count());
    ASSERT_TRUE(DeliverOne());
    EXPECT_EQ((Messages{"onConnectionStateChange(0,null,'','vm-1',true,null)", "onGrabStateChange(1)",
                        "onVirtualDevicesChange()", "onScreenSizeChange(-1024,768)"}),
              journal);
    EXPECT_EQ((Messages{"Failed to call VM control event 6: " + Dec(E_ACCESSDENIED),
                        "Failed to call VM control event 8: " + Dec(DISP_E_MEMBERNOTFOUND)}),
              log.NewMessages());
    EXPECT_EQ(1u, sink->pending_count());
    ASSERT_TRUE(DeliverOne());
    EXPECT_EQ("onFullscreenChange(true)", journal.back());
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(DeliverOne());
    EXPECT_FALSE(DeliverOne()) << "one message per event";
    EXPECT_EQ(5u, journal.size());
}

TEST_F(Dispatcher, ReleasedByItsOwnHandlerFinishesTheBatchAndThenGoes) {
    // The page tears the link down from the first handler: the console drops its (here: the only) reference.
    sink->onCall = [&](const std::string& call) {
        if (call == "onGrabStateChange(0)") sink.reset();
        else EXPECT_FALSE(destroyed) << call;
        return S_OK;
    };
    Send(sink.get(), 2, UI4(0)), Send(sink.get(), 4, Bool(true)), Send(sink.get(), 6);
    LogMark log;
    ASSERT_TRUE(DeliverOne());
    EXPECT_EQ((Messages{"onGrabStateChange(0)", "onFullscreenChange(true)", "onVirtualDevicesChange()"}), journal);
    EXPECT_TRUE(destroyed);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(log.NewMessages().empty()) << "nothing was left undelivered";
}

TEST_F(Dispatcher, EventsDroppedUnpostedOrLeftAtDestructionAreReported) {
    LogMark log;
    EXPECT_EQ(DISP_E_BADVARTYPE, Send(sink.get(), 0, UI4(1), Typed(0x7ff, 0)));
    EXPECT_FALSE(DeliverOne()) << "nothing posted for a dropped event";
    ComPtr<RecordingSink> windowless = Make(false);
    EXPECT_EQ(E_FAIL, Send(windowless.get(), 7));
    EXPECT_EQ(1u, windowless->pending_count());
    windowless.reset();
    Send(sink.get(), 1, UI4(0), Str(L"h"), Str(L"d"), Str(L"v"), Bool(false), Str(L"r"));
    Send(sink.get(), 4, Bool(true));
    sink.reset();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(DeliverOne()) << "its posted messages went with the window";
    EXPECT_TRUE(journal.empty());
    EXPECT_EQ((Messages{"Failed to copy argument 0 of VM control event 0, event dropped: " + Dec(DISP_E_BADVARTYPE),
                        "PostMessage failed: 1400",
                        "VM control event dispatcher is being destroyed with 1 undelivered events:", " event dispid=7",
                        "VM control event dispatcher is being destroyed with 2 undelivered events:", " event dispid=1",
                        " event dispid=4"}),
              log.NewMessages());
}

using Calls = std::vector<std::pair<DISPID, size_t>>;
class FakeConsole : public comfw::ComObject<FakeConsole, comfw::DispatchByIdOnly<IDispatch>> {
public:
    Calls calls;
    std::map<DISPID, HRESULT> failures;
    std::map<DISPID, Variant> results;

    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) noexcept override {
        calls.emplace_back(id, params->cArgs);
        if (const auto f = failures.find(id); f != failures.end()) return f->second;
        if (const auto r = results.find(id); r != results.end() && result)
            return VariantCopy(result, const_cast<VARIANT*>(&r->second.get()));
        return S_OK;
    }
};

// One entry of the running object table under a file moniker's display name, revoked at destruction.
struct RotEntry {
    ComPtr<IRunningObjectTable> rot;
    DWORD cookie = 0;
    RotEntry(const std::wstring& name, IUnknown* object) {
        ComPtr<IMoniker> moniker;
        EXPECT_EQ(S_OK, CreateFileMoniker(name.c_str(), moniker.put()));
        EXPECT_EQ(S_OK, GetRunningObjectTable(0, rot.put()));
        EXPECT_TRUE(SUCCEEDED(rot->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, object, moniker.get(), &cookie)));
    }
    ~RotEntry() { rot->Revoke(cookie); }
};

IUnknown* Identity(IUnknown* object) {
    ComPtr<IUnknown> unknown;
    if (object) object->QueryInterface(IID_IUnknown, unknown.put_void());
    return unknown.get();
}

// A moniker in the running object table whose name cannot be read: the table keys it by its comparison
// data, and GetDisplayName fails as a broken or foreign moniker's can.
class NamelessMoniker : public comfw::ComObject<NamelessMoniker, IMoniker, IROTData> {
public:
    static constexpr HRESULT kNameFailure = E_ACCESSDENIED;
    STDMETHODIMP GetComparisonData(BYTE* data, ULONG size, ULONG* used) noexcept override {
        static const BYTE key[] = "nameless moniker of the tests";
        if (size < sizeof key) return E_OUTOFMEMORY;
        std::copy(std::begin(key), std::end(key), data);
        *used = sizeof key;
        return S_OK;
    }
    STDMETHODIMP GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR* name) noexcept override {
        *name = nullptr;
        return kNameFailure;
    }
    STDMETHODIMP Reduce(IBindCtx*, DWORD, IMoniker**, IMoniker** reduced) noexcept override {
        AddRef();
        *reduced = this;
        return MK_S_REDUCED_TO_SELF;
    }
    STDMETHODIMP IsEqual(IMoniker* other) noexcept override { return Identity(other) == identity() ? S_OK : S_FALSE; }
    STDMETHODIMP Hash(DWORD* hash) noexcept override { *hash = 42; return S_OK; }
    STDMETHODIMP IsSystemMoniker(DWORD* kind) noexcept override { *kind = MKSYS_NONE; return S_FALSE; }
    // What the table and the binder must never need of it.
    STDMETHODIMP GetClassID(CLSID*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP IsDirty() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Load(IStream*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Save(IStream*, BOOL) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP BindToObject(IBindCtx*, IMoniker*, REFIID, void**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP BindToStorage(IBindCtx*, IMoniker*, REFIID, void**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP ComposeWith(IMoniker*, BOOL, IMoniker**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Enum(BOOL, IEnumMoniker**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP IsRunning(IBindCtx*, IMoniker*, IMoniker*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetTimeOfLastChange(IBindCtx*, IMoniker*, FILETIME*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Inverse(IMoniker**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP CommonPrefixWith(IMoniker*, IMoniker**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP RelativePathTo(IMoniker*, IMoniker**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP ParseDisplayName(IBindCtx*, IMoniker*, LPOLESTR, ULONG*, IMoniker**) noexcept override {
        return E_NOTIMPL;
    }
};

TEST(ConsoleBinding, BindsOnlyTheEntryWithTheExactName) {
    ComPtr<FakeConsole> console = Made<FakeConsole>(), bare = Made<FakeConsole>();
    RotEntry entry(L"ZOVA_MONIKER_Case-1", console->identity()), prefix(L"ZOVA_MONIKER_", bare->identity());
    // An empty ID looks for the prefix alone.
    for (const wchar_t* id : {L"Case-1", L"", L"case-1", L"CASE-1", L"Case-1 ", L"Case-"}) {
        const std::string name = "ZOVA_MONIKER_" + Narrow(id);
        SCOPED_TRACE(name);
        IUnknown* expected = name == "ZOVA_MONIKER_Case-1" ? console.get() : *id ? nullptr : bare.get();
        LogMark log;
        ComPtr<IDispatch> bound;
        EXPECT_EQ(expected ? S_OK : E_FAIL, zova::AttachToConsoleProcess(id, bound));
        EXPECT_EQ(Identity(expected), Identity(bound.get()));
        const Messages found{"Binding to [" + name + "]", "BindToObject succeeded"};
        EXPECT_EQ(expected ? found : Messages{"Moniker not found"}, log.NewMessages());
    }
    // Of two entries with one name, the first registered is bound.
    ComPtr<FakeConsole> later = Made<FakeConsole>();
    RotEntry twin(L"ZOVA_MONIKER_Case-1", later->identity());
    ComPtr<IDispatch> bound;
    EXPECT_EQ(S_OK, zova::AttachToConsoleProcess(L"Case-1", bound));
    EXPECT_EQ(Identity(console.get()), Identity(bound.get()));

    // An entry whose name cannot be read is reported and passed over, wherever the table lists it.
    ComPtr<NamelessMoniker> nameless = Made<NamelessMoniker>();
    ComPtr<IRunningObjectTable> rot;
    ASSERT_EQ(S_OK, GetRunningObjectTable(0, rot.put()));
    DWORD cookie = 0;
    ASSERT_TRUE(SUCCEEDED(rot->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, bare->identity(), nameless.get(), &cookie)));
    const std::string nameFailure = "GetDisplayName failed: " + Dec(NamelessMoniker::kNameFailure);
    LogMark log;
    EXPECT_EQ(S_OK, zova::AttachToConsoleProcess(L"Case-1", bound));
    EXPECT_EQ(Identity(console.get()), Identity(bound.get()));
    EXPECT_EQ(E_FAIL, zova::AttachToConsoleProcess(L"Absent", bound));
    EXPECT_EQ(nullptr, bound.get());
    const Messages lines = log.NewMessages();
    EXPECT_EQ(nameFailure, lines.at(lines.size() - 2)) << "every entry is read when none has the name";
    EXPECT_EQ("Moniker not found", lines.back());
    EXPECT_EQ(S_OK, rot->Revoke(cookie));
}

TEST(ConsoleAttach, FailuresReleaseWhatWasMadeAndLeaveTheOutputs) {
    ComPtr<FakeConsole> process = Made<FakeConsole>(), control = Made<FakeConsole>(), keep = Made<FakeConsole>();
    RotEntry entry(L"ZOVA_MONIKER_attach", process->identity());
    TestWindow window(300, 200);
    control->failures[ZOVA_DISPID_ADVISE] = E_INVALIDARG;
    const std::string bind = "Binding to [ZOVA_MONIKER_attach]", bound = "BindToObject succeeded";
    // A result of another type than a dispatch; a console that refuses the sink (the control made for it goes
    // as well, without Unadvise or Delete); no console of the ID.
    struct { const wchar_t* id; Variant made; HRESULT hr; Messages log; } cases[] = {
        {L"attach", Variant::I4(5), DISP_E_TYPEMISMATCH, {bind, bound, "Failed to attach control: -2147352571"}},
        {L"attach", Variant::Dispatch(control.get()), E_INVALIDARG,
         {bind, bound, "Advise failed: " + Dec(E_INVALIDARG)}},
        {L"attach-none", Variant(), E_FAIL, {"Moniker not found", "Failed to attach to ZOVA process: -2147467259"}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.log.back());
        process->results[ZOVA_DISPID_ATTACH_CONTROL] = std::move(c.made);
        const ULONG processRefs = process->ref_count(), controlRefs = control->ref_count();
        ComPtr<IDispatch> outProcess(keep.get()), outControl(keep.get());
        LogMark log;
        EXPECT_EQ(c.hr, zova::AttachConsoleAndControl(c.id, window.hwnd, RECT{}, nullptr, outProcess, outControl));
        EXPECT_EQ(c.log, log.NewMessages());
        EXPECT_EQ(processRefs, process->ref_count());
        EXPECT_EQ(controlRefs, control->ref_count());
        EXPECT_TRUE(outProcess.get() == keep.get() && outControl.get() == keep.get());
    }
    EXPECT_EQ((Calls{{ZOVA_DISPID_ADVISE, 1}}), control->calls);
}

TEST(ConsoleWindow, EachWayOfNotFittingSaysWhy) {
    TestWindow parent(200, 100);
    ComPtr<FakeConsole> vm = Made<FakeConsole>();
    LogMark log;
    // No window of the control: nothing to ask, nothing to say.
    const HWND gone = TestWindow(10, 10).hwnd;
    zova::ResizeVMWindow(gone, vm.get());
    EXPECT_TRUE(vm->calls.empty());
    zova::ResizeVMWindow(parent.hwnd, nullptr);
    vm->results[ZOVA_DISPID_GET_HWND] = Variant::Bool(true);
    zova::ResizeVMWindow(parent.hwnd, vm.get());
    vm->results[ZOVA_DISPID_GET_HWND] = Variant::I4(0x7ff0);
    zova::ResizeVMWindow(parent.hwnd, vm.get());
    vm->failures[ZOVA_DISPID_GET_HWND] = RPC_E_DISCONNECTED;
    zova::ResizeVMWindow(parent.hwnd, vm.get());
    EXPECT_EQ((Messages{"ResizeVMWindow: no VM control", "Invoke failed for GetHWND: -2147352571",
                        "No window assiciated with the VM control",
                        "Invoke failed for GetHWND: " + Dec(RPC_E_DISCONNECTED)}),
              log.NewMessages());
}

TEST(ConsoleTeardown, UnadviseThenDeleteThenBothReferencesGoWhateverTheConsoleSays) {
    for (const bool refuse : {false, true}) {
        ComPtr<FakeConsole> fakeProcess = Made<FakeConsole>(), fakeVm = Made<FakeConsole>();
        if (refuse) fakeVm->failures = {{ZOVA_DISPID_UNADVISE, E_UNEXPECTED}, {ZOVA_DISPID_DELETE, RPC_E_DISCONNECTED}};
        ComPtr<IDispatch> process(fakeProcess.get()), control(fakeVm.get());
        LogMark log;
        zova::TeardownVMControl(process, control);
        EXPECT_FALSE(process || control);
        EXPECT_EQ(std::make_pair(1ul, 1ul), std::make_pair(fakeProcess->ref_count(), fakeVm->ref_count()));
        EXPECT_TRUE(fakeProcess->calls.empty());
        EXPECT_EQ((Calls{{ZOVA_DISPID_UNADVISE, 0}, {ZOVA_DISPID_DELETE, 0}}), fakeVm->calls);
        const Messages refused{"Unadvise failed: " + Dec(E_UNEXPECTED),
                               "VM control Delete() failed: " + Dec(RPC_E_DISCONNECTED)};
        EXPECT_EQ(refuse ? refused : Messages{}, log.NewMessages());
    }
}

TEST(ConsoleLauncher, CommandLineAndAMissingExecutable) {
    const std::wstring id = L"zova-ax-t-{0A1B2C3D-0000-4000-8000-00000000ABCD}";
    EXPECT_EQ(L"\"C:\\Program Files\\v z\\velmora-zova.exe\" --parent-PID " + std::to_wstring(GetCurrentProcessId()) +
                  L" --instance-ID \"" + id + L"\" --modes 1234567 --message-mode -2 --features 31",
              zova::BuildConsoleCommandLine(L"C:\\Program Files\\v z\\velmora-zova.exe", id, 1234567, -2, 31));

    // A missing executable fails without waiting (the one beside this program starts: ConsoleStart).
    const std::wstring exe = ProgramFolder() + L"no-such-console.exe", cmd = L"\"" + exe + L"\" --parent-PID 1";
    LogMark log;
    ComPtr<IDispatch> process;
    EXPECT_EQ(E_FAIL, zova::LaunchAndWaitForMoniker(L"ZOVA_MONIKER_x", L"ZOVA_EVENT_x", exe, cmd, process));
    EXPECT_FALSE(process);
    EXPECT_EQ((Messages{"Startup: ZOVA_MONIKER_x, ZOVA_EVENT_x, " + Narrow(exe) + ", " + Narrow(cmd),
                        "Creating ZOVA process",
                        "Failed to create ZOVA process (" + Narrow(exe) + ", " + Narrow(cmd) + "): 2"}),
              log.NewMessages());
}

// Starts of the reference console with a dispatcher as the sink, each under a fresh ID.
struct ConsoleStart : Dispatcher {
    std::wstring NewId() { return id = NewInstanceId(L"link"); }
    ~ConsoleStart() override {
        zova::SetConsoleWaitTimeoutMsForTesting(180000);
        if (console) TerminateProcess(console, 9), CloseHandle(console);  // if the test left it running
    }
    // The console window's rectangle in the client coordinates of `parent`.
    std::vector<LONG> Placed(IDispatch* vmControl, HWND parent) {
        const HWND window = ConsoleWindowOf(vmControl);
        EXPECT_EQ(parent, GetParent(window));
        return PlaceInParent(window);
    }
    std::wstring id;
    HANDLE console = nullptr;  // the started console process
};

TEST_F(ConsoleStart, StartsFitsDeliversTearsDownAndAPersistentConsoleIsAttachedAgain) {
    zova::SetConsoleWaitTimeoutMsForTesting(20000);
    TestWindow first(800, 600), other(320, 200);
    ComPtr<IDispatch> process, control;
    LogMark log;
    // Modes with the top bit set, as a page may pass them: the console takes any value the command line can carry.
    constexpr UINT kModes = 0x80000003u;
    ASSERT_EQ(S_OK, zova::StartConsoleAndCreateControl(NewId(), kModes, 2, 20, first.hwnd, RECT{0, 0, 800, 600},
                                                       sink.get(), process, control));
    ASSERT_TRUE(process && control);
    const std::wstring exe = zova::GetConsoleExecutablePath();  // the command line's form: see above
    const std::string cmd = Narrow(zova::BuildConsoleCommandLine(exe, id, kModes, 2, 20));
    const std::string moniker = "ZOVA_MONIKER_" + Narrow(id);
    const Messages bound{"Binding to [" + moniker + "]", "BindToObject succeeded"};
    EXPECT_EQ((Messages{"Startup: " + moniker + ", ZOVA_EVENT_" + Narrow(id) + ", " + Narrow(exe) + ", " + cmd,
                        "Creating ZOVA process", "Starting MsgWait loop", "Got WAIT_OBJECT_0",
                        "Wait for moniker succeeded", bound[0], bound[1]}),
              log.NewMessages());
    Variant pid;
    ASSERT_EQ(S_OK, zova::CallConsoleFor(control.get(), ZOVA_DISPID_TEST_PROCESS_ID, VT_UI4, pid));
    console = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid.get().ulVal);

    // The console's window lies in ours; a smaller control gets it refitted, quietly. Its events reach the
    // sink from the message loop.
    SetWindowPos(first.hwnd, nullptr, 0, 0, 640, 480, SWP_NOMOVE | SWP_NOZORDER);
    LogMark quiet;
    zova::ResizeVMWindow(first.hwnd, control.get());
    EXPECT_EQ((std::vector<LONG>{0, 0, 640, 480}), Placed(control.get(), first.hwnd));
    EXPECT_EQ(S_OK, zova::CallConsole(control.get(), ZOVA_DISPID_SET_SCREEN_SIZE, I4(1280), I4(1024)));
    EXPECT_TRUE(PumpUntil([&] { return !journal.empty(); }, 10000));
    EXPECT_EQ(Messages{"onScreenSizeChange(1280,1024)"}, journal);

    zova::TeardownVMControl(process, control);
    EXPECT_FALSE(process || control);
    EXPECT_TRUE(quiet.NewMessages().empty());

    // The persistent console outlives its control: attached again, in another window at another place. (Its
    // events after an attach, and its idle limit: pages/attachTake.html.)
    LogMark attachLog;
    ASSERT_EQ(S_OK, zova::AttachConsoleAndControl(id, other.hwnd, RECT{5, 6, 305, 196}, sink.get(), process, control));
    EXPECT_EQ(bound, attachLog.NewMessages());
    EXPECT_EQ((std::vector<LONG>{5, 6, 305, 196}), Placed(control.get(), other.hwnd));
    zova::TeardownVMControl(process, control);
}

TEST_F(ConsoleStart, FailuresSayWhereTheStartStopped) {
    const std::string notStarted = "Failed to start zova process: " + Dec(E_FAIL);
    // With `quit`, a WM_QUIT arrives during the wait; `last`: the log's last messages.
    const struct { const wchar_t* faults; DWORD waitMs; bool quit; HRESULT hr; Messages last; } cases[] = {
        {L"no-ready", 700, false, E_FAIL,
         {"Unexpected wait result: 258", "Wait for moniker result failed", notStarted}},
        {L"no-ready", 20000, true, E_FAIL, {"Got WM_QUIT", "Wait for moniker result failed", notStarted}},
        // A console refusing its fault list ends before it is ready: the start ends with it, not after the full wait.
        {L"no-such-fault", 180000, false, E_FAIL,
         {"The console process ended before it was ready", "Wait for moniker result failed", notStarted}},
        {L"no-register", 180000, false, E_FAIL,
         {"Got WAIT_OBJECT_0", "Wait for moniker succeeded", "Moniker not found", notStarted}},
        {L"wrong-type=0", 180000, false, DISP_E_TYPEMISMATCH,
         {"BindToObject succeeded", "Failed to create control: -2147352571"}},
    };
    TestWindow window(200, 100);
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.faults));
        const ScopedFaults faults((c.faults + std::wstring(L";idle-ms=1500")).c_str());  // and it ends by itself
        zova::SetConsoleWaitTimeoutMsForTesting(c.waitMs);
        const auto quit = [](HWND, UINT, UINT_PTR t, DWORD) { KillTimer(nullptr, t), PostQuitMessage(7); };
        const UINT_PTR timer = c.quit ? SetTimer(nullptr, 0, 200, quit) : 0;
        LogMark log;
        ComPtr<IDispatch> process, control;
        EXPECT_EQ(c.hr, zova::StartConsoleAndCreateControl(NewId(), 0, 0, 0, window.hwnd, RECT{0, 0, 200, 100},
                                                           sink.get(), process, control));
        KillTimer(nullptr, timer);
        EXPECT_FALSE(process || control);
        const Messages all = log.NewMessages();
        EXPECT_EQ(c.last, Messages(all.end() - std::min(c.last.size(), all.size()), all.end()));
        EXPECT_EQ(1u, sink->ref_count()) << "the sink was never handed to the console";
        MSG msg;
        EXPECT_EQ(c.quit, PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE) << "posted again";
        if (c.quit) { EXPECT_EQ(7u, msg.wParam); }
    }
}

}  // namespace
