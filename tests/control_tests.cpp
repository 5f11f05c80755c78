// The control in-process with its console link faked (teardown, the console window, the event cut-off: endtoend_tests).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/consoleTestSupport.h"
#include "tests/controlFakes.h"
#include "pluginlog/pluginLog.h"
#include "tests/ownLog.h"
#include "win32/plugin/consoleCall.h"
#include "zova/consoleContract.h"

using comfw::Bstr;
using comfw::ComPtr;
using zova::test::ControlRig;
using zova::test::FakeConsoleLink;
using zova::test::LogMark;
using zova::test::PageSink;

namespace {

struct ControlWindow {
    zova::test::TestWindow host;
    RECT rect{0, 0, 320, 200};
    HWND window;
    explicit ControlWindow(zova::ZOVAEmbeddedCtl& control)
        : window(control.CreateWindowFor(host.hwnd, &rect, nullptr, zova::ZOVAEmbeddedCtl::kWindowStyle, 0)) {}
};

// Queues a message of `text` in the shipping sink as the console's call does.
HRESULT QueueMessage(IDispatch* sink, const wchar_t* text) {
    return zova::CallConsole(sink, ZOVA_EVENTID_MESSAGE, comfw::Variant::UI4(1),
                             comfw::Variant::OwnBstr(::SysAllocString(text)));
}

}  // namespace

TEST(Control, StartupChecksPointerThenHeldThenMessageModeAndRefusesWhileHeldOrWaiting) {
    ControlRig rig;
    EXPECT_EQ(E_POINTER, rig.control->startup(2, static_cast<ZOVA_MessageMode>(0), nullptr, nullptr));
    for (int mode : {0, 4}) EXPECT_EQ(E_INVALIDARG, rig.Startup(nullptr, 2, mode)) << "message mode " << mode;

    // A start still waiting for its console counts as held.
    HRESULT nestedStart = S_OK, nestedAttach = S_OK;
    rig.link.duringStart = [&] {
        nestedStart = rig.Startup();
        nestedAttach = rig.control->attach(nullptr);
    };
    ASSERT_EQ(S_OK, rig.Startup());
    EXPECT_EQ(E_FAIL, nestedStart);
    EXPECT_EQ(E_FAIL, nestedAttach);
    rig.link.duringStart = nullptr;
    // Once held, a second startup is refused before the message mode is looked at.
    EXPECT_EQ(E_FAIL, rig.Startup(nullptr, 2, 9));
    EXPECT_EQ(E_FAIL, rig.control->attach(nullptr));
    EXPECT_EQ(1, rig.link.starts);
}

TEST(Control, StartupHandsTheLinkAnInstanceIdModesAndConfiguredFeatures) {
    const struct {
        const wchar_t* config;
        UINT modes;
        int messageMode;
        const wchar_t* prefix;
        uint32_t features;  // persistent 4, tunnelmks 2
    } rows[] = {{L" persistent = true ; tunnelmks=true", 6, 3, L"zova-ax-p-{", 6},
                {L"", 3, 1, L"zova-ax-t-{", 0}};  // the chrome bit, reported but still passed on
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "modes " << row.modes << " message mode " << row.messageMode);
        ControlRig rig;
        ASSERT_EQ(S_OK, rig.Startup(row.config, row.modes, row.messageMode));
        const std::wstring id = rig.id.str();
        EXPECT_EQ(row.prefix, id.substr(0, 11));  // a GUID in upper-case registry form follows: pages/events.html
        EXPECT_EQ(id, rig.link.lastId);
        EXPECT_EQ(row.modes, rig.link.lastModes);
        EXPECT_EQ(row.messageMode, rig.link.lastMessageMode);
        EXPECT_EQ(row.features, rig.link.lastFeatures);
        EXPECT_EQ((row.features & 4) != 0, rig.control->persistent());
    }
}

