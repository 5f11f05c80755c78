// The console process link and the event dispatcher, against in-process stand-ins and the reference console
// beside this program. Log lines are read back from this program's own log file.
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
using Args = std::vector<Variant>;

namespace {

// The messages this program's log gains from construction on.
struct LogTail : LogMark {
    Messages messages() const { return NewMessages(); }
};

std::string Dec(HRESULT hr) { return std::to_string(static_cast<int>(hr)); }
// Any type tag over a raw value.
Variant Typed(VARTYPE vt, ULONG_PTR raw) { Variant v; v.ptr()->vt = vt; v.ptr()->ullVal = raw; return v; }
template <class... V>
Args A(V... values) { Args out; (out.push_back(std::move(values)), ...); return out; }

// Invoke with arguments given in call order.
HRESULT Send(IDispatch* target, DISPID id, const Args& callOrder) {
    std::vector<VARIANTARG> lastFirst;
    for (auto it = callOrder.rbegin(); it != callOrder.rend(); ++it) lastFirst.push_back(it->get());
    DISPPARAMS params{lastFirst.data(), nullptr, static_cast<UINT>(lastFirst.size()), 0};
    return target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}
template <class... V>
HRESULT Send(IDispatch* target, DISPID id, V... callOrder) { return Send(target, id, A(std::move(callOrder)...)); }

// A dispatcher that writes each operation it is called with into a journal that outlives it; `onCall` may act.
class RecordingSink : public zova::VMControlEventDisp {
public:
    Messages* journal = nullptr;
    std::function<HRESULT(const std::string&)> onCall;
    bool* destroyed = nullptr;

