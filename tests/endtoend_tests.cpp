// The control in-process with its real console link: consoles are the
// reference console process started beside this program, so every call to the
// console crosses the process boundary. Covers the instance ID, the console
// window inside the control's window and its fitting, teardown by shutdown
// and by the window's end, the sink cut off at teardown, and the control's
// COM surface (safety, error and class information, interface table,
// property bag, dispids by name).
#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>
#include <ocidl.h>
#include <olectl.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "axplugin/zovaEmbeddedCtl.h"
#include "comfw/bstr.h"
#include "comfw/dispatch.h"
#include "comfw/oleControlInfo.h"
#include "tests/consoleTestSupport.h"
#include "tests/ownLog.h"
#include "win32/plugin/consoleCall.h"
#include "win32/plugin/consoleDispids.h"

using comfw::Bstr;
using comfw::ComPtr;
using comfw::Variant;
using zova::ZOVAEmbeddedCtl;
using zova::test::LogMark;
using zova::test::PumpUntil;
namespace console = zova::console;

namespace {

// Test hooks of the reference console's VM control.
constexpr DISPID kTestRaiseEvent = 1001;
constexpr DISPID kTestIsAdvised = 1002;
constexpr DISPID kTestProcessId = 1004;

// Forwards every call to the console's VM control and records its dispid, so
// that a test sees the order of the control's calls while the real console
// answers them.
class RecordingDispatch final : public comfw::ComObject<RecordingDispatch, comfw::DispatchByIdOnly<IDispatch>> {
public:
    RecordingDispatch(IDispatch* inner, std::vector<DISPID>& calls) noexcept : inner_(inner), calls_(calls) {}
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* info, UINT* arg) noexcept override {
        try {
            calls_.push_back(id);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        return inner_->Invoke(id, riid, lcid, flags, params, result, info, arg);
    }

private:
    ComPtr<IDispatch> inner_;
    std::vector<DISPID>& calls_;
};

// The shipping console link, with the VM control it hands the control wrapped
// in a RecordingDispatch.
class RecordingLink final : public zova::ConsoleLink {
public:
    std::vector<DISPID> vmCalls;
    ComPtr<IDispatch> realVm;  // the console's own VM control, for test hooks

    bool keepSink = false;     // hold on to the event sink like a console slow to let go
    ComPtr<IDispatch> sink;    // the sink kept

    HRESULT CreateEventSink(ZOVAEmbeddedCtl& owner, ComPtr<IDispatch>& out) noexcept override {
        const HRESULT hr = real_.CreateEventSink(owner, out);
        if (SUCCEEDED(hr) && keepSink) sink = out;
        return hr;
    }
    HRESULT StartConsoleAndCreateControl(const std::wstring& id, UINT modes, int messageMode, uint32_t features,
                                         HWND parent, const RECT& rect, IDispatch* sink, ComPtr<IDispatch>& process,
                                         ComPtr<IDispatch>& vm) noexcept override {
        return Wrap(real_.StartConsoleAndCreateControl(id, modes, messageMode, features, parent, rect, sink, process,
                                                       vm),
                    vm);
    }
    HRESULT AttachConsoleAndControl(const std::wstring& id, HWND window, const RECT& rect, IDispatch* sink,
                                    ComPtr<IDispatch>& process, ComPtr<IDispatch>& vm) noexcept override {
        return Wrap(real_.AttachConsoleAndControl(id, window, rect, sink, process, vm), vm);
    }
    void TeardownVMControl(ComPtr<IDispatch>& process, ComPtr<IDispatch>& vm) noexcept override {
        real_.TeardownVMControl(process, vm);
    }
    void ResizeVMWindow(HWND window, IDispatch* vm) noexcept override { real_.ResizeVMWindow(window, vm); }

