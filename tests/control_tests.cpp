// The control object in-process, with its console link faked: lifecycle and
// state, the guard, window messages, the operations' argument and result
// rules, the constant dictionaries and the page events.
#include <gtest/gtest.h>

#include <windows.h>
#include <olectl.h>

#include <memory>
#include <string>

#include "axplugin/eventSink.h"
#include "axplugin/scriptingDictionary.h"
#include "axplugin/zovaEmbeddedCtl.h"
#include "comfw/bstr.h"
#include "tests/controlFakes.h"
#include "tests/ownLog.h"
#include "win32/plugin/consoleDispids.h"

using comfw::Bstr;
using comfw::ComPtr;
using zova::ZOVAEmbeddedCtl;
using zova::test::FakeConsoleLink;
using zova::test::FakeConsoleObject;
using zova::test::LogMark;
namespace console = zova::console;

namespace {

class ControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, ZOVAEmbeddedCtl::Make(control));
        control->set_console_link(link);
    }
    void TearDown() override {
        if (control) {
            control.reset();
        }
        if (parent) ::DestroyWindow(parent);
    }
    // Gives the control a window of 320 x 200 inside a top-level window.
    HWND MakeWindow() {
        parent = ::CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr,
                                   nullptr, nullptr);
        RECT r{0, 0, 320, 200};
        return control->CreateWindowFor(parent, &r, nullptr, 0x56000000, 0);
    }
    HRESULT Startup(UINT modes = 2, int messageMode = 2, const wchar_t* config = L"", Bstr* id = nullptr) {
        Bstr local;
        Bstr& out = id ? *id : local;
        Bstr configText;
        Bstr::FromText(config, configText);
        return control->startup(modes, static_cast<ZOVA_MessageMode>(messageMode), configText.get(), out.put());
    }

    FakeConsoleLink link;
    ComPtr<ZOVAEmbeddedCtl> control;
    HWND parent = nullptr;
};

}  // namespace

TEST_F(ControlTest, StartupChecksPointerThenHeldThenMessageMode) {
    EXPECT_EQ(E_POINTER, control->startup(2, static_cast<ZOVA_MessageMode>(0), nullptr, nullptr));
    Bstr id;
    LogMark mark;
    EXPECT_EQ(E_INVALIDARG, control->startup(2, static_cast<ZOVA_MessageMode>(0), nullptr, id.put()));
    EXPECT_EQ(E_INVALIDARG, control->startup(2, static_cast<ZOVA_MessageMode>(4), nullptr, id.put()));
    EXPECT_TRUE(mark.Saw("Invalid ZOVA_MessageMode mode: 4"));
    EXPECT_EQ(0, link.starts);
    EXPECT_EQ(0, link.sinksMade);

    ASSERT_EQ(S_OK, Startup());
    LogMark again;
    // Once held, a second startup is refused before the message mode is looked at.
    EXPECT_EQ(E_FAIL, control->startup(2, static_cast<ZOVA_MessageMode>(9), nullptr, id.put()));
    EXPECT_TRUE(again.Saw("startup has already been called"));
    EXPECT_EQ(E_FAIL, control->attach(nullptr));
    EXPECT_TRUE(again.Saw("startup/attach has already been called"));
    EXPECT_EQ(1, link.starts);
}

TEST_F(ControlTest, InstanceIdFormAndPersistentInfix) {
    Bstr id;
    ASSERT_EQ(S_OK, Startup(2, 2, nullptr, &id));
    const std::wstring text = id.str();
    ASSERT_EQ(48u, text.size());
    EXPECT_EQ(L"zova-ax-t-{", text.substr(0, 11));
    EXPECT_EQ(L'}', text.back());
    EXPECT_EQ(text, link.lastId);
    EXPECT_EQ(0u, link.lastFeatures);
    EXPECT_FALSE(control->persistent());
    for (wchar_t c : text.substr(11, 36)) EXPECT_TRUE(c == L'-' || iswdigit(c) || (c >= L'A' && c <= L'F'));

    ASSERT_EQ(S_OK, control->shutdown());
    ASSERT_EQ(S_OK, Startup(6, 3, L" persistent = true ; tunnelmks=true", &id));
    EXPECT_EQ(L"zova-ax-p-{", id.str().substr(0, 11));
    EXPECT_EQ(6u, link.lastFeatures);
    EXPECT_EQ(6u, link.lastModes);
    EXPECT_EQ(3, link.lastMessageMode);
    EXPECT_TRUE(control->persistent());
    EXPECT_NE(id.str(), link.lastId.empty() ? L"" : L"x");
}

