// The session, screen and input operations across the process boundary: a
// real control with its shipped console link starts the reference console
// beside this program, and every operation goes there and back. The
// console's fault switches (ZOVA_CONSOLE_FAULTS, inherited by the console
// from this process's environment) give the wrong-type and failing rows.
// Each fixture shares one started control between its tests, so that the
// whole program starts only three consoles.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "axplugin/zovaEmbeddedCtl.h"
#include "comfw/bstr.h"
#include "tests/consoleTestSupport.h"
#include "tests/controlFakes.h"
#include "tests/ownLog.h"
#include "win32/plugin/consoleCall.h"
#include "win32/plugin/consoleDispids.h"

using comfw::Bstr;
using comfw::ComPtr;
using comfw::Variant;
using zova::ZOVAEmbeddedCtl;
using zova::test::LogMark;
namespace console = zova::console;

namespace {

// Test hooks of the reference console's VM control.
constexpr DISPID kTestLastConnectArgs = 1000;
constexpr DISPID kTestCADCount = 1003;

// A control in a window of this thread, started with the real console link.
struct LiveControl {
    HWND parent = nullptr;
    ComPtr<ZOVAEmbeddedCtl> control;
    HRESULT started = E_UNEXPECTED;

    void Start(const wchar_t* faults, const wchar_t* configuration) {
        // Set only for the console this start launches.
        ::SetEnvironmentVariableW(L"ZOVA_CONSOLE_FAULTS", faults);
        if (SUCCEEDED(started = ZOVAEmbeddedCtl::Make(control))) {
            parent = ::CreateWindowExW(0, L"STATIC", L"session host", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0,
                                       400, 300, nullptr, nullptr, nullptr, nullptr);
            RECT r{0, 0, 320, 200};
            control->CreateWindowFor(parent, &r, nullptr, 0x56000000, 0);
            Bstr config, id;
            Bstr::FromText(configuration, config);
            started = control->startup(2, ZOVA_EVENT_MESSAGES, config.get(), id.put());
        }
        ::SetEnvironmentVariableW(L"ZOVA_CONSOLE_FAULTS", nullptr);
    }
    void Stop() {
        if (control) control->shutdown();
        control.reset();
        if (parent) ::DestroyWindow(parent);
        parent = nullptr;
        // Lets queued console events and the teardown's messages go.
        zova::test::Pump(50);
    }
};

Bstr Text(const wchar_t* text) {
    Bstr b;
    Bstr::FromText(text, b);
    return b;
}

// The arguments of the console's last Connect, with the types they arrived with.
std::vector<Variant> LastConnectArgs(IDispatch* vm) {
    Variant args;
    EXPECT_EQ(S_OK, zova::CallConsoleInto(vm, kTestLastConnectArgs, args.ptr()));
    return zova::test::Elements(args.get());
}

std::string Decimal(HRESULT hr) { return std::to_string(static_cast<int>(hr)); }

// A fixture whose tests share one started control; its console runs with
// the fault switches `F` (none when null).
template <const wchar_t* const& F>
class StartedConsole : public ::testing::Test {
protected:
    static void SetUpTestSuite() { live.Start(F, L""); }
    static void TearDownTestSuite() { live.Stop(); }
    void SetUp() override {
        ASSERT_EQ(S_OK, live.started);
        control = live.control.get();
        vm = control->vm_control();
    }
    static LiveControl live;
    ZOVAEmbeddedCtl* control = nullptr;
    IDispatch* vm = nullptr;
};
template <const wchar_t* const& F>
LiveControl StartedConsole<F>::live;

const wchar_t* const kNoFaults = nullptr;
using SessionOps = StartedConsole<kNoFaults>;

}  // namespace

TEST_F(SessionOps, ScreenSizeIsSetAndReadBackWithoutARangeCheck) {
    ASSERT_EQ(S_OK, control->setScreenSize(1280, 720));
    INT width = -1, height = -1;
    ASSERT_EQ(S_OK, control->screenWidth(&width));
    ASSERT_EQ(S_OK, control->screenHeight(&height));
    EXPECT_EQ(1280, width);
    EXPECT_EQ(720, height);

    // The control passes any size on; this console refuses sizes below one,
    // and its status reaches the caller unchanged.
    EXPECT_EQ(E_INVALIDARG, control->setScreenSize(0, -5));
    ASSERT_EQ(S_OK, control->setScreenSize(641, 479));
    ASSERT_EQ(S_OK, control->screenWidth(&width));
    ASSERT_EQ(S_OK, control->screenHeight(&height));
    EXPECT_EQ(641, width);
    EXPECT_EQ(479, height);
}