TEST(Control, AFailedStartOrAttachLeavesIdleAndReleasesTheSink) {
    const struct {
        HRESULT FakeConsoleLink::*result;
        HRESULT hr;
        bool attach;
        const char* report;
    } rows[] = {
        {&FakeConsoleLink::startResult, E_ACCESSDENIED, false,
         "Failed to start ZOVA process and create VM control: -2147024891"},
        {&FakeConsoleLink::attachResult, E_FAIL, true,
         "Failed to attach to ZOVA process and create VM control: -2147467259"},
        {&FakeConsoleLink::sinkResult, E_OUTOFMEMORY, true, "Failed to create event sink: -2147024882"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.report);
        ControlRig rig;
        rig.link.*row.result = row.hr;
        LogMark mark;
        EXPECT_EQ(row.hr, row.attach ? rig.control->attach(nullptr) : rig.Startup(L"persistent=true"));
        EXPECT_TRUE(mark.Saw(row.report));
        EXPECT_TRUE(rig.id.is_null());
        // A failed start keeps the persistent flag its configuration gave; a failed attach sets none.
        EXPECT_EQ(!row.attach, rig.control->persistent());
        const bool sinkMade = row.result != &FakeConsoleLink::sinkResult;
        EXPECT_EQ(sinkMade ? 1 : 0, rig.link.starts + rig.link.attaches);
        if (sinkMade) {  // only the link's own copy of the sink is left
            rig.link.sink->AddRef();
            EXPECT_EQ(1u, rig.link.sink->Release());
        }
        rig.link.*row.result = S_OK;
        EXPECT_EQ(S_OK, rig.Startup());  // idle again: the next start goes through
    }
}

TEST(Control, DestructionShutsDownOnlyAConsoleOfItsOwn) {
    // An attached console belongs to whoever started it: it is only let go.
    const struct {
        const char* how;
        bool attach;
        const wchar_t* config;
        int teardowns;
    } rows[] = {{"started", false, L"", 1}, {"started persistent", false, L"persistent=true", 0},
                {"attached", true, nullptr, 0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.how);
        ControlRig rig;
        ASSERT_EQ(S_OK, row.attach ? rig.control->attach(nullptr) : rig.Startup(row.config));
        const ULONG before = rig.link.vm->ref_count();
        rig.control.reset();
        EXPECT_EQ(row.teardowns, rig.link.teardowns);
        EXPECT_EQ(before - 1, rig.link.vm->ref_count());  // let go either way
    }
}

TEST(Control, AShutdownOrTheWindowsEndWhileTheStartWaitsCancelsItCleanly) {
    // The wait dispatches messages, so page script and window messages reach the control meanwhile. Whatever the
    // start made is torn down again, the page hears E_ABORT, and the control is Idle: it starts again.
    const struct {
        const char* what;
        bool attach, destroyWindow;
        const wchar_t* config;
    } rows[] = {{"shutdown during a persistent startup", false, false, L"persistent=true"},
                {"shutdown during attach", true, false, nullptr},
                {"window destroyed during startup", false, true, nullptr},
                {"window destroyed during attach", true, true, nullptr}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        ControlRig rig;
        ControlWindow w(*rig.control);
        rig.link.duringStart = [&] {
            if (row.destroyWindow)
                ::DestroyWindow(w.window);
            else
                rig.control->shutdown();
        };
        LogMark mark;
        EXPECT_EQ(E_ABORT, row.attach ? rig.control->attach(nullptr) : rig.Startup(row.config));
        EXPECT_TRUE(mark.Saw("The start was cancelled while it waited for the console"));
        EXPECT_EQ(nullptr, rig.control->console_process());
        EXPECT_EQ(1, rig.link.teardowns);
        EXPECT_FALSE(rig.control->persistent() && !row.destroyWindow);
        rig.link.duringStart = nullptr;
        EXPECT_EQ(S_OK, rig.Startup());
    }
}

TEST(Control, ATeardownEnteredAgainWhileItsCallsWaitRunsOnce) {
    ControlRig rig;
    ASSERT_EQ(S_OK, rig.Startup());
    HRESULT nested = E_UNEXPECTED;
    bool once = true;
    rig.link.duringTeardown = [&] {
        if (std::exchange(once, false)) nested = rig.control->shutdown();
    };
    EXPECT_EQ(S_OK, rig.control->shutdown());
    EXPECT_EQ(S_OK, nested);
    EXPECT_EQ(1, rig.link.teardowns);  // the nested one found nothing left to tear down
}