    // The VM control calls after the mark.
    size_t Mark() const { return vmCalls.size(); }
    std::vector<DISPID> CallsSince(size_t mark) const {
        return std::vector<DISPID>(vmCalls.begin() + static_cast<std::ptrdiff_t>(mark), vmCalls.end());
    }

private:
    HRESULT Wrap(HRESULT hr, ComPtr<IDispatch>& vm) noexcept {
        if (FAILED(hr)) return hr;
        realVm = vm;
        ComPtr<RecordingDispatch> recorder;
        const HRESULT made = RecordingDispatch::Make(recorder, vm.get(), vmCalls);
        if (FAILED(made)) return made;
        vm = ComPtr<IDispatch>(recorder.get());
        return hr;
    }
    zova::ConsoleLink& real_ = zova::ProcessConsoleLink();
};

// A page's event sink: records dispids and lets a test look around while an
// event is being fired.
class PageSink final : public comfw::ComObject<PageSink, comfw::DispatchByIdOnly<IDispatch>> {
public:
    std::vector<DISPID> ids;
    std::vector<std::vector<LONG>> numbers;  // the I4/UI4 arguments, in parameter order
    std::function<void(DISPID)> during;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override {
        if (ppv && ::IsEqualIID(riid, DIID__IVelmoraEmbeddedRemoteConsoleEvents)) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        return ComObject::QueryInterface(riid, ppv);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                        UINT*) noexcept override {
        ids.push_back(id);
        std::vector<LONG> n;
        for (UINT i = params->cArgs; i-- > 0;) {
            const VARIANT& v = params->rgvarg[i];
            if (v.vt == VT_I4 || v.vt == VT_UI4) n.push_back(v.lVal);
        }
        numbers.push_back(n);
        if (during) during(id);
        return S_OK;
    }
};

// A control in a top-level window of this thread, its window 320 x 200 at the
// host's client origin, with a page sink connected.
struct HostedControl {
    RecordingLink link;
    ComPtr<ZOVAEmbeddedCtl> control;
    ComPtr<PageSink> page;
    HWND host = nullptr;
    HWND window = nullptr;

    bool Create() {
        if (FAILED(ZOVAEmbeddedCtl::Make(control))) return false;
        control->set_console_link(link);
        host = ::CreateWindowExW(0, L"STATIC", L"end-to-end host", WS_OVERLAPPEDWINDOW, 0, 0, 800, 600, nullptr,
                                 nullptr, nullptr, nullptr);
        RECT r{0, 0, 320, 200};
        window = control->CreateWindowFor(host, &r, nullptr, ZOVAEmbeddedCtl::kWindowStyle, 0);
        if (!window || FAILED(PageSink::Make(page))) return false;
        ComPtr<IConnectionPoint> point;
        if (FAILED(control->FindConnectionPoint(DIID__IVelmoraEmbeddedRemoteConsoleEvents, point.put()))) return false;
        DWORD cookie = 0;
        return SUCCEEDED(point->Advise(static_cast<IDispatch*>(page.get()), &cookie));
    }
    HRESULT Startup(const wchar_t* config, Bstr& id) {
        Bstr text;
        Bstr::FromText(config, text);
        return control->startup(2, ZOVA_EVENT_MESSAGES, text.get(), id.put());
    }
    ~HostedControl() {
        control.reset();
        if (host) ::DestroyWindow(host);
    }
};

// The console window the VM control names, or null.
HWND ConsoleWindow(IDispatch* vm) {
    Variant handle;
    if (FAILED(zova::CallConsoleFor(vm, console::kGetHWND, VT_I4, handle))) return nullptr;
    return reinterpret_cast<HWND>(static_cast<LONG_PTR>(handle.get().lVal));
}

// A window's rectangle in its parent's client coordinates.
RECT PlaceInParent(HWND window) {
    RECT r{};
    ::GetWindowRect(window, &r);
    ::MapWindowPoints(nullptr, ::GetParent(window), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::string Text(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + " " + std::to_string(r.right - r.left) + "x" +
           std::to_string(r.bottom - r.top);
}

// The console's process, opened through its test hook.
HANDLE OpenConsoleProcess(IDispatch* realVm) {
    Variant pid;
    if (FAILED(zova::CallConsoleFor(realVm, kTestProcessId, VT_UI4, pid))) return nullptr;
    return ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid.get().ulVal);
}

bool IsAdvised(IDispatch* realVm) {
    Variant advised;
    return SUCCEEDED(zova::CallConsoleFor(realVm, kTestIsAdvised, VT_BOOL, advised)) &&
           advised.get().boolVal == VARIANT_TRUE;
}

std::vector<HWND> ChildWindows(HWND parent) {
    std::vector<HWND> children;
    ::EnumChildWindows(
        parent,
        [](HWND child, LPARAM all) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(all)->push_back(child);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&children));
    return children;
}

// Failure reports of the teardown in the log since the mark.
std::vector<std::string> TeardownFailures(const LogMark& mark) {
    std::vector<std::string> failures;
    for (const std::string& m : mark.NewMessages()) {
        if (m.find("Unadvise failed") == 0 || m.find("VM control Delete() failed") == 0) failures.push_back(m);
    }
    return failures;
}

}  // namespace

// ------------------------------------------------------------------
// One started console shared by the suite: startup, geometry, dispids.