TEST_F(SessionOps, FullscreenGrabAndCtrlAltDeleteReachTheConsole) {
    // Any non-zero VARIANT_BOOL switches on.
    ASSERT_EQ(S_OK, control->setFullscreen(static_cast<VARIANT_BOOL>(2)));
    VARIANT_BOOL full = VARIANT_FALSE;
    ASSERT_EQ(S_OK, control->getFullscreen(&full));
    EXPECT_EQ(VARIANT_TRUE, full);
    ASSERT_EQ(S_OK, control->setFullscreen(VARIANT_FALSE));
    ASSERT_EQ(S_OK, control->getFullscreen(&full));
    EXPECT_EQ(VARIANT_FALSE, full);

    ZOVA_GrabState grab = static_cast<ZOVA_GrabState>(0);
    ASSERT_EQ(S_OK, control->grabInput());
    ASSERT_EQ(S_OK, control->getGrabState(&grab));
    EXPECT_EQ(ZOVA_GS_GRABBED, grab);
    ASSERT_EQ(S_OK, control->ungrabInput());
    ASSERT_EQ(S_OK, control->getGrabState(&grab));
    EXPECT_EQ(ZOVA_GS_UNGRABBED_HARD, grab);
    EXPECT_EQ(S_OK, control->setInputRelease(static_cast<VARIANT_BOOL>(0x1234)));
    EXPECT_EQ(S_OK, control->setInputRelease(VARIANT_FALSE));

    Variant before, after;
    ASSERT_EQ(S_OK, zova::CallConsoleInto(vm, kTestCADCount, before.ptr()));
    ASSERT_EQ(S_OK, control->sendCAD());
    ASSERT_EQ(S_OK, control->sendCAD());
    ASSERT_EQ(S_OK, zova::CallConsoleInto(vm, kTestCADCount, after.ptr()));
    ASSERT_EQ(VT_UI4, after.vt());
    EXPECT_EQ(before.get().ulVal + 2, after.get().ulVal);
}

TEST_F(SessionOps, ConnectSendsTenArgumentsOfTheContractTypes) {
    Bstr host = Text(L"esx.example"), user = Text(L"operator"), pass = Text(L"secret"), moid = Text(L"vm-42"),
         dc = Text(L"dc1"), store = Text(L"[ds1] vm/vm.vmx");
    // Text after an embedded NUL is not part of the argument.
    Bstr thumb = Bstr::Attach(::SysAllocStringLen(L"AB:CD\0ignored", 13));
    ASSERT_EQ(S_OK, control->connect(host.get(), thumb.get(), static_cast<VARIANT_BOOL>(5), nullptr, user.get(),
                                     pass.get(), moid.get(), dc.get(), store.get()));
    ZOVA_ConnectionState state = static_cast<ZOVA_ConnectionState>(0);
    ASSERT_EQ(S_OK, control->getConnectionState(&state));
    EXPECT_EQ(ZOVA_CS_CONNECTED, state);

    const std::vector<Variant> args = LastConnectArgs(vm);
    ASSERT_EQ(10u, args.size());
    const wchar_t* expected[10] = {L"esx.example", L"AB:CD", nullptr, L"", L"operator",
                                   L"secret",      L"vm-42", L"dc1",   L"[ds1] vm/vm.vmx", L""};
    for (int i = 0; i < 10; ++i) {
        if (i == 2) continue;
        EXPECT_EQ(VT_BSTR, args[i].vt()) << "argument " << i;
        EXPECT_EQ(expected[i], zova::test::TextOf(args[i].get())) << "argument " << i;
    }
    // 5 arrives as VARIANT_TRUE (-1), not as 5.
    ASSERT_EQ(VT_BOOL, args[2].vt());
    EXPECT_EQ(VARIANT_TRUE, args[2].get().boolVal);
    // The null ticket and the proxy slot (the proxy feature is off) are null
    // BSTRs when they leave the control, but the marshaller delivers a null
    // BSTR to another process as an empty one; that they are null is checked
    // in-process below (FeatureOffLeavesTheProxySlotNull) and in control_tests.

    ASSERT_EQ(S_OK, control->disconnect());
    ASSERT_EQ(S_OK, control->getConnectionState(&state));
    EXPECT_EQ(ZOVA_CS_DISCONNECTED, state);

    ASSERT_EQ(S_OK, control->connect(host.get(), nullptr, VARIANT_FALSE, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr));
    const std::vector<Variant> second = LastConnectArgs(vm);
    ASSERT_EQ(10u, second.size());
    EXPECT_EQ(VARIANT_FALSE, second[2].get().boolVal);
    ASSERT_EQ(S_OK, control->disconnect());
}