TEST_F(ControlTest, ChromeModeIsReportedButPassedOnUnchanged) {
    LogMark mark;
    ASSERT_EQ(S_OK, Startup(3));
    EXPECT_TRUE(mark.Saw("ZOVA_CHROME is not supported."));
    EXPECT_EQ(3u, link.lastModes);
}

TEST_F(ControlTest, FailedStartLeavesIdleAndReleasesTheSink) {
    link.startResult = E_ACCESSDENIED;
    LogMark mark;
    Bstr id;
    EXPECT_EQ(E_ACCESSDENIED, Startup(2, 2, L"persistent=true", &id));
    EXPECT_TRUE(id.is_null());
    EXPECT_TRUE(mark.Saw("Failed to start ZOVA process and create VM control: -2147024891"));
    EXPECT_EQ(nullptr, control->vm_control());
    // The persistent flag keeps the value the configuration gave it.
    EXPECT_TRUE(control->persistent());
    // Only the link's own copy of the sink is left.
    link.sink->AddRef();
    EXPECT_EQ(1u, link.sink->Release());

    link.sinkResult = E_OUTOFMEMORY;
    EXPECT_EQ(E_OUTOFMEMORY, Startup());
    EXPECT_TRUE(mark.Saw("Failed to create event sink: -2147024882"));
    EXPECT_EQ(1, link.starts);
}

TEST_F(ControlTest, StartOrAttachWhileAStartIsWaitingIsRefused) {
    HRESULT nestedStart = S_OK, nestedAttach = S_OK;
    link.duringStart = [&] {
        Bstr inner;
        nestedStart = control->startup(2, ZOVA_EVENT_MESSAGES, nullptr, inner.put());
        nestedAttach = control->attach(nullptr);
    };
    ASSERT_EQ(S_OK, Startup());
    EXPECT_EQ(E_FAIL, nestedStart);
    EXPECT_EQ(E_FAIL, nestedAttach);
    EXPECT_EQ(1, link.starts);
    EXPECT_EQ(0, link.attaches);
}

TEST_F(ControlTest, ShutdownTearsDownOnceAndAllowsANewStart) {
    ASSERT_EQ(S_OK, Startup());
    ASSERT_EQ(S_OK, control->shutdown());
    EXPECT_EQ(1, link.teardowns);
    EXPECT_EQ((std::vector<DISPID>{console::kUnadvise, console::kDelete}), link.vm->CallIds());
    EXPECT_EQ(nullptr, control->vm_control());
    EXPECT_EQ(nullptr, control->console_process());

    LogMark mark;
    EXPECT_EQ(S_OK, control->shutdown());
    EXPECT_EQ(1, link.teardowns);
    EXPECT_TRUE(mark.Saw("VM control has not been created"));
    EXPECT_EQ(S_OK, Startup());
    EXPECT_EQ(S_OK, control->shutdown());
    EXPECT_EQ(S_OK, control->attach(nullptr));
    EXPECT_EQ(L"", link.lastId);
}

TEST_F(ControlTest, AttachMarksPersistentAndReportsFailure) {
    Bstr id;
    Bstr::FromText(L"zova-ax-p-{00000000-0000-0000-0000-000000000000}", id);
    ASSERT_EQ(S_OK, control->attach(id.get()));
    EXPECT_EQ(id.str(), link.lastId);
    EXPECT_TRUE(control->persistent());
    ASSERT_EQ(S_OK, control->shutdown());
    EXPECT_FALSE(control->persistent());

    link.attachResult = E_FAIL;
    LogMark mark;
    EXPECT_EQ(E_FAIL, control->attach(id.get()));
    EXPECT_TRUE(mark.Saw("Failed to attach to ZOVA process and create VM control: -2147467259"));
    EXPECT_EQ(nullptr, control->vm_control());
}

TEST_F(ControlTest, DestructionShutsDownOnlyANonPersistentConsole) {
    ASSERT_EQ(S_OK, Startup());
    control.reset();
    EXPECT_EQ(1, link.teardowns);

    ASSERT_EQ(S_OK, ZOVAEmbeddedCtl::Make(control));
    control->set_console_link(link);
    ASSERT_EQ(S_OK, control->attach(nullptr));
    const ULONG before = link.vm->ref_count();
    control.reset();
    EXPECT_EQ(1, link.teardowns);
    EXPECT_EQ(before - 1, link.vm->ref_count());  // let go without Unadvise or Delete
}