class StartedControl : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        hosted = new HostedControl;
        ASSERT_TRUE(hosted->Create());
        ASSERT_EQ(S_OK, hosted->Startup(nullptr, id));
        process = OpenConsoleProcess(hosted->link.realVm.get());
    }
    static void TearDownTestSuite() {
        if (hosted && hosted->control) hosted->control->shutdown();
        delete hosted;
        hosted = nullptr;
        id.reset();
        if (process) {
            // A console that was not persistent ends once it is deleted.
            EXPECT_TRUE(zova::test::WaitForExit(process, 10000));
            ::CloseHandle(process);
            process = nullptr;
        }
    }
    void SetUp() override {
        ASSERT_NE(nullptr, hosted);
        ASSERT_NE(nullptr, hosted->control->vm_control());
    }

    static HostedControl* hosted;
    static Bstr id;
    static HANDLE process;
};
HostedControl* StartedControl::hosted = nullptr;
Bstr StartedControl::id;
HANDLE StartedControl::process = nullptr;

TEST_F(StartedControl, StartupGivesAnInstanceIdAndEmbedsTheConsoleWindow) {
    const std::wstring text = id.str();
    ASSERT_EQ(48u, text.size());
    EXPECT_EQ(L"zova-ax-t-{", text.substr(0, 11));
    EXPECT_EQ(L'}', text.back());
    GUID parsed{};
    EXPECT_EQ(S_OK, ::CLSIDFromString(text.substr(10).c_str(), &parsed)) << "the tail is a GUID in registry form";
    for (wchar_t c : text.substr(10)) EXPECT_FALSE(c >= L'a' && c <= L'f') << "upper-case hexadecimal digits";
    EXPECT_FALSE(hosted->control->persistent());
    ASSERT_NE(nullptr, process);

    // The console made its window as the one child of the control's window,
    // from its own process, covering the client area.
    HWND consoleWindow = ConsoleWindow(hosted->control->vm_control());
    ASSERT_TRUE(::IsWindow(consoleWindow));
    EXPECT_EQ(hosted->window, ::GetParent(consoleWindow));
    EXPECT_EQ(std::vector<HWND>{consoleWindow}, ChildWindows(hosted->window));
    DWORD owner = 0;
    ::GetWindowThreadProcessId(consoleWindow, &owner);
    EXPECT_NE(::GetCurrentProcessId(), owner);
    EXPECT_EQ(::GetProcessId(process), owner);
    EXPECT_EQ("0,0 320x200", Text(PlaceInParent(consoleWindow)));
}

TEST_F(StartedControl, ResizingTheControlRefitsTheConsoleWindow) {
    HWND consoleWindow = ConsoleWindow(hosted->control->vm_control());
    ASSERT_TRUE(::IsWindow(consoleWindow));
    // From the control's parent, as a container resizes it; WM_SIZE refits.
    ASSERT_TRUE(::MoveWindow(hosted->window, 20, 10, 640, 480, TRUE));
    EXPECT_EQ("0,0 640x480", Text(PlaceInParent(consoleWindow)));
    ASSERT_TRUE(::MoveWindow(hosted->window, 0, 0, 300, 150, TRUE));
    EXPECT_EQ("0,0 300x150", Text(PlaceInParent(consoleWindow)));
}

TEST_F(StartedControl, AScreenSizeEventRefitsTheConsoleWindowBeforeThePageHearsIt) {
    HWND consoleWindow = ConsoleWindow(hosted->control->vm_control());
    ASSERT_TRUE(::MoveWindow(hosted->window, 0, 0, 400, 250, TRUE));
    // Knock the console window out of place behind the control's back.
    ASSERT_TRUE(::MoveWindow(consoleWindow, 7, 9, 50, 40, TRUE));
    ASSERT_EQ("7,9 50x40", Text(PlaceInParent(consoleWindow)));

    PageSink& page = *hosted->page;
    const size_t before = page.ids.size();
    std::string placeWhenFired;
    page.during = [&](DISPID id) {
        if (id == 4) placeWhenFired = Text(PlaceInParent(consoleWindow));
    };
    ASSERT_EQ(S_OK, hosted->control->setScreenSize(1280, 720));
    EXPECT_TRUE(PumpUntil([&] { return page.ids.size() > before; }, 5000));
    page.during = nullptr;
    ASSERT_EQ(std::vector<DISPID>{4}, std::vector<DISPID>(page.ids.begin() + before, page.ids.end()));
    EXPECT_EQ((std::vector<LONG>{1280, 720}), page.numbers.back());  // the guest's size goes to the page
    EXPECT_EQ("0,0 400x250", placeWhenFired);                        // the window follows the control
}