    ~RecordingSink() override { *destroyed = true; }
    HRESULT onMessage(uint32_t type, BSTR text) noexcept override { return Note("onMessage", type, text); }
    HRESULT onConnectionStateChange(uint32_t cs, BSTR host, BSTR dc, BSTR vm, bool user, BSTR reason) noexcept override {
        return Note("onConnectionStateChange", cs, host, dc, vm, user, reason);
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

// A dispatcher with its window, and its journal.
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
    // Takes one queued dispatcher message for the window and dispatches it.
    bool DeliverOne() {
        MSG msg;
        const bool got = PeekMessageW(&msg, window, zova::WM_VM_CONTROL_EVENT, zova::WM_VM_CONTROL_EVENT, PM_REMOVE);
        return got && (DispatchMessageW(&msg), true);
    }
};

TEST_F(Dispatcher, ABatchGoesOutWithTheFirstMessageDecodedExactlyAndFailuresAreLoggedAtDelivery) {
    // A failing handler is logged; an event sent from a handler waits for a message of its own.
    sink->onCall = [&](const std::string& call) {
        if (call == "onGrabStateChange(1)") { EXPECT_EQ(S_OK, Send(sink.get(), 4, Bool(true))); }
        return call == "onVirtualDevicesChange()" ? E_ACCESSDENIED : S_OK;
    };
    ULONG state = 1;
    // The call the sink gets, if any; the failure delivery logs, if any.
    const struct { DISPID id; Args args; const char* call; HRESULT failure; } cases[] = {
        {0, A(UI4(4000000000u), Str(L"hello")), "onMessage(4000000000,'hello')", S_OK},
        {1, A(UI4(0), Str(nullptr), Str(L""), Str(L"vm-1"), Bool(true), Str(nullptr)),
         "onConnectionStateChange(0,null,'','vm-1',true,null)", S_OK},
        // 2 and 3 cross over: 2 is the grab state, 3 the screen size.
        {2, A(UI4(1)), "onGrabStateChange(1)", S_OK},
        {3, A(I4(-1024), I4(768)), "onScreenSizeChange(-1024,768)", S_OK},
        {4, A(Bool(false)), "onFullscreenChange(false)", S_OK},
        {4, A(Typed(VT_BOOL, 1)), "onFullscreenChange(true)", S_OK},  // any non-zero is true
        {5, A(UI4(7), Str(L"h"), Str(L"d"), Str(L"v"), Str(L"vk"), Str(L"pk"), Bool(false), Str(L"r")),
         "onDeviceStateChange(7,'h','d','v','vk','pk',false,'r')", S_OK},
        {6, A(), "onVirtualDevicesChange()", E_ACCESSDENIED},
        {7, A(), "onPhysicalClientDevicesChange()", S_OK},
        {8, A(), nullptr, DISP_E_MEMBERNOTFOUND}, {-1, A(), nullptr, DISP_E_MEMBERNOTFOUND},
        {0, A(UI4(1), Str(L"m"), Str(L"extra")), nullptr, DISP_E_BADPARAMCOUNT},
        {6, A(UI4(1)), nullptr, DISP_E_BADPARAMCOUNT}, {2, A(UI4(1), UI4(2)), nullptr, DISP_E_BADPARAMCOUNT},
        // Exact types only: a state as I4, a size as UI4, a by-reference value, a string or a bool left out.
        {2, A(I4(1)), nullptr, DISP_E_TYPEMISMATCH}, {3, A(I4(1), UI4(2)), nullptr, DISP_E_TYPEMISMATCH},
        {2, A(Typed(VT_UI4 | VT_BYREF, reinterpret_cast<ULONG_PTR>(&state))), nullptr, DISP_E_TYPEMISMATCH},
        {0, A(UI4(1), Variant()), nullptr, DISP_E_TYPEMISMATCH},
        {1, A(UI4(2), Str(L"h"), Str(L"d"), Str(L"v"), I4(1), Str(L"r")), nullptr, DISP_E_TYPEMISMATCH},
    };
    LogTail log;
    Messages calls, failures;
    for (const auto& c : cases) {
        EXPECT_EQ(S_OK, Send(sink.get(), c.id, c.args)) << c.id;
        if (c.call) calls.push_back(c.call);
        if (FAILED(c.failure)) failures.push_back("Failed to call VM control event " + Dec(c.id) + ": " + Dec(c.failure));
    }
    EXPECT_TRUE(journal.empty() && log.messages().empty()) << "nothing is delivered inside the console's call";
    EXPECT_EQ(std::size(cases), sink->pending_count());
    ASSERT_TRUE(DeliverOne());
    EXPECT_EQ(calls, journal);
    EXPECT_EQ(failures, log.messages());
    EXPECT_EQ(1u, sink->pending_count());
    ASSERT_TRUE(DeliverOne());
    EXPECT_EQ("onFullscreenChange(true)", journal.back());
    for (size_t i = 1; i < std::size(cases); ++i) EXPECT_TRUE(DeliverOne());
    EXPECT_FALSE(DeliverOne()) << "one message per event";
    EXPECT_EQ(calls.size() + 1, journal.size());
}

TEST_F(Dispatcher, ReleasedByItsOwnHandlerFinishesTheBatchAndThenGoes) {
    // The page tears the link down from the first handler: the console drops its (here: the only) reference.
    sink->onCall = [&](const std::string& call) {
        if (call == "onGrabStateChange(0)") sink.reset();
        else EXPECT_FALSE(destroyed) << call;
        return S_OK;
    };
    Send(sink.get(), 2, UI4(0)), Send(sink.get(), 4, Bool(true)), Send(sink.get(), 6);
    LogTail log;
    ASSERT_TRUE(DeliverOne());
    EXPECT_EQ((Messages{"onGrabStateChange(0)", "onFullscreenChange(true)", "onVirtualDevicesChange()"}), journal);
    EXPECT_TRUE(destroyed);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(log.messages().empty()) << "nothing was left undelivered";
}

TEST_F(Dispatcher, EventsDroppedUnpostedOrLeftAtDestructionAreReported) {
    LogTail log;
    EXPECT_EQ(DISP_E_BADVARTYPE, Send(sink.get(), 0, UI4(1), Typed(0x7ff, 0)));
    EXPECT_FALSE(DeliverOne()) << "nothing posted for a dropped event";
    ComPtr<RecordingSink> windowless = Make(false);
    EXPECT_EQ(E_FAIL, Send(windowless.get(), 7));
    EXPECT_EQ(1u, windowless->pending_count());
    windowless.reset();
    Send(sink.get(), 1, UI4(0), Str(L"h"), Str(L"d"), Str(L"v"), Bool(false), Str(L"r")), Send(sink.get(), 4, Bool(true));
    sink.reset();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(DeliverOne()) << "its posted messages went with the window";
    EXPECT_TRUE(journal.empty());
    EXPECT_EQ((Messages{"Failed to copy argument 0 of VM control event 0, event dropped: " + Dec(DISP_E_BADVARTYPE),
                        "PostMessage failed: 1400",
                        "VM control event dispatcher is being destroyed with 1 undelivered events:", " event dispid=7",
                        "VM control event dispatcher is being destroyed with 2 undelivered events:", " event dispid=1",
                        " event dispid=4"}),
              log.messages());
}

// Records every call (dispid, argument count); answers from a table or fails on request.
using Calls = std::vector<std::pair<DISPID, size_t>>;
class FakeConsole : public comfw::ComObject<FakeConsole, comfw::DispatchByIdOnly<IDispatch>> {
public:
    Calls calls;
    std::map<DISPID, HRESULT> failures;
    std::map<DISPID, Variant> results;