TEST_F(ControlTest, WindowDecidesReadinessAndTheRectangleGivenToTheConsole) {
    VARIANT_BOOL ready = VARIANT_TRUE;
    EXPECT_EQ(E_POINTER, control->isReadyToStart(nullptr));
    ASSERT_EQ(S_OK, control->isReadyToStart(&ready));
    EXPECT_EQ(VARIANT_FALSE, ready);
    ASSERT_EQ(S_OK, Startup());
    EXPECT_EQ(nullptr, link.lastWindow);
    EXPECT_EQ(0, link.lastRect.right);
    control->shutdown();

    HWND window = MakeWindow();
    ASSERT_NE(nullptr, window);
    EXPECT_EQ(0x56000000, ::GetWindowLongW(window, GWL_STYLE) & 0x56000000);
    ASSERT_EQ(S_OK, control->isReadyToStart(&ready));
    EXPECT_EQ(VARIANT_TRUE, ready);
    ASSERT_EQ(S_OK, Startup());
    EXPECT_EQ(window, link.lastWindow);
    EXPECT_EQ(320, link.lastRect.right);
    EXPECT_EQ(200, link.lastRect.bottom);
}

TEST_F(ControlTest, WindowMessagesResizeEraseAndTearDown) {
    HWND window = MakeWindow();
    ASSERT_NE(nullptr, window);
    LogMark mark;
    ::MoveWindow(window, 0, 0, 300, 100, TRUE);
    EXPECT_EQ(0, link.resizes);  // nothing held, nothing logged
    EXPECT_TRUE(mark.NewMessages().empty());

    ASSERT_EQ(S_OK, Startup(2, 2, L"persistent=true"));
    ::MoveWindow(window, 0, 0, 640, 480, TRUE);
    EXPECT_EQ(1, link.resizes);

    // The background is the black stock brush.
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, 640, 480);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    RECT all{0, 0, 640, 480};
    ::FillRect(memory, &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    EXPECT_EQ(0, ::SendMessageW(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(memory), 0));
    EXPECT_EQ(RGB(0, 0, 0), ::GetPixel(memory, 10, 10));
    EXPECT_EQ(RGB(0, 0, 0), ::GetPixel(memory, 639, 479));
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);

    // Destroying the window tears down even a persistent link and keeps the flag.
    ::DestroyWindow(window);
    EXPECT_EQ(1, link.teardowns);
    EXPECT_TRUE(control->persistent());
    VARIANT_BOOL ready = VARIANT_TRUE;
    control->isReadyToStart(&ready);
    EXPECT_EQ(VARIANT_FALSE, ready);
}

TEST_F(ControlTest, VersionIsTheModuleProductVersion) {
    Bstr first, second;
    EXPECT_EQ(E_POINTER, control->getVersion(nullptr));
    ASSERT_EQ(S_OK, control->getVersion(first.put()));
    EXPECT_EQ(0u, first.str().find(L"5.1.0."));
    EXPECT_GT(first.str().size(), 6u);
    ASSERT_EQ(S_OK, Startup());
    ASSERT_EQ(S_OK, control->getVersion(second.put()));
    EXPECT_EQ(first.str(), second.str());
}

// ---------------------------------------------------------------- operations