TEST_F(StartedControl, MethodsAreReachedByNameThroughTheirDispids) {
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(S_OK, hosted->control->QueryInterface(IID_IDispatch, dispatch.put_void()));
    const std::map<std::wstring, DISPID> expected = {
        {L"getVersion", 101},    {L"isInProtectedMode", 102}, {L"isReadyToStart", 103},  {L"startup", 104},
        {L"shutdown", 106},      {L"setScreenSize", 110},     {L"screenWidth", 111},     {L"getConnectionState", 117},
        {L"disconnectDevice", 125}, {L"ZOVA_Mode", 126},      {L"ZOVA_USBDeviceSpeed", 135}};
    for (const auto& [name, dispid] : expected) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name.c_str())};
        DISPID found = -1;
        EXPECT_EQ(S_OK, dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &found));
        EXPECT_EQ(dispid, found) << std::string(name.begin(), name.end());
    }
    LPOLESTR unknown[] = {const_cast<LPOLESTR>(L"SetScreenSizeNow")};
    DISPID none = 0;
    EXPECT_EQ(DISP_E_UNKNOWNNAME, dispatch->GetIDsOfNames(IID_NULL, unknown, 1, LOCALE_USER_DEFAULT, &none));

    // Dispid 101 is getVersion's slot.
    DISPPARAMS noArgs{nullptr, nullptr, 0, 0};
    Variant version;
    ASSERT_EQ(S_OK, dispatch->Invoke(101, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &noArgs, version.ptr(),
                                     nullptr, nullptr));
    ASSERT_EQ(VT_BSTR, version.vt());
    EXPECT_EQ(0u, std::wstring(version.get().bstrVal).find(L"5.1.0."));

    // Dispid 110 is setScreenSize, and reaches the console with both numbers.
    VARIANTARG lastFirst[2];
    lastFirst[0].vt = VT_I4;
    lastFirst[0].lVal = 600;
    lastFirst[1].vt = VT_I4;
    lastFirst[1].lVal = 1000;
    DISPPARAMS sizeArgs{lastFirst, nullptr, 2, 0};
    const size_t mark = hosted->link.Mark();
    ASSERT_EQ(S_OK, dispatch->Invoke(110, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &sizeArgs, nullptr, nullptr,
                                     nullptr));
    EXPECT_EQ(std::vector<DISPID>{console::kSetScreenSize}, hosted->link.CallsSince(mark));
    INT width = 0, height = 0;
    ASSERT_EQ(S_OK, hosted->control->screenWidth(&width));
    ASSERT_EQ(S_OK, hosted->control->screenHeight(&height));
    EXPECT_EQ(1000, width);
    EXPECT_EQ(600, height);
    zova::test::Pump(100);  // let the size event go by
}

// ------------------------------------------------------------------
// Teardown: each test with a console of its own.

class Teardown : public ::testing::Test {
protected:
    void TearDown() override {
        for (HANDLE p : processes) {
            // No console outlives its test: persistent ones get a short idle limit.
            EXPECT_TRUE(zova::test::WaitForExit(p, 10000));
            ::CloseHandle(p);
        }
        ::SetEnvironmentVariableW(L"ZOVA_CONSOLE_FAULTS", nullptr);
    }
    HANDLE Track(IDispatch* realVm) {
        HANDLE p = OpenConsoleProcess(realVm);
        if (p) processes.push_back(p);
        return p;
    }
    std::vector<HANDLE> processes;
};

TEST_F(Teardown, ShutdownUnadvisesThenDeletesAndANonPersistentConsoleEnds) {
    HostedControl hosted;
    ASSERT_TRUE(hosted.Create());
    Bstr id;
    ASSERT_EQ(S_OK, hosted.Startup(L"", id));
    HANDLE process = Track(hosted.link.realVm.get());
    ASSERT_NE(nullptr, process);
    EXPECT_TRUE(IsAdvised(hosted.link.realVm.get()));
    hosted.link.realVm.reset();  // the console counts live references before it ends

    LogMark mark;
    const size_t calls = hosted.link.Mark();
    ASSERT_EQ(S_OK, hosted.control->shutdown());
    EXPECT_EQ((std::vector<DISPID>{console::kUnadvise, console::kDelete}), hosted.link.CallsSince(calls));
    EXPECT_TRUE(TeardownFailures(mark).empty());
    EXPECT_EQ(nullptr, hosted.control->vm_control());
    EXPECT_EQ(nullptr, hosted.control->console_process());
    EXPECT_TRUE(ChildWindows(hosted.window).empty());
    EXPECT_TRUE(zova::test::WaitForExit(process, 5000));

    // Once idle, nothing more reaches the console, and startup works again.
    EXPECT_EQ(S_OK, hosted.control->shutdown());
    EXPECT_EQ(calls + 2, hosted.link.Mark());
    ASSERT_EQ(S_OK, hosted.Startup(L"", id));
    Track(hosted.link.realVm.get());
    hosted.link.realVm.reset();
    ASSERT_EQ(S_OK, hosted.control->shutdown());
}

