// The control in-process on its shipping link with the reference console: its window, teardown, the interfaces it
// answers, and every session operation there and back under each console fault set (ZOVA_CONSOLE_FAULTS, inherited).
#include <gtest/gtest.h>

#include <olectl.h>

#include <functional>

#include "tests/consoleTestSupport.h"
#include "tests/controlFakes.h"
#include "tests/ownLog.h"
#include "win32/plugin/consoleCall.h"
#include "zova/consoleContract.h"

using comfw::Bstr;
using comfw::ComPtr;
using comfw::Variant;
using zova::ZOVAEmbeddedCtl;
using Ctl = zova::ZOVAEmbeddedCtl;

namespace {

const std::vector<DISPID> kTeardown{ZOVA_DISPID_UNADVISE, ZOVA_DISPID_DELETE};

using zova::test::ConsoleWindowOf;
using Place = std::vector<LONG>;  // left, top, right, bottom in the parent's client area
const auto PlaceOf = zova::test::PlaceInParent;

// A control on the shipping link (its VM control calls recorded) in a window of
// this thread, and the process of the console it started, which must end with the test.
class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        host = zova::test::MakeHostWindow();
        RECT r{0, 0, 320, 200};
        window = rig.control->CreateWindowFor(host, &r, nullptr, ZOVAEmbeddedCtl::kWindowStyle, 0);
        ASSERT_NE(nullptr, window);
    }
    void TearDown() override {
        rig.link.realVm.reset();  // the console counts live references before it ends
        rig.control.reset();
        ::DestroyWindow(host);
        // No console outlives its test: a persistent one has a short idle limit.
        if (process) {
            EXPECT_TRUE(zova::test::WaitForExit(process, 10000));
            ::CloseHandle(process);
        }
        ::SetEnvironmentVariableW(L"ZOVA_CONSOLE_FAULTS", nullptr);
    }
    HANDLE Start(const wchar_t* config) {
        Variant pid;
        if (rig.Startup(config) == S_OK &&
            SUCCEEDED(zova::CallConsoleFor(rig.link.realVm.get(), ZOVA_DISPID_TEST_PROCESS_ID, VT_UI4, pid)))
            process = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid.get().ulVal);
        return process;
    }
    zova::test::ControlRig rig{&zova::ProcessConsoleLink()};
    HWND host = nullptr, window = nullptr;  // the control's window, 320 x 200 in a top-level window
    HANDLE process = nullptr;
};

}  // namespace