TEST_F(ControlTest, EveryOperationMeetsTheGuardWithoutAConsole) {
    LogMark mark;
    INT width = 7;
    EXPECT_EQ(E_POINTER, control->screenWidth(nullptr));
    EXPECT_EQ(E_FAIL, control->screenWidth(&width));
    EXPECT_EQ(0, width);
    EXPECT_EQ(E_FAIL, control->screenHeight(&width));
    EXPECT_EQ(E_FAIL, control->connect(nullptr, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(E_FAIL, control->disconnect());
    EXPECT_EQ(E_FAIL, control->setInputRelease(VARIANT_TRUE));
    EXPECT_EQ(E_FAIL, control->setScreenSize(1, 2));
    EXPECT_EQ(E_FAIL, control->sendCAD());
    EXPECT_EQ(E_FAIL, control->setFullscreen(VARIANT_TRUE));
    VARIANT_BOOL full = 5;
    EXPECT_EQ(E_FAIL, control->getFullscreen(&full));
    EXPECT_EQ(5, full);  // not written when the guard fails
    ZOVA_GrabState grab = static_cast<ZOVA_GrabState>(9);
    EXPECT_EQ(E_FAIL, control->getGrabState(&grab));
    EXPECT_EQ(9, grab);
    EXPECT_EQ(E_FAIL, control->grabInput());
    EXPECT_EQ(E_FAIL, control->ungrabInput());
    ZOVA_ConnectionState cs;
    EXPECT_EQ(E_POINTER, control->getConnectionState(nullptr));
    EXPECT_EQ(E_FAIL, control->getConnectionState(&cs));
    VARIANT list;
    VariantInit(&list);
    EXPECT_EQ(E_FAIL, control->getVirtualDevices(7, &list));
    EXPECT_EQ(E_FAIL, control->getPhysicalClientDevices(7, &list));
    EXPECT_EQ(E_FAIL, control->connectDevice(nullptr, nullptr, ZOVA_DB_FILE));
    EXPECT_EQ(E_FAIL, control->disconnectDevice(nullptr));
    IVirtualDeviceDetails* details = nullptr;
    EXPECT_EQ(E_FAIL, control->getVirtualDeviceDetails(nullptr, &details));
    EXPECT_EQ(nullptr, details);

    const auto messages = mark.NewMessages();
    EXPECT_EQ(18, std::count(messages.begin(), messages.end(), "VM control has not been created"));
    EXPECT_TRUE(link.vm->calls().empty());
}

TEST_F(ControlTest, ArgumentsAreConvertedAsTheConsoleExpects) {
    ASSERT_EQ(S_OK, Startup());
    FakeConsoleObject& vm = *link.vm;

    ASSERT_EQ(S_OK, control->setInputRelease(static_cast<VARIANT_BOOL>(5)));
    const auto* call = vm.LastCall(console::kSetInputRelease);
    ASSERT_NE(nullptr, call);
    ASSERT_EQ(1u, call->args.size());
    EXPECT_EQ(VT_BOOL, call->args[0].vt);
    EXPECT_EQ(VARIANT_TRUE, call->args[0].boolVal);

    ASSERT_EQ(S_OK, control->setScreenSize(-3, 0));
    call = vm.LastCall(console::kSetScreenSize);
    ASSERT_EQ(2u, call->args.size());
    EXPECT_EQ(VT_I4, call->args[0].vt);
    EXPECT_EQ(-3, call->args[0].lVal);
    EXPECT_EQ(0, call->args[1].lVal);

    vm.Answer_(console::kSendCAD, E_UNEXPECTED);
    EXPECT_EQ(E_UNEXPECTED, control->sendCAD());
}

TEST_F(ControlTest, ResultsAreWrittenOnlyOnSuccessWithTheRightType) {
    ASSERT_EQ(S_OK, Startup());
    FakeConsoleObject& vm = *link.vm;

    vm.AnswerI4(console::kGetScreenWidth, 1024);
    INT width = 0;
    ASSERT_EQ(S_OK, control->screenWidth(&width));
    EXPECT_EQ(1024, width);
    vm.AnswerUI4(console::kGetScreenHeight, 768);  // wrong type
    INT height = 5;
    EXPECT_EQ(DISP_E_TYPEMISMATCH, control->screenHeight(&height));
    EXPECT_EQ(0, height);

    vm.AnswerI4(console::kGetGrabState, 1);  // a UI4 is expected
    ZOVA_GrabState grab = static_cast<ZOVA_GrabState>(42);
    EXPECT_EQ(DISP_E_TYPEMISMATCH, control->getGrabState(&grab));
    EXPECT_EQ(42, grab);
    vm.AnswerUI4(console::kGetGrabState, 3);
    ASSERT_EQ(S_OK, control->getGrabState(&grab));
    EXPECT_EQ(ZOVA_GS_UNGRABBED_SOFT, grab);

    vm.AnswerUI4(console::kGetConnectionState, 7);  // passed on unmapped
    ZOVA_ConnectionState cs;
    ASSERT_EQ(S_OK, control->getConnectionState(&cs));
    EXPECT_EQ(7, cs);

    VARIANT_BOOL full = VARIANT_TRUE;
    vm.AnswerBool(console::kGetFullscreen, true);
    ASSERT_EQ(S_OK, control->getFullscreen(&full));
    EXPECT_EQ(VARIANT_TRUE, full);
    vm.Answer_(console::kGetFullscreen, E_ACCESSDENIED);
    EXPECT_EQ(E_ACCESSDENIED, control->getFullscreen(&full));
    EXPECT_EQ(VARIANT_FALSE, full);
}

TEST_F(ControlTest, ConnectAsksForFeaturesAndPassesTheProxySlot) {
    ASSERT_EQ(S_OK, Startup());
    FakeConsoleObject& vm = *link.vm;
    FakeConsoleObject& process = *link.process;

    process.Answer_(console::kGetFeatureFlags, E_NOINTERFACE);
    LogMark mark;
    EXPECT_EQ(E_NOINTERFACE,
              control->connect(nullptr, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_TRUE(mark.Saw("Failed to get feature flags: -2147467262"));
    EXPECT_EQ(nullptr, vm.LastCall(console::kConnect));

    process.AnswerUI4(console::kGetFeatureFlags, 4);
    Bstr host, thumb;
    Bstr::FromText(L"esx.example", host);
    thumb = Bstr::Attach(SysAllocStringLen(L"ab\0cd", 5));  // cut at its first NUL
    ASSERT_EQ(S_OK, control->connect(host.get(), thumb.get(), static_cast<VARIANT_BOOL>(2), nullptr, nullptr,
                                     nullptr, nullptr, nullptr, nullptr));
    const auto* call = vm.LastCall(console::kConnect);
    ASSERT_NE(nullptr, call);
    ASSERT_EQ(10u, call->args.size());
    EXPECT_EQ(std::wstring(L"esx.example"), call->args[0].bstrVal);
    EXPECT_EQ(2u, SysStringLen(call->args[1].bstrVal));
    EXPECT_EQ(VT_BOOL, call->args[2].vt);
    EXPECT_EQ(VARIANT_TRUE, call->args[2].boolVal);
    EXPECT_EQ(VT_BSTR, call->args[3].vt);
    EXPECT_EQ(nullptr, call->args[3].bstrVal);  // null stays null
    EXPECT_EQ(VT_BSTR, call->args[9].vt);
    EXPECT_EQ(nullptr, call->args[9].bstrVal);  // the proxy feature is off

    // Feature on: a resolved proxy, empty but never null when none applies.
    process.AnswerUI4(console::kGetFeatureFlags, 1);
    LogMark on;
    ASSERT_EQ(S_OK, control->connect(nullptr, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_TRUE(on.Saw("Browser proxy feature is enabled"));
    call = vm.LastCall(console::kConnect);
    EXPECT_EQ(nullptr, call->args[0].bstrVal);
    EXPECT_EQ(VT_BSTR, call->args[9].vt);
    EXPECT_NE(nullptr, call->args[9].bstrVal);
}

TEST_F(ControlTest, ConstantDictionariesEnumerateInTableOrder) {
    VARIANT first, second;
    VariantInit(&first);
    VariantInit(&second);
    EXPECT_EQ(E_POINTER, control->get_ZOVA_DeviceState(nullptr));
    ASSERT_EQ(S_OK, control->get_ZOVA_DeviceState(&first));
    ASSERT_EQ(S_OK, control->get_ZOVA_DeviceState(&second));
    ASSERT_EQ(VT_DISPATCH, first.vt);
    EXPECT_NE(first.pdispVal, second.pdispVal);  // a new dictionary every read

    ComPtr<IDictionary> dictionary;
    ASSERT_EQ(S_OK, first.pdispVal->QueryInterface(IID_IDictionary, dictionary.put_void()));
    VARIANT keys;
    VariantInit(&keys);
    ASSERT_EQ(S_OK, dictionary->Keys(&keys));
    LONG upper = -1;
    SafeArrayGetUBound(keys.parray, 1, &upper);
    ASSERT_EQ(1, upper);
    VARIANT key;
    LONG i = 0;
    SafeArrayGetElement(keys.parray, &i, &key);
    EXPECT_EQ(std::wstring(L"ZOVA_DS_CONNECTED"), key.bstrVal);
    VARIANT item;
    VariantInit(&item);
    ASSERT_EQ(S_OK, dictionary->get_Item(&key, &item));
    EXPECT_EQ(VT_I4, item.vt);
    EXPECT_EQ(2, item.lVal);
    VariantClear(&key);
    VariantClear(&keys);
    VariantClear(&first);
    VariantClear(&second);

    VARIANT speeds;
    VariantInit(&speeds);
    ASSERT_EQ(S_OK, control->get_ZOVA_USBDeviceSpeed(&speeds));
    ASSERT_EQ(S_OK, speeds.pdispVal->QueryInterface(IID_IDictionary, dictionary.put_void()));
    VARIANT name;
    name.vt = VT_BSTR;
    name.bstrVal = SysAllocString(L"ZOVA_USB_SPEED_UNKNOWN");
    ASSERT_EQ(S_OK, dictionary->get_Item(&name, &item));
    EXPECT_EQ(static_cast<LONG>(0x80000000u), item.lVal);
    VariantClear(&name);
    VariantClear(&speeds);

    VARIANT families;
    VariantInit(&families);
    ASSERT_EQ(S_OK, control->get_ZOVA_USBDeviceFamily(&families));
    ASSERT_EQ(S_OK, families.pdispVal->QueryInterface(IID_IDictionary, dictionary.put_void()));
    long count = 0;
    dictionary->get_Count(&count);
    EXPECT_EQ(18, count);
    VariantClear(&families);
}

// --------------------------------------------------------------- page events

namespace {

// A page sink that records what reaches it and answers a chosen status.
class PageSink final : public comfw::ComObject<PageSink, comfw::DispatchByIdOnly<IDispatch>> {
public:
    HRESULT answer = S_OK;
    std::vector<DISPID> ids;
    std::vector<std::vector<VARTYPE>> types;  // in parameter order
    std::vector<std::wstring> firstString;
    std::function<void()> during;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override {
        if (ppv && IsEqualIID(riid, DIID__IVelmoraEmbeddedRemoteConsoleEvents)) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        return ComObject::QueryInterface(riid, ppv);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                        UINT*) noexcept override {
        ids.push_back(id);
        std::vector<VARTYPE> t;
        for (UINT i = params->cArgs; i-- > 0;) t.push_back(params->rgvarg[i].vt);
        types.push_back(t);
        std::wstring s = L"<none>";
        for (UINT i = params->cArgs; i-- > 0;)
            if (params->rgvarg[i].vt == VT_BSTR) {
                s = params->rgvarg[i].bstrVal ? params->rgvarg[i].bstrVal : L"<null>";
                break;
            }
        firstString.push_back(s);
        if (during) during();
        return answer;
    }
};

DWORD Connect(ZOVAEmbeddedCtl& control, PageSink& sink) {
    ComPtr<IConnectionPoint> point;
    control.FindConnectionPoint(DIID__IVelmoraEmbeddedRemoteConsoleEvents, point.put());
    DWORD cookie = 0;
    point->Advise(static_cast<IDispatch*>(&sink), &cookie);
    return cookie;
}

}  // namespace

TEST_F(ControlTest, FiringCallsEverySinkAndReturnsTheLastResult) {
    EXPECT_EQ(S_OK, control->Fire_onVirtualDevicesChange());  // nobody listening

    ComPtr<PageSink> a, b, c;
    PageSink::Make(a);
    PageSink::Make(b);
    PageSink::Make(c);
    Connect(*control, *a);
    Connect(*control, *b);
    a->answer = E_FAIL;
    EXPECT_EQ(S_OK, control->Fire_onGrabStateChange(1));
    a->answer = S_OK;
    b->answer = E_ACCESSDENIED;
    EXPECT_EQ(E_ACCESSDENIED, control->Fire_onGrabStateChange(2));
    EXPECT_EQ(2u, a->ids.size());
    EXPECT_EQ(2u, b->ids.size());

    // A sink that disconnects itself, and one that connects a newcomer: the
    // rest of this firing still runs, the newcomer waits for the next one.
    b->answer = S_OK;
    a->during = [&] {
        ComPtr<IConnectionPoint> point;
        control->FindConnectionPoint(DIID__IVelmoraEmbeddedRemoteConsoleEvents, point.put());
        point->Unadvise(1);
        // Slots 0, 2 and 3 of the four, then a fifth slot beyond this firing's bound.
        for (int i = 0; i < 4; ++i) Connect(*control, *c);
        a->during = nullptr;
    };
    EXPECT_EQ(S_OK, control->Fire_onFullscreenChange(true));
    EXPECT_EQ(3u, b->ids.size());
    EXPECT_EQ(2u, c->ids.size());  // slots 2 and 3; slot 0 was already passed, slot 4 is beyond
    EXPECT_EQ(S_OK, control->Fire_onFullscreenChange(false));
    EXPECT_EQ(3u, a->ids.size());
    EXPECT_EQ(6u, c->ids.size());
}

TEST_F(ControlTest, EventArgumentsArriveInOrderWithTheirTypes) {
    ComPtr<PageSink> sink;
    PageSink::Make(sink);
    Connect(*control, *sink);
    Bstr host, reason;
    Bstr::FromText(L"host-1", host);
    ASSERT_EQ(S_OK, control->Fire_onDeviceStateChange(2, host.get(), nullptr, nullptr, nullptr, nullptr, true,
                                                       reason.get()));
    ASSERT_EQ(S_OK, control->Fire_onConnectionStateChange(1, nullptr, nullptr, nullptr, false, nullptr));
    ASSERT_EQ(S_OK, control->Fire_onScreenSizeChange(800, -1));
    ASSERT_EQ(S_OK, control->Fire_onMessage(4, nullptr));
    ASSERT_EQ(S_OK, control->Fire_onPhysicalClientDevicesChange());

    EXPECT_EQ((std::vector<DISPID>{6, 2, 4, 1, 8}), sink->ids);
    EXPECT_EQ((std::vector<VARTYPE>{VT_UI4, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_BOOL, VT_BSTR}),
              sink->types[0]);
    EXPECT_EQ(L"host-1", sink->firstString[0]);
    EXPECT_EQ((std::vector<VARTYPE>{VT_UI4, VT_BSTR, VT_BSTR, VT_BSTR, VT_BOOL, VT_BSTR}), sink->types[1]);
    EXPECT_EQ(L"<null>", sink->firstString[1]);
    EXPECT_EQ((std::vector<VARTYPE>{VT_I4, VT_I4}), sink->types[2]);
    EXPECT_EQ((std::vector<VARTYPE>{VT_UI4, VT_BSTR}), sink->types[3]);
    EXPECT_TRUE(sink->types[4].empty());
}

namespace {
void Pump() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}
HRESULT RaiseConsoleEvent(IDispatch* sink, DISPID id, std::vector<VARIANT> inOrder) {
    std::vector<VARIANT> lastFirst(inOrder.rbegin(), inOrder.rend());
    DISPPARAMS params{lastFirst.empty() ? nullptr : lastFirst.data(), nullptr, static_cast<UINT>(lastFirst.size()),
                      0};
    return sink->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}
VARIANT I4(LONG v) { VARIANT r; r.vt = VT_I4; r.lVal = v; return r; }
VARIANT UI4(ULONG v) { VARIANT r; r.vt = VT_UI4; r.ulVal = v; return r; }
}  // namespace

TEST_F(ControlTest, ConsoleEventsReachThePageAfterTheRefitAndNeverAfterTeardown) {
    MakeWindow();
    ComPtr<IDispatch> sink;
    ASSERT_EQ(S_OK, zova::CreateEventSinkFor(*control, sink));
    ComPtr<PageSink> page;
    PageSink::Make(page);
    Connect(*control, *page);

    int resizesAtFire = -1;
    page->during = [&] { resizesAtFire = link.resizes; };
    // Console event 3 is the screen size (page event 4); 2 is the grab state (page event 3).
    ASSERT_EQ(S_OK, RaiseConsoleEvent(sink.get(), console::kOnScreenSizeChange, {I4(1280), I4(720)}));
    ASSERT_EQ(S_OK, RaiseConsoleEvent(sink.get(), console::kOnGrabStateChange, {UI4(1)}));
    EXPECT_TRUE(page->ids.empty());  // nothing runs inside the console's call
    Pump();
    EXPECT_EQ((std::vector<DISPID>{4, 3}), page->ids);
    EXPECT_EQ(1, resizesAtFire);

    // After the link is torn down, queued events are dropped.
    ASSERT_EQ(S_OK, Startup());
    ComPtr<IDispatch> linkSink = link.sink;  // the fake's sink is not a real one; use ours
    static_cast<zova::EventSink*>(static_cast<zova::VMControlEventDisp*>(sink.get()))->SetOwner(control.get());
    ASSERT_EQ(S_OK, RaiseConsoleEvent(sink.get(), console::kOnVirtualDevicesChange, {}));
    control->shutdown();
    LogMark mark;
    Pump();
    EXPECT_EQ(2u, page->ids.size());
    EXPECT_TRUE(mark.Saw("Dropping onVirtualDevicesChange: the control has let its console go"));
}