TEST_F(Teardown, DestroyingTheWindowOfAPersistentStartTearsDownAndTheConsoleWaitsForAttach) {
    ::SetEnvironmentVariableW(L"ZOVA_CONSOLE_FAULTS", L"idle-ms=1500");
    Bstr id;
    ComPtr<IDispatch> firstVm;
    {
        HostedControl first;
        ASSERT_TRUE(first.Create());
        ASSERT_EQ(S_OK, first.Startup(L"persistent=true", id));
        EXPECT_EQ(L"zova-ax-p-{", id.str().substr(0, 11));
        HANDLE process = Track(first.link.realVm.get());
        ASSERT_NE(nullptr, process);
        firstVm = first.link.realVm;

        LogMark mark;
        const size_t calls = first.link.Mark();
        ASSERT_TRUE(::DestroyWindow(first.window));
        EXPECT_EQ((std::vector<DISPID>{console::kUnadvise, console::kDelete}), first.link.CallsSince(calls));
        EXPECT_TRUE(TeardownFailures(mark).empty());
        EXPECT_EQ(nullptr, first.control->vm_control());
        EXPECT_TRUE(first.control->persistent());
        // The console let this view go: no sink, and its operations refuse.
        EXPECT_FALSE(IsAdvised(firstVm.get()));
        EXPECT_EQ(nullptr, ConsoleWindow(firstVm.get()));

        // Destroying the control itself calls nothing more on the console.
        first.control.reset();
        EXPECT_EQ(calls + 2, first.link.Mark());
        EXPECT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(process, 0));
    }
    firstVm.reset();

    // Another control takes the console over by its ID, in its own window.
    HostedControl second;
    ASSERT_TRUE(second.Create());
    ASSERT_EQ(S_OK, second.control->attach(id.get()));
    EXPECT_TRUE(second.control->persistent());
    HWND consoleWindow = ConsoleWindow(second.control->vm_control());
    ASSERT_TRUE(::IsWindow(consoleWindow));
    EXPECT_EQ(second.window, ::GetParent(consoleWindow));
    EXPECT_EQ("0,0 320x200", Text(PlaceInParent(consoleWindow)));
    EXPECT_TRUE(IsAdvised(second.link.realVm.get()));
    EXPECT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(processes[0], 0));

    const size_t calls = second.link.Mark();
    ASSERT_EQ(S_OK, second.control->shutdown());
    EXPECT_EQ((std::vector<DISPID>{console::kUnadvise, console::kDelete}), second.link.CallsSince(calls));
    EXPECT_FALSE(second.control->persistent());
    second.link.realVm.reset();
    // With nobody attached the console ends at its idle limit (TearDown waits).
}

TEST_F(Teardown, AnEventQueuedAtShutdownNeverReachesThePage) {
    HostedControl hosted;
    ASSERT_TRUE(hosted.Create());
    Bstr id;
    ASSERT_EQ(S_OK, hosted.Startup(L"", id));
    Track(hosted.link.realVm.get());
    PageSink& page = *hosted.page;

    // The hook delivers like any console event: grab state 1 is page event 3.
    SAFEARRAY* one = ::SafeArrayCreateVector(VT_VARIANT, 0, 1);
    ASSERT_NE(nullptr, one);
    LONG index = 0;
    Variant grabbed = Variant::UI4(1);
    ASSERT_EQ(S_OK, ::SafeArrayPutElement(one, &index, grabbed.ptr()));
    Variant args;
    args.put()->vt = VT_ARRAY | VT_VARIANT;
    args.ptr()->parray = one;
    const Variant event = Variant::I4(console::kOnGrabStateChange);
    ASSERT_EQ(S_OK, zova::CallConsole(hosted.link.realVm.get(), kTestRaiseEvent, event, args));
    ASSERT_TRUE(PumpUntil([&] { return !page.ids.empty(); }, 5000));
    EXPECT_EQ(std::vector<DISPID>{3}, page.ids);

    // The same event raised right before shutdown, with no pumping between.
    ASSERT_EQ(S_OK, zova::CallConsole(hosted.link.realVm.get(), kTestRaiseEvent, event, args));
    hosted.link.realVm.reset();
    ASSERT_EQ(S_OK, hosted.control->shutdown());
    zova::test::Pump(400);
    EXPECT_EQ(std::vector<DISPID>{3}, page.ids);
}