// Every user's log would be kept forever if a trace became a report; a failure's report keeps it.
TEST(Control, TracesLeaveTheLogToBeDeletedAndReportsKeepIt) {
    ControlRig rig;
    ControlWindow w(*rig.control);
    const auto expectLog = [](const std::function<void()>& step, const std::vector<std::string>& lines, bool kept) {
        LogMark mark;
        PluginLogClearKeepForTesting();
        step();
        EXPECT_EQ(lines, mark.NewMessages());
        EXPECT_EQ(kept, PluginLogKeepMarked() != 0) << lines.back();
    };
    const char* const kParsed = "Advanced config parsed into the features: 0";
    expectLog([&] { rig.control->sendCAD(); }, {"VM control has not been created"}, false);
    expectLog([&] { rig.control->shutdown(); }, {"shutdown called", "VM control has not been created"}, false);
    expectLog([&] { rig.Startup(nullptr, 2, 7); }, {"startup called", "Invalid ZOVA_MessageMode mode: 7"}, true);
    rig.link.startResult = E_FAIL;
    expectLog([&] { rig.Startup(); },
              {"startup called", kParsed, "Failed to start ZOVA process and create VM control: -2147467259"}, true);
    rig.link.startResult = S_OK;
    expectLog([&] { rig.Startup(); }, {"startup called", kParsed, "startup succeeded"}, false);
    expectLog([&] { rig.Startup(); }, {"startup called", "startup has already been called"}, false);
    expectLog([&] { rig.control->attach(nullptr); }, {"attach called", "startup/attach has already been called"},
              false);
    rig.control->shutdown();
    expectLog([&] { rig.control->attach(nullptr); }, {"attach called", "attach succeeded"}, false);
    rig.control->shutdown();
    expectLog([&] { rig.Startup(nullptr, 3); },
              {"startup called", "ZOVA_CHROME is not supported.", kParsed, "startup succeeded"}, true);
    rig.link.vm->Answer(ZOVA_DISPID_GET_HWND, comfw::Variant::I4(0).get());  // a console without a window
    expectLog([&] { ::MoveWindow(w.window, 0, 0, 100, 100, TRUE); }, {"No window assiciated with the VM control"},
              false);
}

TEST(Control, AFailingCallLeavesAFreshErrorObjectAndASucceedingOneNone) {
    ControlRig rig;
    const auto takeError = [] {
        ComPtr<IErrorInfo> info;
        return ::GetErrorInfo(0, info.put()) == S_OK ? info : ComPtr<IErrorInfo>();
    };
    // Its description reaches the page (errors.html); the source and interface name the control.
    EXPECT_EQ(E_FAIL, rig.control->sendCAD());
    ComPtr<IErrorInfo> info = takeError();
    ASSERT_TRUE(info);
    Bstr description, source;
    GUID iid{};
    info->GetSource(source.put());
    info->GetGUID(&iid);
    EXPECT_EQ(L"Velmora.RemoteConsole", source.str());
    EXPECT_TRUE(::IsEqualGUID(IID_IVelmoraEmbeddedRemoteConsole, iid));

    // A stale object left on the thread by someone else is cleared by a success.
    EXPECT_EQ(E_FAIL, rig.control->disconnect());
    ASSERT_EQ(S_OK, rig.Startup());
    EXPECT_FALSE(takeError());
    // A call nested in another's wait has its own reason; the outer keeps its own.
    rig.control->shutdown();
    rig.link.startResult = E_ACCESSDENIED;
    rig.link.duringStart = [&] { rig.control->disconnect(); };
    EXPECT_EQ(E_ACCESSDENIED, rig.Startup());
    info = takeError();
    ASSERT_TRUE(info);
    info->GetDescription(description.put());
    EXPECT_EQ(L"startup: the console could not be started; the diagnostic log has the details", description.str());
}