    static ComPtr<FakeConsole> Make() { ComPtr<FakeConsole> object; ComObject::Make(object); return object; }
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

// The identity of an object, for comparing (null for none).
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
    static ComPtr<NamelessMoniker> Make() { ComPtr<NamelessMoniker> object; ComObject::Make(object); return object; }
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
    ComPtr<FakeConsole> console = FakeConsole::Make(), bare = FakeConsole::Make();
    RotEntry entry(L"ZOVA_MONIKER_Case-1", console->identity()), prefix(L"ZOVA_MONIKER_", bare->identity());
    // An empty ID looks for the prefix alone.
    for (const wchar_t* id : {L"Case-1", L"", L"case-1", L"CASE-1", L"Case-1 ", L"Case-"}) {
        const std::string name = "ZOVA_MONIKER_" + Narrow(id);
        SCOPED_TRACE(name);
        IUnknown* expected = name == "ZOVA_MONIKER_Case-1" ? console.get() : *id ? nullptr : bare.get();
        LogTail log;
        ComPtr<IDispatch> bound;
        EXPECT_EQ(expected ? S_OK : E_FAIL, zova::AttachToConsoleProcess(id, bound));
        EXPECT_EQ(Identity(expected), Identity(bound.get()));
        EXPECT_EQ((expected ? Messages{"Binding to [" + name + "]", "BindToObject succeeded"} : Messages{"Moniker not found"}),
                  log.messages());
    }
    // Of two entries with one name, the first registered is bound.
    ComPtr<FakeConsole> later = FakeConsole::Make();
    RotEntry twin(L"ZOVA_MONIKER_Case-1", later->identity());
    ComPtr<IDispatch> bound;
    EXPECT_EQ(S_OK, zova::AttachToConsoleProcess(L"Case-1", bound));
    EXPECT_EQ(Identity(console.get()), Identity(bound.get()));

    // An entry whose name cannot be read is reported and passed over, wherever the table lists it.
    ComPtr<NamelessMoniker> nameless = NamelessMoniker::Make();
    ComPtr<IRunningObjectTable> rot;
    ASSERT_EQ(S_OK, GetRunningObjectTable(0, rot.put()));
    DWORD cookie = 0;
    ASSERT_TRUE(SUCCEEDED(rot->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, bare->identity(), nameless.get(), &cookie)));
    const std::string nameFailure = "GetDisplayName failed: " + Dec(NamelessMoniker::kNameFailure);
    LogTail log;
    EXPECT_EQ(S_OK, zova::AttachToConsoleProcess(L"Case-1", bound));
    EXPECT_EQ(Identity(console.get()), Identity(bound.get()));
    EXPECT_EQ(E_FAIL, zova::AttachToConsoleProcess(L"Absent", bound));
    EXPECT_EQ(nullptr, bound.get());
    const Messages lines = log.messages();
    EXPECT_EQ(nameFailure, lines.at(lines.size() - 2)) << "every entry is read when none has the name";
    EXPECT_EQ("Moniker not found", lines.back());
    EXPECT_EQ(S_OK, rot->Revoke(cookie));
}

// A popup window of the test with a client area of the given size.
struct TestWindow {
    HWND hwnd;
    TestWindow(int w, int h)
        : hwnd(CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, w, h, nullptr, nullptr, nullptr, nullptr)) {}
    ~TestWindow() { DestroyWindow(hwnd); }
};