TEST_F(Teardown, AnEventTheSinkHoldsAtShutdownIsDroppedEvenIfTheSinkLivesOn) {
    HostedControl hosted;
    hosted.link.keepSink = true;
    ASSERT_TRUE(hosted.Create());
    Bstr id;
    ASSERT_EQ(S_OK, hosted.Startup(L"", id));
    Track(hosted.link.realVm.get());
    hosted.link.realVm.reset();
    ASSERT_TRUE(hosted.link.sink);

    // An event that reached the sink before shutdown and waits in its queue,
    // from a console that lets go of the sink late: it is decoded and
    // dropped, never fired at the page.
    VARIANTARG grabbed;
    grabbed.vt = VT_UI4;
    grabbed.ulVal = 1;
    DISPPARAMS params{&grabbed, nullptr, 1, 0};
    ASSERT_EQ(S_OK, hosted.link.sink->Invoke(console::kOnGrabStateChange, IID_NULL, LOCALE_USER_DEFAULT,
                                             DISPATCH_METHOD, &params, nullptr, nullptr, nullptr));
    LogMark mark;
    ASSERT_EQ(S_OK, hosted.control->shutdown());
    zova::test::Pump(200);
    EXPECT_TRUE(hosted.page->ids.empty());
    EXPECT_TRUE(mark.Saw("Dropping onGrabStateChange: the control has let its console go"));

    // Nor does one that arrives later still.
    ASSERT_EQ(S_OK, hosted.link.sink->Invoke(console::kOnGrabStateChange, IID_NULL, LOCALE_USER_DEFAULT,
                                             DISPATCH_METHOD, &params, nullptr, nullptr, nullptr));
    zova::test::Pump(100);
    EXPECT_TRUE(hosted.page->ids.empty());
}

// ------------------------------------------------------------------
// The control's COM surface, without a console.

class Surface : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, ZOVAEmbeddedCtl::Make(control)); }
    template <class I>
    ComPtr<I> As() {
        ComPtr<I> out;
        control->QueryInterface(__uuidof(I), out.put_void());
        return out;
    }
    ComPtr<ZOVAEmbeddedCtl> control;
};

TEST_F(Surface, ObjectSafetyRecordsOptionsForInterfacesTheControlHas) {
    ComPtr<IObjectSafety> safety = As<IObjectSafety>();
    ASSERT_TRUE(safety);
    DWORD supported = 9, enabled = 9;
    ASSERT_EQ(S_OK, safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled));
    EXPECT_EQ(3u, supported);
    EXPECT_EQ(0u, enabled);

    EXPECT_EQ(S_OK, safety->SetInterfaceSafetyOptions(IID_IDispatch, 3, 3));
    ASSERT_EQ(S_OK, safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled));
    EXPECT_EQ(3u, enabled);
    // Only the masked bits change.
    EXPECT_EQ(S_OK, safety->SetInterfaceSafetyOptions(IID_IPersistPropertyBag, 2, 0));
    ASSERT_EQ(S_OK, safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled));
    EXPECT_EQ(1u, enabled);

    EXPECT_EQ(E_FAIL, safety->SetInterfaceSafetyOptions(IID_IDispatch, 4, 4));
    EXPECT_EQ(E_FAIL, safety->SetInterfaceSafetyOptions(IID_IDispatch, 7, 3));
    EXPECT_EQ(E_NOINTERFACE, safety->SetInterfaceSafetyOptions(IID_IPersistFile, 3, 3));
    EXPECT_EQ(E_NOINTERFACE, safety->GetInterfaceSafetyOptions(IID_IPersistFile, &supported, &enabled));
    EXPECT_EQ(0u, supported);
    EXPECT_EQ(0u, enabled);
    EXPECT_EQ(E_POINTER, safety->GetInterfaceSafetyOptions(IID_IDispatch, nullptr, &enabled));
}