namespace {

// A details answer: a VARIANT array, bounds lower..upper, of the texts as strings (past the texts: empty strings).
comfw::Variant DetailsAnswer(std::vector<std::wstring> texts, LONG lower = 0, LONG upper = 8) {
    comfw::Variant answer;
    answer.ptr()->vt = VT_ARRAY | VT_VARIANT;
    answer.ptr()->parray = ::SafeArrayCreateVector(VT_VARIANT, lower, static_cast<ULONG>(upper - lower + 1));
    texts.resize(static_cast<size_t>(upper - lower + 1));
    for (LONG i = lower; i <= upper; ++i) {
        const std::wstring& text = texts[static_cast<size_t>(i - lower)];
        comfw::Variant element = comfw::Variant::OwnBstr(::SysAllocStringLen(text.data(), text.size()));
        ::SafeArrayPutElement(answer.get().parray, &i, element.ptr());
    }
    return answer;
}

}  // namespace

TEST(DeviceDetails, WhatTheConsoleAnswersIsCheckedAndConvertedOrRefusedWithItsReport) {
    const std::vector<std::wstring> good{L"cd-1", L"2", L"1", L"true", L"CD", L"false", L"1", L"", L"host-01"};
    const auto with = [&](size_t i, std::wstring text) {
        auto texts = good;
        texts[i] = std::move(text);
        return DetailsAnswer(texts);
    };
    comfw::Variant numberElement = DetailsAnswer(good);
    LONG two = 2;
    ::SafeArrayPutElement(numberElement.get().parray, &two, comfw::Variant::I4(4).ptr());
    // The conversion itself on random arrays: fuzz/detailsFuzz.cpp. Here: what the control
    // reports of a refused answer (the log kept), and that it hands out no half-filled object.
    const struct {
        const char* what;
        comfw::Variant answer;
        const char* report;  // null: converted
        VARIANT_BOOL connectedByMe;
        ULONG type;
    } rows[] = {
        {"type text 4", with(1, L"4"), nullptr, VARIANT_TRUE, 4},
        {"flag true with a NUL inside", with(3, std::wstring(L"true\0x", 6)), nullptr, VARIANT_FALSE, 2},
        {"not an array", comfw::Variant::OwnBstr(::SysAllocString(L"cd-1")), "Unexpected type returned from ZOVA: 8"},
        {"bounds 0..9", DetailsAnswer(good, 0, 9), "Unexpected details size returned from ZOVA: (1, 0, 9)"},
        {"bounds 1..9", DetailsAnswer(good, 1, 9), "Unexpected details size returned from ZOVA: (1, 1, 9)"},
        {"a number element", std::move(numberElement), "Unexpected details element 2 returned from ZOVA: type 3"},
        {"a number that does not convert", with(6, L"1x"),
         "Unexpected details element 6 returned from ZOVA: not a number"},
        {"a number with a NUL inside", with(1, std::wstring(L"2\0", 2)),
         "Unexpected details element 1 returned from ZOVA: not a number"},
    };
    ControlRig rig;
    ASSERT_EQ(S_OK, rig.Startup());
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        rig.link.vm->Answer(ZOVA_DISPID_GET_VIRTUAL_DEVICE_DETAILS, row.answer.get());
        LogMark mark;
        PluginLogClearKeepForTesting();
        ComPtr<IVirtualDeviceDetails> details;
        EXPECT_EQ(row.report ? E_FAIL : S_OK, rig.control->getVirtualDeviceDetails(nullptr, details.put()));
        EXPECT_EQ(row.report ? std::vector<std::string>{row.report} : std::vector<std::string>{}, mark.NewMessages());
        EXPECT_EQ(row.report != nullptr, PluginLogKeepMarked() != 0);
        EXPECT_EQ(!row.report, static_cast<bool>(details));
        VARIANT_BOOL mine = 5;
        ZOVA_DeviceType type{};
        EXPECT_TRUE(!details || (details->get_connectedByMe(&mine) == S_OK && mine == row.connectedByMe)) << mine;
        EXPECT_TRUE(!details || (details->get_type(&type) == S_OK && ULONG(type) == row.type)) << type;
    }
    // A failing call is traced with its status and passed on.
    rig.link.vm->Fail(ZOVA_DISPID_GET_PHYSICAL_CLIENT_DEVICE_DETAILS, E_INVALIDARG);
    LogMark mark;
    ComPtr<IPhysicalClientDeviceDetails> physical;
    EXPECT_EQ(E_INVALIDARG, rig.control->getPhysicalClientDeviceDetails(nullptr, physical.put()));
    EXPECT_EQ(std::vector<std::string>{"IVMControl::GetPhysicalClientDeviceDetails failed: -2147024809"},
              mark.NewMessages());
}