TEST_F(EndToEnd, TheConsoleWindowLivesInTheControlsWindowAndFollowsIt) {
    ASSERT_NE(nullptr, Start(L""));
    // The console's window: the one child of the control's window, from the console's process, over its client area.
    HWND consoleWindow = ConsoleWindowOf(rig.control->vm_control());
    ASSERT_TRUE(::IsWindow(consoleWindow));
    EXPECT_EQ(consoleWindow, ::GetWindow(window, GW_CHILD));
    EXPECT_EQ(nullptr, ::GetWindow(consoleWindow, GW_HWNDNEXT));
    DWORD owner = 0;
    ::GetWindowThreadProcessId(consoleWindow, &owner);
    EXPECT_NE(::GetCurrentProcessId(), owner);
    EXPECT_EQ(::GetProcessId(process), owner);
    EXPECT_EQ((Place{0, 0, 320, 200}), PlaceOf(consoleWindow));

    // Resized from its parent, as a container does: WM_SIZE refits.
    ASSERT_TRUE(::MoveWindow(window, 20, 10, 640, 480, TRUE));
    EXPECT_EQ((Place{0, 0, 640, 480}), PlaceOf(consoleWindow));

    // A screen-size event refits a console window knocked out of place, before the page hears of it.
    ASSERT_TRUE(::MoveWindow(consoleWindow, 7, 9, 50, 40, TRUE));
    ASSERT_EQ((Place{7, 9, 57, 49}), PlaceOf(consoleWindow));
    Place placeWhenFired;
    rig.page->during = [&](DISPID event) {
        if (event == 4) placeWhenFired = PlaceOf(consoleWindow);
    };
    ASSERT_EQ(S_OK, rig.control->setScreenSize(1280, 720));
    EXPECT_TRUE(zova::test::PumpUntil([&] { return !rig.page->events.empty(); }, 5000));
    EXPECT_EQ(std::vector<std::wstring>{L"4: i4 1280, i4 720"}, rig.page->events);  // the guest's size
    EXPECT_EQ((Place{0, 0, 640, 480}), placeWhenFired);                           // the window follows the control

    // The control's own background, around and before the console's window, is black.
    HDC screen = ::GetDC(nullptr), memory = ::CreateCompatibleDC(screen);
    HGDIOBJ old = ::SelectObject(memory, ::CreateCompatibleBitmap(screen, 640, 480));
    RECT all{0, 0, 640, 480};
    ::FillRect(memory, &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    EXPECT_EQ(0, ::SendMessageW(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(memory), 0));
    EXPECT_EQ(RGB(0, 0, 0), ::GetPixel(memory, 10, 10));
    EXPECT_EQ(RGB(0, 0, 0), ::GetPixel(memory, 639, 479));
    ::DeleteObject(::SelectObject(memory, old));
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
}

TEST_F(EndToEnd, ShutdownUnadvisesAndDeletesAndTheConsoleEnds) {
    ASSERT_NE(nullptr, Start(L""));
    rig.link.realVm.reset();
    // (Events queued before a shutdown: EventSink in control_tests, on the same sink.)
    ASSERT_EQ(S_OK, rig.control->shutdown());
    EXPECT_EQ(kTeardown, rig.link.vm->CallIds());
    EXPECT_EQ(nullptr, rig.control->vm_control());
    EXPECT_EQ(nullptr, rig.control->console_process());
    EXPECT_EQ(nullptr, ::GetWindow(window, GW_CHILD));
    EXPECT_TRUE(zova::test::WaitForExit(process, 5000));
    // Once idle, nothing more reaches the console.
    EXPECT_EQ(S_OK, rig.control->shutdown());
    EXPECT_EQ(2u, rig.link.vm->CallIds().size());
}

TEST_F(EndToEnd, DestroyingTheWindowOfAPersistentStartTearsDownAndKeepsTheConsole) {
    ::SetEnvironmentVariableW(L"ZOVA_CONSOLE_FAULTS", L"idle-ms=1500");
    ASSERT_NE(nullptr, Start(L"persistent=true"));
    ASSERT_TRUE(::DestroyWindow(window));
    EXPECT_EQ(kTeardown, rig.link.vm->CallIds());
    EXPECT_EQ(nullptr, rig.control->vm_control());
    EXPECT_TRUE(rig.control->persistent());
    VARIANT_BOOL ready = VARIANT_TRUE;
    ASSERT_EQ(S_OK, rig.control->isReadyToStart(&ready));
    EXPECT_EQ(VARIANT_FALSE, ready);
    // The console let this view go (no sink, operations refuse); destroying the control calls
    // nothing more; the console waits for an attach (pages/attachAcross) until its idle limit.
    Variant advised;
    ASSERT_EQ(S_OK, zova::CallConsoleFor(rig.link.realVm.get(), ZOVA_DISPID_TEST_IS_ADVISED, VT_BOOL, advised));
    EXPECT_EQ(VARIANT_FALSE, advised.get().boolVal);
    EXPECT_EQ(nullptr, ConsoleWindowOf(rig.link.realVm.get()));
    rig.control.reset();
    EXPECT_EQ(2u, rig.link.vm->CallIds().size());
    EXPECT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(process, 0));
}

// What containers and scripts ask the control for, and some that would change a container's ways if answered. (That
// every answer leads to all the others, with one identity, is ComObject's: olecontrol_tests.)
TEST(Surface, AnswersTheInterfacesOfItsTableAndNoOthers) {
    ComPtr<ZOVAEmbeddedCtl> control;
    ASSERT_EQ(S_OK, ZOVAEmbeddedCtl::Make(control));
    const IID* answered[] = {
        &IID_IVelmoraEmbeddedRemoteConsole, &IID_IDispatch, &IID_IViewObjectEx, &IID_IViewObject2,
        &IID_IViewObject, &IID_IOleInPlaceObjectWindowless, &IID_IOleInPlaceObject, &IID_IOleWindow,
        &IID_IOleInPlaceActiveObject, &IID_IOleControl, &IID_IOleObject, &IID_IPersistStreamInit, &IID_IPersist,
        &IID_ISupportErrorInfo, &IID_ISpecifyPropertyPages, &IID_IQuickActivate, &IID_IPersistStorage,
        &IID_IDataObject, &IID_IProvideClassInfo, &IID_IProvideClassInfo2, &IID_IConnectionPointContainer,
        &IID_IObjectSafety, &IID_IPersistPropertyBag};
    ComPtr<IUnknown> answer;
    for (size_t i = 0; i < std::size(answered); ++i)
        EXPECT_EQ(S_OK, control->QueryInterface(*answered[i], answer.put_void())) << "table entry " << i;
    for (const IID* iid : {&IID_IPersistFile, &IID_IOleInPlaceSite, &IID_IRunnableObject, &IID_IPointerInactive})
        EXPECT_EQ(E_NOINTERFACE, control->QueryInterface(*iid, answer.put_void()));
}