TEST_F(SessionOps, ConsoleRefusalOfConnectIsPassedOnUnchanged) {
    // This console refuses an empty host name; the control does not check it.
    LogMark mark;
    EXPECT_EQ(E_INVALIDARG,
              control->connect(nullptr, nullptr, VARIANT_TRUE, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    const std::vector<Variant> args = LastConnectArgs(vm);
    ASSERT_EQ(10u, args.size());
    EXPECT_EQ(VT_BSTR, args[0].vt());
    EXPECT_EQ(L"", zova::test::TextOf(args[0].get()));
    // The feature is off: neither the proxy trace nor a resolution.
    EXPECT_FALSE(mark.Saw("Browser proxy feature is enabled"));
}

// The same control in-process with the fakes: there a null string can be
// told from an empty one.
TEST(SessionOpsInProcess, FeatureOffLeavesTheProxySlotNull) {
    zova::test::FakeConsoleLink link;
    ComPtr<ZOVAEmbeddedCtl> control;
    ASSERT_EQ(S_OK, ZOVAEmbeddedCtl::Make(control));
    control->set_console_link(link);
    Bstr id;
    ASSERT_EQ(S_OK, control->startup(2, ZOVA_EVENT_MESSAGES, nullptr, id.put()));
    link.process->AnswerUI4(console::kGetFeatureFlags, 2 | 4 | 8 | 16);  // every feature but the proxy
    Bstr host = Text(L"h");
    ASSERT_EQ(S_OK, control->connect(host.get(), nullptr, VARIANT_FALSE, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr));
    const auto* call = link.vm->LastCall(console::kConnect);
    ASSERT_NE(nullptr, call);
    ASSERT_EQ(10u, call->args.size());
    for (int i : {1, 3, 4, 5, 6, 7, 8, 9}) {
        EXPECT_EQ(VT_BSTR, call->args[i].vt) << "argument " << i;
        EXPECT_EQ(nullptr, call->args[i].bstrVal) << "argument " << i;
    }
    control->shutdown();
}

namespace {

// Every getter answers a value of another variant type, also near misses
// (UI4 or INT where I4 or UI4 is due); GetFeatureFlags too.
const wchar_t* const kWrongTypes =
    L"wrong-type=108; wrong-type=109:19; wrong-type=112:3; wrong-type=103:22; wrong-type=105:3; wrong-type=3";
using WrongTypes = StartedConsole<kWrongTypes>;

// Every operation fails with a status of its own.
const wchar_t* const kFailures =
    L"fail=3:0x80040203; fail=101:0x80040265; fail=102:0x80040266; fail=103:0x80040267; fail=105:0x80040269;"
    L"fail=106:0x8004026A; fail=107:0x8004026B; fail=108:0x8004026C; fail=109:0x8004026D; fail=110:0x8004026E;"
    L"fail=111:0x8004026F; fail=112:0x80040270; fail=113:0x80040271; fail=120:0x80040278";
using FailingCalls = StartedConsole<kFailures>;

}  // namespace

TEST_F(WrongTypes, ResultsOfAnotherTypeAreRefusedAndNotWritten) {
    ASSERT_EQ(S_OK, control->setScreenSize(800, 600));
    INT width = 77, height = 77;
    EXPECT_EQ(DISP_E_TYPEMISMATCH, control->screenWidth(&width));
    EXPECT_EQ(DISP_E_TYPEMISMATCH, control->screenHeight(&height));
    EXPECT_EQ(0, width);
    EXPECT_EQ(0, height);

    ASSERT_EQ(S_OK, control->grabInput());
    ZOVA_GrabState grab = static_cast<ZOVA_GrabState>(42);
    EXPECT_EQ(DISP_E_TYPEMISMATCH, control->getGrabState(&grab));
    EXPECT_EQ(42, grab);
    ZOVA_ConnectionState state = static_cast<ZOVA_ConnectionState>(42);
    EXPECT_EQ(DISP_E_TYPEMISMATCH, control->getConnectionState(&state));
    EXPECT_EQ(42, state);

    // The console is in full screen, but its answer is not a BOOL.
    ASSERT_EQ(S_OK, control->setFullscreen(VARIANT_TRUE));
    VARIANT_BOOL full = VARIANT_TRUE;
    EXPECT_EQ(DISP_E_TYPEMISMATCH, control->getFullscreen(&full));
    EXPECT_EQ(VARIANT_FALSE, full);
}

TEST_F(WrongTypes, FeatureFlagsOfAnotherTypeStopConnect) {
    LogMark mark;
    Bstr host = Text(L"esx.example");
    EXPECT_EQ(DISP_E_TYPEMISMATCH, control->connect(host.get(), nullptr, VARIANT_TRUE, nullptr, nullptr, nullptr,
                                                    nullptr, nullptr, nullptr));
    EXPECT_TRUE(mark.Saw("Failed to get feature flags: " + Decimal(DISP_E_TYPEMISMATCH)));
    EXPECT_TRUE(LastConnectArgs(vm).empty());  // Connect was never called
}

TEST_F(FailingCalls, EveryStatusReachesTheCallerUnchanged) {
    EXPECT_EQ(HRESULT(0x80040266), control->disconnect());
    EXPECT_EQ(HRESULT(0x8004026A), control->setFullscreen(VARIANT_TRUE));
    EXPECT_EQ(HRESULT(0x8004026B), control->setScreenSize(1024, 768));
    EXPECT_EQ(HRESULT(0x8004026E), control->grabInput());
    EXPECT_EQ(HRESULT(0x8004026F), control->ungrabInput());
    EXPECT_EQ(HRESULT(0x80040271), control->setInputRelease(VARIANT_TRUE));
    EXPECT_EQ(HRESULT(0x80040278), control->sendCAD());

    INT width = 99, height = 99;
    EXPECT_EQ(HRESULT(0x8004026C), control->screenWidth(&width));
    EXPECT_EQ(HRESULT(0x8004026D), control->screenHeight(&height));
    EXPECT_EQ(0, width);
    EXPECT_EQ(0, height);
    ZOVA_GrabState grab = static_cast<ZOVA_GrabState>(42);
    EXPECT_EQ(HRESULT(0x80040270), control->getGrabState(&grab));
    EXPECT_EQ(42, grab);
    ZOVA_ConnectionState state = static_cast<ZOVA_ConnectionState>(42);
    EXPECT_EQ(HRESULT(0x80040267), control->getConnectionState(&state));
    EXPECT_EQ(42, state);
    VARIANT_BOOL full = VARIANT_TRUE;
    EXPECT_EQ(HRESULT(0x80040269), control->getFullscreen(&full));
    EXPECT_EQ(VARIANT_FALSE, full);
}

TEST_F(FailingCalls, FailingFeatureFlagsStopConnectWithTheirStatus) {
    LogMark mark;
    Bstr host = Text(L"esx.example");
    EXPECT_EQ(HRESULT(0x80040203), control->connect(host.get(), nullptr, VARIANT_TRUE, nullptr, nullptr, nullptr,
                                                    nullptr, nullptr, nullptr));
    EXPECT_TRUE(mark.Saw("Failed to get feature flags: " + Decimal(HRESULT(0x80040203))));
    // Connect itself would have failed with 0x80040265 and was never reached.
    EXPECT_TRUE(LastConnectArgs(vm).empty());
}