TEST(ConsoleAttach, FailuresReleaseWhatWasMadeAndLeaveTheOutputs) {
    ComPtr<FakeConsole> process = FakeConsole::Make(), control = FakeConsole::Make(), keep = FakeConsole::Make();
    RotEntry entry(L"ZOVA_MONIKER_attach", process->identity());
    TestWindow window(300, 200);
    control->failures[ZOVA_DISPID_ADVISE] = E_INVALIDARG;
    const std::string bind = "Binding to [ZOVA_MONIKER_attach]", bound = "BindToObject succeeded";
    // A result of another type than a dispatch; a console that refuses the sink (the control made for it goes
    // as well, without Unadvise or Delete); no console of the ID.
    struct { const wchar_t* id; Variant made; HRESULT hr; Messages log; } cases[] = {
        {L"attach", Variant::I4(5), DISP_E_TYPEMISMATCH, {bind, bound, "Failed to attach control: -2147352571"}},
        {L"attach", Variant::Dispatch(control.get()), E_INVALIDARG, {bind, bound, "Advise failed: " + Dec(E_INVALIDARG)}},
        {L"attach-none", Variant(), E_FAIL, {"Moniker not found", "Failed to attach to ZOVA process: -2147467259"}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.log.back());
        process->results[ZOVA_DISPID_ATTACH_CONTROL] = std::move(c.made);
        const ULONG processRefs = process->ref_count(), controlRefs = control->ref_count();
        ComPtr<IDispatch> outProcess(keep.get()), outControl(keep.get());
        LogTail log;
        EXPECT_EQ(c.hr, zova::AttachConsoleAndControl(c.id, window.hwnd, RECT{}, nullptr, outProcess, outControl));
        EXPECT_EQ(c.log, log.messages());
        EXPECT_EQ(processRefs, process->ref_count());
        EXPECT_EQ(controlRefs, control->ref_count());
        EXPECT_TRUE(outProcess.get() == keep.get() && outControl.get() == keep.get());
    }
    EXPECT_EQ((Calls{{ZOVA_DISPID_ADVISE, 1}}), control->calls);
}

TEST(ConsoleWindow, EachWayOfNotFittingSaysWhy) {
    TestWindow parent(200, 100);
    ComPtr<FakeConsole> vm = FakeConsole::Make();
    LogTail log;
    // No window of the control: nothing to ask, nothing to say.
    const HWND gone = TestWindow(10, 10).hwnd;
    zova::ResizeVMWindow(gone, vm.get());
    zova::ResizeVMWindow(nullptr, nullptr);
    EXPECT_TRUE(vm->calls.empty());
    zova::ResizeVMWindow(parent.hwnd, nullptr);
    vm->results[ZOVA_DISPID_GET_HWND] = Variant::Bool(true);
    zova::ResizeVMWindow(parent.hwnd, vm.get());
    vm->results[ZOVA_DISPID_GET_HWND] = Variant::I4(0x7ff0);
    zova::ResizeVMWindow(parent.hwnd, vm.get());
    vm->failures[ZOVA_DISPID_GET_HWND] = RPC_E_DISCONNECTED;
    zova::ResizeVMWindow(parent.hwnd, vm.get());
    EXPECT_EQ((Messages{"ResizeVMWindow: no VM control", "Invoke failed for GetHWND: -2147352571",
                        "No window assiciated with the VM control", "Invoke failed for GetHWND: " + Dec(RPC_E_DISCONNECTED)}),
              log.messages());
}

TEST(ConsoleTeardown, UnadviseThenDeleteThenBothReferencesGoWhateverTheConsoleSays) {
    for (const bool refuse : {false, true}) {
        ComPtr<FakeConsole> processObject = FakeConsole::Make(), vmObject = FakeConsole::Make();
        if (refuse) vmObject->failures = {{ZOVA_DISPID_UNADVISE, E_UNEXPECTED}, {ZOVA_DISPID_DELETE, RPC_E_DISCONNECTED}};
        ComPtr<IDispatch> process(processObject.get()), control(vmObject.get());
        LogTail log;
        zova::TeardownVMControl(process, control);
        EXPECT_FALSE(process || control);
        EXPECT_EQ(std::make_pair(1ul, 1ul), std::make_pair(processObject->ref_count(), vmObject->ref_count()));
        EXPECT_TRUE(processObject->calls.empty());
        EXPECT_EQ((Calls{{ZOVA_DISPID_UNADVISE, 0}, {ZOVA_DISPID_DELETE, 0}}), vmObject->calls);
        const Messages refused{"Unadvise failed: " + Dec(E_UNEXPECTED),
                               "VM control Delete() failed: " + Dec(RPC_E_DISCONNECTED)};
        EXPECT_EQ(refuse ? refused : Messages{}, log.messages());
    }
}