TEST_F(Surface, ErrorInfoAndClassInformation) {
    ComPtr<ISupportErrorInfo> errors = As<ISupportErrorInfo>();
    ASSERT_TRUE(errors);
    EXPECT_EQ(S_OK, errors->InterfaceSupportsErrorInfo(IID_IVelmoraEmbeddedRemoteConsole));
    EXPECT_EQ(S_FALSE, errors->InterfaceSupportsErrorInfo(IID_IDispatch));
    EXPECT_EQ(S_FALSE, errors->InterfaceSupportsErrorInfo(IID_IOleObject));

    ComPtr<IProvideClassInfo2> info = As<IProvideClassInfo2>();
    ASSERT_TRUE(info);
    GUID source{};
    ASSERT_EQ(S_OK, info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source));
    EXPECT_TRUE(::IsEqualGUID(DIID__IVelmoraEmbeddedRemoteConsoleEvents, source));

    // The coclass: default interface and default source, library 5.1.
    ComPtr<ITypeInfo> coclass;
    ASSERT_EQ(S_OK, info->GetClassInfo(coclass.put()));
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, coclass->GetTypeAttr(&attr));
    EXPECT_EQ(TKIND_COCLASS, attr->typekind);
    EXPECT_TRUE(::IsEqualGUID(CLSID_VelmoraEmbeddedRemoteConsole, attr->guid));
    const WORD implemented = attr->cImplTypes;
    coclass->ReleaseTypeAttr(attr);
    GUID defaultInterface = GUID_NULL, defaultSource = GUID_NULL;
    for (UINT i = 0; i < implemented; ++i) {
        INT flags = 0;
        HREFTYPE ref = 0;
        ComPtr<ITypeInfo> implementedInfo;
        if (FAILED(coclass->GetImplTypeFlags(i, &flags)) || FAILED(coclass->GetRefTypeOfImplType(i, &ref)) ||
            FAILED(coclass->GetRefTypeInfo(ref, implementedInfo.put())))
            continue;
        TYPEATTR* a = nullptr;
        implementedInfo->GetTypeAttr(&a);
        if (flags == IMPLTYPEFLAG_FDEFAULT) defaultInterface = a->guid;
        if (flags == (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE)) defaultSource = a->guid;
        implementedInfo->ReleaseTypeAttr(a);
    }
    EXPECT_TRUE(::IsEqualGUID(IID_IVelmoraEmbeddedRemoteConsole, defaultInterface));
    EXPECT_TRUE(::IsEqualGUID(DIID__IVelmoraEmbeddedRemoteConsoleEvents, defaultSource));
    ComPtr<ITypeLib> library;
    UINT index = 0;
    ASSERT_EQ(S_OK, coclass->GetContainingTypeLib(library.put(), &index));
    TLIBATTR* libAttr = nullptr;
    ASSERT_EQ(S_OK, library->GetLibAttr(&libAttr));
    EXPECT_EQ(5, libAttr->wMajorVerNum);
    EXPECT_EQ(1, libAttr->wMinorVerNum);
    library->ReleaseTLibAttr(libAttr);
}

TEST_F(Surface, EveryInterfaceOfTheTableAnswersWithOneIdentity) {
    const IID* table[] = {&IID_IVelmoraEmbeddedRemoteConsole,
                          &IID_IDispatch,
                          &IID_IViewObjectEx,
                          &IID_IViewObject2,
                          &IID_IViewObject,
                          &IID_IOleInPlaceObjectWindowless,
                          &IID_IOleInPlaceObject,
                          &IID_IOleWindow,
                          &IID_IOleInPlaceActiveObject,
                          &IID_IOleControl,
                          &IID_IOleObject,
                          &IID_IPersistStreamInit,
                          &IID_IPersist,
                          &IID_ISupportErrorInfo,
                          &IID_ISpecifyPropertyPages,
                          &IID_IQuickActivate,
                          &IID_IPersistStorage,
                          &IID_IDataObject,
                          &IID_IProvideClassInfo,
                          &IID_IProvideClassInfo2,
                          &IID_IConnectionPointContainer,
                          &IID_IObjectSafety,
                          &IID_IPersistPropertyBag};
    ComPtr<IUnknown> identity;
    ASSERT_EQ(S_OK, control->QueryInterface(IID_IUnknown, identity.put_void()));
    for (size_t i = 0; i < sizeof(table) / sizeof(table[0]); ++i) {
        ComPtr<IUnknown> answer, back;
        ASSERT_EQ(S_OK, control->QueryInterface(*table[i], answer.put_void())) << "table entry " << i;
        ASSERT_EQ(S_OK, answer->QueryInterface(IID_IUnknown, back.put_void())) << "table entry " << i;
        EXPECT_EQ(identity.get(), back.get()) << "table entry " << i;
        // Each answer is itself a way back to every other interface.
        ComPtr<IUnknown> other;
        EXPECT_EQ(S_OK, answer->QueryInterface(*table[(i + 7) % (sizeof(table) / sizeof(table[0]))],
                                               other.put_void()));
    }
    for (const IID* missing : {&IID_IPersistFile, &IID_IOleInPlaceSite, &IID_IRunnableObject, &IID_IPointerInactive}) {
        void* nothing = reinterpret_cast<void*>(1);
        EXPECT_EQ(E_NOINTERFACE, control->QueryInterface(*missing, &nothing));
        EXPECT_EQ(nullptr, nothing);
    }
}