namespace {

const wchar_t* const kFaults[3] = {
    nullptr,
    // Every getter and GetFeatureFlags answer another type, also near misses (UI4, INT for I4, UI4).
    L"wrong-type=108; wrong-type=109:19; wrong-type=112:3; wrong-type=103:22; wrong-type=105:3; wrong-type=3",
    // Every operation fails with a status of its own.
    L"fail=3:0x80040203; fail=101:0x80040265; fail=102:0x80040266; fail=103:0x80040267; fail=105:0x80040269;"
    L"fail=106:0x8004026A; fail=107:0x8004026B; fail=108:0x8004026C; fail=109:0x8004026D; fail=110:0x8004026E;"
    L"fail=111:0x8004026F; fail=112:0x80040270; fail=113:0x80040271; fail=120:0x80040278"};

// An operation; a getter writes its result to `out`, which holds kU before.
using Op = std::function<HRESULT(Ctl*, LONG& out)>;
template <class M, class... A> Op Call(M m, A... a) { return [=](Ctl* c, LONG&) { return (c->*m)(a...); }; }
template <class T, class M> Op Get(M m) {
    return [=](Ctl* c, LONG& out) { T v = T(out); const HRESULT hr = (c->*m)(&v); out = v; return hr; };
}
Bstr Text(const wchar_t* text) { return Bstr::Attach(::SysAllocString(text)); }

// The arguments of the console's last Connect as "<vt> <text or bool>".
std::vector<std::wstring> LastConnectArgs(IDispatch* vm) {
    Variant args;
    EXPECT_EQ(S_OK, zova::CallConsoleInto(vm, ZOVA_DISPID_TEST_LAST_CONNECT_ARGS, args.ptr()));
    std::vector<std::wstring> out;
    for (const Variant& a : zova::test::Elements(args.get()))
        out.push_back(std::to_wstring(a.vt()) + L" " +
                      (a.vt() == VT_BOOL ? std::to_wstring(a.get().boolVal) : zova::test::TextOf(a.get())));
    return out;
}
const Op kCADCount = [](Ctl* c, LONG& out) {  // the console's count of Ctrl-Alt-Delete sequences
    Variant n;
    const HRESULT hr = zova::CallConsoleInto(c->vm_control(), ZOVA_DISPID_TEST_CAD_COUNT, n.ptr());
    out = n.vt() == VT_UI4 ? LONG(n.get().ulVal) : -1;
    return hr;
};
const Op kConnect = [](Ctl* c, LONG& out) {  // out: the number of arguments Connect got (0: never called)
    const HRESULT hr = c->connect(Text(L"host-02.lab.example").get(), nullptr, VARIANT_TRUE, nullptr, nullptr, nullptr,
                                  nullptr, nullptr, nullptr);
    out = static_cast<LONG>(LastConnectArgs(c->vm_control()).size());
    return hr;
};

struct Outcome { HRESULT hr; LONG out; };
constexpr HRESULT Itf(int code) { return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, code); }  // 0x8004xxxx
constexpr HRESULT kMismatch = DISP_E_TYPEMISMATCH;
constexpr LONG kU = 42, kTrue = VARIANT_TRUE, kFalse = VARIANT_FALSE;  // kU: not written

const Op kGrab = Get<ZOVA_GrabState>(&Ctl::getGrabState), kState = Get<ZOVA_ConnectionState>(&Ctl::getConnectionState),
         kFull = Get<VARIANT_BOOL>(&Ctl::getFullscreen);