// A started control whose console was handed the shipping event sink, `sink`.
struct EventSink : testing::Test {
    void SetUp() override {
        rig.link.realSink = true;
        ASSERT_EQ(S_OK, rig.Startup());
        sink = rig.link.sink.get();
    }
    ControlRig rig;
    IDispatch* sink = nullptr;
};

TEST_F(EventSink, EventsQueuedBeforeShutdownStillReachThePage) {
    ControlWindow w(*rig.control);
    ASSERT_EQ(S_OK, QueueMessage(sink, L"the last word"));
    ASSERT_EQ(S_OK, zova::CallConsole(sink, ZOVA_EVENTID_SCREEN_SIZE_CHANGE, comfw::Variant::I4(640),
                                      comfw::Variant::I4(480)));
    ASSERT_EQ(S_OK, rig.control->shutdown());
    LogMark afterShutdown;
    zova::test::Pump(0);
    EXPECT_EQ((std::vector<std::wstring>{L"1: ui4 1, 'the last word'", L"4: i4 640, i4 480"}), rig.page->events);
    EXPECT_TRUE(afterShutdown.Saw("ResizeVMWindow: no VM control"));  // the refit had nothing to fit
}

TEST_F(EventSink, AFloodOfEventsArrivesCompleteAndInOrderWhileThePageCallsTheControl) {
    rig.link.vm->AnswerUI4(ZOVA_DISPID_GET_CONNECTION_STATE, 2);
    constexpr int kEvents = 20000;
    int calls = 0;
    rig.page->during = [&](DISPID) {
        ZOVA_ConnectionState state{};
        calls += rig.control->getConnectionState(&state) == S_OK && state == 2;
        if (calls % 1000 == 0) QueueMessage(sink, L"late");  // more arrive while the page is busy
        rig.page->answer = calls % 999 == 0 ? DISP_E_EXCEPTION : S_OK;  // now and then a handler throws
    };
    for (int i = 0; i < kEvents; ++i) ASSERT_EQ(S_OK, QueueMessage(sink, std::to_wstring(i).c_str()));
    zova::test::Pump(0);
    const auto& events = rig.page->events;
    int next = 0;
    for (const std::wstring& e : events) {
        if (e == L"1: ui4 1, 'late'") continue;
        ASSERT_EQ(L"1: ui4 1, '" + std::to_wstring(next) + L"'", e);
        ++next;
    }
    EXPECT_EQ(kEvents, next);
    EXPECT_EQ(kEvents + 20, calls);
}

TEST_F(EventSink, AHandlerThatReleasesTheControlDoesNotDestroyItUnderTheDelivery) {
    ASSERT_EQ(S_OK, QueueMessage(sink, L"first"));
    ASSERT_EQ(S_OK, QueueMessage(sink, L"second"));
    ComPtr<PageSink> page = rig.page;
    bool destroyedInHandler = true;
    page->during = [&](DISPID) {
        if (!rig.control) return;
        LogMark mark;
        rig.control.reset();  // the page's last reference
        destroyedInHandler = mark.Saw("shutdown called");
    };
    LogMark mark;
    zova::test::Pump(0);
    EXPECT_FALSE(destroyedInHandler);
    EXPECT_TRUE(mark.Saw("shutdown called"));  // once the delivery let go
    EXPECT_EQ(std::vector<std::wstring>{L"1: ui4 1, 'first'"}, page->events);
    EXPECT_TRUE(mark.Saw("Dropping onMessage: the control is gone"));
}