// The launcher, with the reference console process.

TEST(ConsoleLauncher, CommandLineExecutablePathAndAMissingExecutable) {
    const std::wstring id = L"zova-ax-t-{0A1B2C3D-0000-4000-8000-00000000ABCD}";
    EXPECT_EQ(L"\"C:\\Program Files\\v z\\velmora-zova.exe\" --parent-PID " + std::to_wstring(GetCurrentProcessId()) +
                  L" --instance-ID \"" + id + L"\" --modes 1234567 --message-mode -2 --features 31",
              zova::BuildConsoleCommandLine(L"C:\\Program Files\\v z\\velmora-zova.exe", id, 1234567, -2, 31));
    // This program links the launcher, so the console is looked for beside it.
    std::wstring exe = ProgramFolder();
    EXPECT_EQ(exe + L"velmora-zova.exe", zova::GetConsoleExecutablePath());

    // A missing executable fails without waiting.
    exe += L"no-such-console.exe";
    const std::wstring cmd = L"\"" + exe + L"\" --parent-PID 1";
    LogTail log;
    ComPtr<IDispatch> process;
    EXPECT_EQ(E_FAIL, zova::LaunchAndWaitForMoniker(L"ZOVA_MONIKER_x", L"ZOVA_EVENT_x", exe, cmd, process));
    EXPECT_FALSE(process);
    EXPECT_EQ((Messages{"Startup: ZOVA_MONIKER_x, ZOVA_EVENT_x, " + Narrow(exe) + ", " + Narrow(cmd),
                        "Creating ZOVA process",
                        "Failed to create ZOVA process (" + Narrow(exe) + ", " + Narrow(cmd) + "): 2"}),
              log.messages());
}

// Starts of the reference console with a dispatcher as the sink, each under a fresh ID; the fault switches
// apply to the consoles started meanwhile.
struct ConsoleStart : Dispatcher {
    std::wstring NewId() { return id = L"zova-ax-" + std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(++n); }
    void Faults(const std::wstring& items) { SetEnvironmentVariableW(L"ZOVA_CONSOLE_FAULTS", items.c_str()); }
    ~ConsoleStart() override {
        SetEnvironmentVariableW(L"ZOVA_CONSOLE_FAULTS", nullptr);
        zova::SetConsoleWaitTimeoutMsForTesting(180000);
        if (console) TerminateProcess(console, 9), CloseHandle(console);  // if the test left it running
    }
    // A result of the console's VM control (test hooks: 1002 advised, 1004 process ID).
    Variant Ask(IDispatch* vmControl, DISPID dispid, VARTYPE vt) {
        Variant value;
        EXPECT_EQ(S_OK, zova::CallConsoleFor(vmControl, dispid, vt, value)) << dispid;
        return value;
    }
    // The console window's rectangle in the client coordinates of `parent`.
    std::vector<LONG> Placed(IDispatch* vmControl, HWND parent) {
        const HWND window = ConsoleWindowOf(vmControl);
        EXPECT_EQ(parent, GetParent(window));
        return PlaceInParent(window);
    }
    bool EventArrives(const std::string& call) {
        journal.clear();
        return PumpUntil([&] { return !journal.empty(); }, 10000) && journal == Messages{call};
    }
    bool EndsWithin(DWORD ms) { return PumpUntil([this] { return WaitForSingleObject(console, 0) == 0; }, ms); }
    std::wstring id;
    int n = 0;
    HANDLE console = nullptr;  // the started console process
};