// One sequence, run on each configuration's fresh console: status and result with no faults, with results of another
// type, with failing calls. Refused results read as zero sizes and false; enumerations stay unwritten.
const struct Row { const char* what; Op op; Outcome outcome[3]; } kRows[] = {
    {"setScreenSize", Call(&Ctl::setScreenSize, 1280, 720), {{S_OK, kU}, {S_OK, kU}, {Itf(0x26B), kU}}},
    {"screenWidth", Get<INT>(&Ctl::screenWidth), {{S_OK, 1280}, {kMismatch, 0}, {Itf(0x26C), 0}}},
    {"screenHeight", Get<INT>(&Ctl::screenHeight), {{S_OK, 720}, {kMismatch, 0}, {Itf(0x26D), 0}}},
    // No range check in the control: this console refuses sizes below one.
    {"setScreenSize 0x-5", Call(&Ctl::setScreenSize, 0, -5), {{E_INVALIDARG, kU}, {E_INVALIDARG, kU}, {Itf(0x26B), kU}}},
    // Any non-zero VARIANT_BOOL switches on (also where the answer is refused).
    {"setFullscreen 2", Call(&Ctl::setFullscreen, VARIANT_BOOL(2)), {{S_OK, kU}, {S_OK, kU}, {Itf(0x26A), kU}}},
    {"getFullscreen", kFull, {{S_OK, kTrue}, {kMismatch, kFalse}, {Itf(0x269), kFalse}}},
    {"setFullscreen off", Call(&Ctl::setFullscreen, VARIANT_FALSE), {{S_OK, kU}, {S_OK, kU}, {Itf(0x26A), kU}}},
    {"getFullscreen", kFull, {{S_OK, kFalse}, {kMismatch, kFalse}, {Itf(0x269), kFalse}}},
    {"grabInput", Call(&Ctl::grabInput), {{S_OK, kU}, {S_OK, kU}, {Itf(0x26E), kU}}},
    {"getGrabState", kGrab, {{S_OK, ZOVA_GS_GRABBED}, {kMismatch, kU}, {Itf(0x270), kU}}},
    {"ungrabInput", Call(&Ctl::ungrabInput), {{S_OK, kU}, {S_OK, kU}, {Itf(0x26F), kU}}},
    {"getGrabState", kGrab, {{S_OK, ZOVA_GS_UNGRABBED_HARD}, {kMismatch, kU}, {Itf(0x270), kU}}},
    {"setInputRelease", Call(&Ctl::setInputRelease, VARIANT_BOOL(0x1234)), {{S_OK, kU}, {S_OK, kU}, {Itf(0x271), kU}}},
    {"sendCAD", Call(&Ctl::sendCAD), {{S_OK, kU}, {S_OK, kU}, {Itf(0x278), kU}}},
    {"sendCAD", Call(&Ctl::sendCAD), {{S_OK, kU}, {S_OK, kU}, {Itf(0x278), kU}}},
    {"CAD count", kCADCount, {{S_OK, 2}, {S_OK, 2}, {S_OK, 0}}},  // a failing call does nothing
    {"connectionState", kState, {{S_OK, ZOVA_CS_DISCONNECTED}, {kMismatch, kU}, {Itf(0x267), kU}}},
    // GetFeatureFlags answers another type or fails: connect stops with its status, never calling Connect (0x80040265).
    {"connect", kConnect, {{S_OK, 10}, {kMismatch, 0}, {Itf(0x203), 0}}},
    {"connectionState", kState, {{S_OK, ZOVA_CS_CONNECTED}, {kMismatch, kU}, {Itf(0x267), kU}}},
    {"disconnect", Call(&Ctl::disconnect), {{S_OK, kU}, {S_OK, kU}, {Itf(0x266), kU}}},
    {"connectionState", kState, {{S_OK, ZOVA_CS_DISCONNECTED}, {kMismatch, kU}, {Itf(0x267), kU}}},
};