namespace {

// A page's params as a property bag: records what the control asks for and
// answers from text converted to the asked type, as a browser does.
class ParamBag final : public comfw::ComObject<ParamBag, IPropertyBag> {
public:
    std::map<std::wstring, std::wstring> params;
    std::vector<std::pair<std::wstring, VARTYPE>> reads, writes;
    std::map<std::wstring, ULONG> written;

    STDMETHODIMP Read(LPCOLESTR name, VARIANT* value, IErrorLog*) noexcept override {
        const VARTYPE wanted = value->vt;
        reads.emplace_back(name, wanted);
        auto found = params.find(name);
        if (found == params.end()) return E_INVALIDARG;
        Variant text = Variant::OwnBstr(::SysAllocString(found->second.c_str()));
        if (wanted == VT_EMPTY || wanted == VT_BSTR) return ::VariantCopy(value, text.ptr());
        return ::VariantChangeType(value, text.ptr(), 0, wanted);
    }
    STDMETHODIMP Write(LPCOLESTR name, VARIANT* value) noexcept override {
        writes.emplace_back(name, value->vt);
        if (value->vt == VT_UI4) written[name] = value->ulVal;
        return S_OK;
    }
};

}  // namespace

// What the control reports about params it could not take.
class ErrorLog final : public comfw::ComObject<ErrorLog, IErrorLog> {
public:
    std::vector<std::pair<std::wstring, HRESULT>> errors;
    STDMETHODIMP AddError(LPCOLESTR name, EXCEPINFO* info) noexcept override {
        errors.emplace_back(name, info ? info->scode : S_OK);
        return S_OK;
    }
};

TEST_F(Surface, ThePropertyBagLoadsOnlyTheExtentAsUnsignedNumbers) {
    ComPtr<IPersistPropertyBag> persist = As<IPersistPropertyBag>();
    ASSERT_TRUE(persist);
    ComPtr<ParamBag> bag;
    ASSERT_EQ(S_OK, ParamBag::Make(bag));
    bag->params = {{L"_cx", L"8467"},
                   {L"_cy", L"5292"},
                   {L"advancedConfiguration", L"persistent=true"},
                   {L"ZOVA_Mode", L"not a number"},
                   {L"width", L"12"}};
    ASSERT_EQ(S_OK, persist->InitNew());
    ASSERT_EQ(S_OK, persist->Load(bag.get(), nullptr));
    std::vector<std::wstring> asked;
    for (const auto& read : bag->reads) asked.push_back(read.first);
    EXPECT_EQ((std::vector<std::wstring>{L"_cx", L"_cy"}), asked);

    SIZEL extent{};
    ASSERT_EQ(S_OK, As<IOleObject>()->GetExtent(DVASPECT_CONTENT, &extent));
    EXPECT_EQ(8467, extent.cx);
    EXPECT_EQ(5292, extent.cy);
    EXPECT_FALSE(control->persistent());  // a param is never configuration

    // Values an unsigned 32-bit number cannot hold are refused, reported to
    // the error log, and leave the extent as it was.
    ComPtr<ErrorLog> log;
    ASSERT_EQ(S_OK, ErrorLog::Make(log));
    bag->params = {{L"_cx", L"-5"}, {L"_cy", L"wide"}};
    ASSERT_EQ(S_OK, persist->Load(bag.get(), log.get()));
    ASSERT_EQ(2u, log->errors.size());
    EXPECT_EQ(L"_cx", log->errors[0].first);
    EXPECT_EQ(L"_cy", log->errors[1].first);
    EXPECT_TRUE(FAILED(log->errors[0].second));
    ASSERT_EQ(S_OK, As<IOleObject>()->GetExtent(DVASPECT_CONTENT, &extent));
    EXPECT_EQ(8467, extent.cx);
    EXPECT_EQ(5292, extent.cy);

    // Saving writes the same two entries back as VT_UI4.
    using Entry = std::pair<std::wstring, VARTYPE>;
    ASSERT_EQ(S_OK, persist->Save(bag.get(), TRUE, TRUE));
    EXPECT_EQ((std::vector<Entry>{{L"_cx", VT_UI4}, {L"_cy", VT_UI4}}), bag->writes);
    EXPECT_EQ(8467u, bag->written[L"_cx"]);
    EXPECT_EQ(5292u, bag->written[L"_cy"]);
}