TEST_F(ConsoleStart, StartsFitsDeliversTearsDownAndAPersistentConsoleIsAttachedAgain) {
    Faults(L"idle-ms=2000");
    zova::SetConsoleWaitTimeoutMsForTesting(20000);
    TestWindow first(800, 600), other(320, 200);
    ComPtr<IDispatch> process, control;
    LogTail log;
    // Modes with the top bit set, as a page may pass them: the console takes
    // every value the control's command line can carry.
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
              log.messages());
    console = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, Ask(control.get(), 1004, VT_UI4).get().ulVal);
    EXPECT_EQ(VARIANT_TRUE, Ask(control.get(), 1002, VT_BOOL).get().boolVal);

    // The console's window lies in ours; a smaller control gets it refitted, quietly. Its events reach the
    // sink from the message loop.
    SetWindowPos(first.hwnd, nullptr, 0, 0, 640, 480, SWP_NOMOVE | SWP_NOZORDER);
    LogTail quiet;
    zova::ResizeVMWindow(first.hwnd, control.get());
    EXPECT_EQ((std::vector<LONG>{0, 0, 640, 480}), Placed(control.get(), first.hwnd));
    EXPECT_EQ(S_OK, zova::CallConsole(control.get(), ZOVA_DISPID_SET_SCREEN_SIZE, I4(1280), I4(1024)));
    EXPECT_TRUE(EventArrives("onScreenSizeChange(1280,1024)"));

    // A reference of the test's own shows what the teardown did to the console's control.
    ComPtr<IDispatch> spy = control;
    zova::TeardownVMControl(process, control);
    EXPECT_FALSE(process || control);
    EXPECT_TRUE(quiet.messages().empty());
    EXPECT_EQ(VARIANT_FALSE, Ask(spy.get(), 1002, VT_BOOL).get().boolVal);
    spy.reset();
    EXPECT_FALSE(EndsWithin(300)) << "a persistent console outlives its control";

    // Attached again, in another window at another place.
    LogTail attachLog;
    ASSERT_EQ(S_OK, zova::AttachConsoleAndControl(id, other.hwnd, RECT{5, 6, 305, 196}, sink.get(), process, control));
    EXPECT_EQ(bound, attachLog.messages());
    EXPECT_EQ((std::vector<LONG>{5, 6, 305, 196}), Placed(control.get(), other.hwnd));
    EXPECT_EQ(S_OK, zova::CallConsole(control.get(), ZOVA_DISPID_GRAB_INPUT));
    EXPECT_TRUE(EventArrives("onGrabStateChange(1)"));
    zova::TeardownVMControl(process, control);
    EXPECT_TRUE(EndsWithin(15000)) << "ends at its idle limit";
}

TEST_F(ConsoleStart, FailuresSayWhereTheStartStopped) {
    const std::string notStarted = "Failed to start zova process: " + Dec(E_FAIL);
    // With `quit`, a WM_QUIT arrives during the wait; `last`: the log's last messages.
    const struct { const wchar_t* faults; DWORD waitMs; bool quit; HRESULT hr; Messages last; } cases[] = {
        {L"no-ready", 700, false, E_FAIL, {"Unexpected wait result: 258", "Wait for moniker result failed", notStarted}},
        {L"no-ready", 20000, true, E_FAIL, {"Got WM_QUIT", "Wait for moniker result failed", notStarted}},
        // A console that refuses its fault list ends at once, before it is
        // ready: the start ends with it, not after the full wait.
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
        Faults(c.faults + std::wstring(L";idle-ms=1500"));  // and it ends by itself
        zova::SetConsoleWaitTimeoutMsForTesting(c.waitMs);
        const auto quit = [](HWND, UINT, UINT_PTR t, DWORD) { KillTimer(nullptr, t), PostQuitMessage(7); };
        const UINT_PTR timer = c.quit ? SetTimer(nullptr, 0, 200, quit) : 0;
        LogTail log;
        ComPtr<IDispatch> process, control;
        EXPECT_EQ(c.hr, zova::StartConsoleAndCreateControl(NewId(), 0, 0, 0, window.hwnd, RECT{0, 0, 200, 100},
                                                           sink.get(), process, control));
        KillTimer(nullptr, timer);
        EXPECT_FALSE(process || control);
        const Messages all = log.messages();
        EXPECT_EQ(c.last, Messages(all.end() - std::min(c.last.size(), all.size()), all.end()));
        EXPECT_EQ(1u, sink->ref_count()) << "the sink was never handed to the console";
        MSG msg;
        EXPECT_EQ(c.quit, PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE) << "posted again";
        if (c.quit) { EXPECT_EQ(7u, msg.wParam); }
    }
}

}  // namespace