// A control started on the real console link with the console faults of configuration F, shared by the suite's tests.
template <int F> class Session : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ::SetEnvironmentVariableW(L"ZOVA_CONSOLE_FAULTS", kFaults[F]);  // only for the console started here
        if (SUCCEEDED(started = Ctl::Make(control))) {
            parent = zova::test::MakeHostWindow();
            RECT r{0, 0, 320, 200};
            control->CreateWindowFor(parent, &r, nullptr, 0x56000000, 0);
            Bstr config = Text(L""), id;
            started = control->startup(2, ZOVA_EVENT_MESSAGES, config.get(), id.put());
        }
        ::SetEnvironmentVariableW(L"ZOVA_CONSOLE_FAULTS", nullptr);
    }
    static void TearDownTestSuite() {
        if (control) control->shutdown();
        control.reset();
        ::DestroyWindow(parent);
        zova::test::Pump(50);  // lets queued console events and the teardown's messages go
    }
    void SetUp() override { ASSERT_EQ(S_OK, started); }

    void RunSequence() {
        zova::test::LogMark mark;
        for (const Row& row : kRows) {
            SCOPED_TRACE(row.what);
            LONG out = kU;
            EXPECT_EQ(row.outcome[F].hr, row.op(control.get(), out));
            EXPECT_EQ(row.outcome[F].out, out);
        }
        const HRESULT flags = F == 1 ? kMismatch : Itf(0x203);  // GetFeatureFlags' refusal, reported
        EXPECT_EQ(F != 0, mark.Saw("Failed to get feature flags: " + std::to_string(static_cast<int>(flags))));
    }
    static inline HWND parent = nullptr;
    static inline comfw::ComPtr<Ctl> control;
    static inline HRESULT started = E_UNEXPECTED;
};
using SessionOps = Session<0>;
using WrongTypes = Session<1>;
using FailingCalls = Session<2>;

}  // namespace

TEST_F(SessionOps, EveryOperationReachesTheConsoleWithItsValues) { RunSequence(); }
TEST_F(WrongTypes, ResultsOfAnotherTypeAreRefusedAndConnectStops) { RunSequence(); }
TEST_F(FailingCalls, EveryStatusReachesTheCallerUnchangedAndConnectStops) { RunSequence(); }

TEST_F(SessionOps, ConnectSendsTenArgumentsOfTheContractTypes) {
    // Text after an embedded NUL is not part of the argument.
    Bstr thumb = Bstr::Attach(::SysAllocStringLen(L"AB:CD\0ignored", 13));
    ASSERT_EQ(S_OK, control->connect(Text(L"host-02.lab.example").get(), thumb.get(), VARIANT_BOOL(5), nullptr,
                                     Text(L"operator").get(), Text(L"secret").get(), Text(L"vm-42").get(),
                                     Text(L"dc-1").get(), Text(L"store-1/vm-42/vm-42.cfg").get()));
    // 5 arrives as VARIANT_TRUE. The null ticket and the proxy slot (the feature is off) arrive empty, as the
    // marshaller delivers a null BSTR; in-process they stay null (below).
    EXPECT_EQ((std::vector<std::wstring>{L"8 host-02.lab.example", L"8 AB:CD", L"11 -1", L"8 ", L"8 operator", L"8 secret",
                                         L"8 vm-42", L"8 dc-1", L"8 store-1/vm-42/vm-42.cfg", L"8 "}),
              LastConnectArgs(control->vm_control()));
    ASSERT_EQ(S_OK, control->disconnect());

    // The control passes a null host on and this console's refusal back; without the feature it resolves no proxy.
    zova::test::LogMark mark;
    EXPECT_EQ(E_INVALIDARG,
              control->connect(nullptr, nullptr, VARIANT_FALSE, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ((std::vector<std::wstring>{L"8 ", L"8 ", L"11 0", L"8 ", L"8 ", L"8 ", L"8 ", L"8 ", L"8 ", L"8 "}),
              LastConnectArgs(control->vm_control()));
    EXPECT_FALSE(mark.Saw("Browser proxy feature is enabled"));
}

// In-process with the fakes, where a null string can be told from an empty one.
TEST(SessionOpsInProcess, FeatureOffLeavesNullStringsAndTheProxySlotNull) {
    zova::test::FakeConsoleLink link;
    comfw::ComPtr<Ctl> control;
    ASSERT_EQ(S_OK, Ctl::Make(control));
    control->set_console_link(link);
    Bstr id, host = Text(L"h");
    ASSERT_EQ(S_OK, control->startup(2, ZOVA_EVENT_MESSAGES, nullptr, id.put()));
    link.process->AnswerUI4(ZOVA_DISPID_GET_FEATURE_FLAGS, 2 | 4 | 8 | 16);  // every feature but the proxy
    ASSERT_EQ(S_OK, control->connect(host.get(), nullptr, VARIANT_FALSE, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr));
    const auto* call = link.vm->LastCall(ZOVA_DISPID_CONNECT);
    ASSERT_NE(nullptr, call);
    ASSERT_EQ(10u, call->args.size());
    for (int i : {1, 3, 4, 5, 6, 7, 8, 9}) {
        EXPECT_EQ(VT_BSTR, call->args[i].vt) << "argument " << i;
        EXPECT_EQ(nullptr, call->args[i].bstrVal) << "argument " << i;
    }
    control->shutdown();
}