TEST(PageEvents, FiringCallsEverySinkUpToItsBoundAndReturnsTheLastResult) {
    ComPtr<zova::ZOVAEmbeddedCtl> control;
    ASSERT_EQ(S_OK, zova::ZOVAEmbeddedCtl::Make(control));
    EXPECT_EQ(S_OK, control->Fire_onVirtualDevicesChange());  // nobody listening

    ComPtr<PageSink> a = PageSink::ConnectedTo(*control), b = PageSink::ConnectedTo(*control), c;
    ASSERT_TRUE(a && b);
    a->answer = E_FAIL;
    EXPECT_EQ(S_OK, control->Fire_onGrabStateChange(1));
    b->answer = E_ACCESSDENIED;
    EXPECT_EQ(E_ACCESSDENIED, control->Fire_onGrabStateChange(2));

    // A sink unadvises itself and advises newcomers: this firing goes on; a slot beyond its bound waits for the next.
    PageSink::Make(c);
    a->during = [&](DISPID) {
        ComPtr<IConnectionPoint> point;
        control->FindConnectionPoint(DIID__IVelmoraEmbeddedRemoteConsoleEvents, point.put());
        point->Unadvise(1);
        DWORD cookie = 0;  // slots 0, 2 and 3 of the four, then a fifth slot
        for (int i = 0; i < 4; ++i) point->Advise(static_cast<IDispatch*>(c.get()), &cookie);
        a->during = nullptr;
    };
    EXPECT_EQ(S_OK, control->Fire_onFullscreenChange(true));
    EXPECT_EQ(3u, b->events.size());
    EXPECT_EQ(2u, c->events.size());  // slots 2 and 3; slot 0 was already passed, slot 4 is beyond
    EXPECT_EQ(S_OK, control->Fire_onFullscreenChange(false));
    EXPECT_EQ(3u, a->events.size());
    EXPECT_EQ(6u, c->events.size());
}

TEST(PageEvents, ArgumentsArriveInOrderWithTheirTypesAndNullStringsStayNull) {
    ControlRig rig;
    const Bstr host = Bstr::Attach(::SysAllocString(L"host-1"));
    zova::ZOVAEmbeddedCtl& control = *rig.control;
    // A message and a screen size, as the console's events bring them: the EventSink tests.
    ASSERT_EQ(S_OK, control.Fire_onDeviceStateChange(2, host.get(), nullptr, nullptr, nullptr, nullptr, true, nullptr));
    ASSERT_EQ(S_OK, control.Fire_onConnectionStateChange(1, nullptr, nullptr, nullptr, false, nullptr));
    ASSERT_EQ(S_OK, control.Fire_onPhysicalClientDevicesChange());
    EXPECT_EQ((std::vector<std::wstring>{L"6: ui4 2, 'host-1', null, null, null, null, bool -1, null",
                                         L"2: ui4 1, null, null, null, bool 0, null", L"8:"}),
              rig.page->events);
}

TEST(Control, ResultPointersAreCheckedBeforeTheGuardAndOutputsFollowTheirRules) {
    ControlRig rig;
    zova::ZOVAEmbeddedCtl& c = *rig.control;
    // A null result pointer comes first, with or without a console.
    for (int held = 0; held < 2; ++held) {
        int call = 0;
        for (HRESULT hr : {c.getVersion(nullptr), c.isReadyToStart(nullptr), c.screenWidth(nullptr),
                           c.screenHeight(nullptr), c.getFullscreen(nullptr), c.getGrabState(nullptr),
                           c.getConnectionState(nullptr), c.getVirtualDevices(7, nullptr),
                           c.getVirtualDeviceDetails(nullptr, nullptr)}) {
            EXPECT_EQ(E_POINTER, hr) << "call " << call++ << (held ? " with a console" : "");
        }
        if (!held) { ASSERT_EQ(S_OK, rig.Startup()); }
    }
    ASSERT_EQ(S_OK, c.shutdown());
    // Without a console: widths are zeroed, the other outputs left alone.
    INT width = 7;
    VARIANT_BOOL full = 5;
    ZOVA_GrabState grab = static_cast<ZOVA_GrabState>(9);
    EXPECT_EQ(E_FAIL, c.screenWidth(&width));
    EXPECT_EQ(E_FAIL, c.getFullscreen(&full));
    EXPECT_EQ(E_FAIL, c.getGrabState(&grab));
    EXPECT_EQ(0, width);
    EXPECT_EQ(5, full);
    EXPECT_EQ(9, grab);
}
