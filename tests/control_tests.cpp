// The control in-process with its console link faked: startup's checks and refusals, what
// it hands the link, what a failed start leaves, what destruction shuts down, how page
// events are fired. Teardown, the console window and the event cut-off: endtoend_tests.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/controlFakes.h"
#include "tests/ownLog.h"

using comfw::Bstr;
using comfw::ComPtr;
using zova::test::ControlRig;
using zova::test::FakeConsoleLink;
using zova::test::LogMark;
using zova::test::PageSink;

TEST(Control, StartupChecksPointerThenHeldThenMessageModeAndRefusesWhileHeldOrWaiting) {
    ControlRig rig;
    EXPECT_EQ(E_POINTER, rig.control->startup(2, static_cast<ZOVA_MessageMode>(0), nullptr, nullptr));
    LogMark mark;
    for (int mode : {0, 4}) EXPECT_EQ(E_INVALIDARG, rig.Startup(nullptr, 2, mode)) << "message mode " << mode;
    EXPECT_TRUE(mark.Saw("Invalid ZOVA_MessageMode mode: 4"));
    EXPECT_EQ(0, rig.link.starts);

    // A start still waiting for its console counts as held.
    HRESULT nestedStart = S_OK, nestedAttach = S_OK;
    rig.link.duringStart = [&] {
        Bstr inner;
        nestedStart = rig.control->startup(2, ZOVA_EVENT_MESSAGES, nullptr, inner.put());
        nestedAttach = rig.control->attach(nullptr);
    };
    ASSERT_EQ(S_OK, rig.Startup());
    EXPECT_EQ(E_FAIL, nestedStart);
    EXPECT_EQ(E_FAIL, nestedAttach);
    rig.link.duringStart = nullptr;
    LogMark again;
    // Once held, a second startup is refused before the message mode is looked at.
    EXPECT_EQ(E_FAIL, rig.Startup(nullptr, 2, 9));
    EXPECT_TRUE(again.Saw("startup has already been called"));
    EXPECT_EQ(E_FAIL, rig.control->attach(nullptr));
    EXPECT_TRUE(again.Saw("startup/attach has already been called"));
    EXPECT_EQ(1, rig.link.starts);
    EXPECT_EQ(0, rig.link.attaches);
    ASSERT_EQ(S_OK, rig.control->shutdown());
    EXPECT_EQ(S_OK, rig.Startup());  // and after shutdown it starts again
}

TEST(Control, StartupHandsTheLinkAnInstanceIdModesAndConfiguredFeatures) {
    const struct {
        const wchar_t* config;
        UINT modes;
        int messageMode;
        const wchar_t* prefix;
        uint32_t features;  // persistent 4, tunnelmks 2
        bool chrome;        // the chrome bit is reported, and still passed on
    } rows[] = {{nullptr, 2, 2, L"zova-ax-t-{", 0, false},
                {L" persistent = true ; tunnelmks=true", 6, 3, L"zova-ax-p-{", 6, false},
                {L"", 3, 1, L"zova-ax-t-{", 0, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "modes " << row.modes << " message mode " << row.messageMode);
        ControlRig rig;
        LogMark mark;
        ASSERT_EQ(S_OK, rig.Startup(row.config, row.modes, row.messageMode));
        const std::wstring id = rig.id.str();
        EXPECT_EQ(48u, id.size());  // a GUID in upper-case registry form follows (pages/events.html)
        EXPECT_EQ(row.prefix, id.substr(0, 11));
        EXPECT_EQ(id, rig.link.lastId);
        EXPECT_EQ(row.modes, rig.link.lastModes);
        EXPECT_EQ(row.messageMode, rig.link.lastMessageMode);
        EXPECT_EQ(row.features, rig.link.lastFeatures);
        EXPECT_EQ((row.features & 4) != 0, rig.control->persistent());
        EXPECT_EQ(row.chrome, mark.Saw("ZOVA_CHROME is not supported."));
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
        EXPECT_EQ(nullptr, rig.control->vm_control());
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

TEST(Control, DestructionShutsDownOnlyANonPersistentConsole) {
    for (bool persistent : {false, true}) {
        SCOPED_TRACE(persistent ? "persistent" : "not persistent");
        ControlRig rig;
        ASSERT_EQ(S_OK, rig.Startup(persistent ? L"persistent=true" : L""));
        const ULONG before = rig.link.vm->ref_count();
        rig.control.reset();
        EXPECT_EQ(persistent ? 0 : 1, rig.link.teardowns);
        EXPECT_EQ(before - 1, rig.link.vm->ref_count());  // let go either way
    }
}

// --------------------------------------------------------------- page events

TEST(PageEvents, FiringCallsEverySinkUpToItsBoundAndReturnsTheLastResult) {
    ComPtr<zova::ZOVAEmbeddedCtl> control;
    ASSERT_EQ(S_OK, zova::ZOVAEmbeddedCtl::Make(control));
    EXPECT_EQ(S_OK, control->Fire_onVirtualDevicesChange());  // nobody listening

    ComPtr<PageSink> a = PageSink::ConnectedTo(*control), b = PageSink::ConnectedTo(*control), c;
    ASSERT_TRUE(a && b);
    a->answer = E_FAIL;
    EXPECT_EQ(S_OK, control->Fire_onGrabStateChange(1));
    a->answer = S_OK;
    b->answer = E_ACCESSDENIED;
    EXPECT_EQ(E_ACCESSDENIED, control->Fire_onGrabStateChange(2));
    EXPECT_EQ(2u, a->events.size());
    EXPECT_EQ(2u, b->events.size());

    // A sink that disconnects itself and connects newcomers: the rest of this
    // firing still runs, and a slot beyond its bound waits for the next one.
    b->answer = S_OK;
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
    ASSERT_TRUE(rig.page);
    Bstr host;
    Bstr::FromText(L"host-1", host);
    zova::ZOVAEmbeddedCtl& control = *rig.control;
    ASSERT_EQ(S_OK, control.Fire_onDeviceStateChange(2, host.get(), nullptr, nullptr, nullptr, nullptr, true, nullptr));
    ASSERT_EQ(S_OK, control.Fire_onConnectionStateChange(1, nullptr, nullptr, nullptr, false, nullptr));
    ASSERT_EQ(S_OK, control.Fire_onScreenSizeChange(800, -1));
    ASSERT_EQ(S_OK, control.Fire_onMessage(4, nullptr));
    ASSERT_EQ(S_OK, control.Fire_onPhysicalClientDevicesChange());
    EXPECT_EQ((std::vector<std::wstring>{L"6: ui4 2, 'host-1', null, null, null, null, bool -1, null",
                                         L"2: ui4 1, null, null, null, bool 0, null", L"4: i4 800, i4 -1",
                                         L"1: ui4 4, null", L"8:"}),
              rig.page->events);
}

TEST(Control, ResultPointersAreCheckedBeforeTheGuardAndOutputsFollowTheirRules) {
    ControlRig rig;
    zova::ZOVAEmbeddedCtl& c = *rig.control;
    VARIANT v;
    VariantInit(&v);
    // A null result pointer comes first, with or without a console.
    for (int held = 0; held < 2; ++held) {
        SCOPED_TRACE(held);
        EXPECT_EQ(E_POINTER, c.getVersion(nullptr));
        EXPECT_EQ(E_POINTER, c.isReadyToStart(nullptr));
        EXPECT_EQ(E_POINTER, c.screenWidth(nullptr));
        EXPECT_EQ(E_POINTER, c.screenHeight(nullptr));
        EXPECT_EQ(E_POINTER, c.getFullscreen(nullptr));
        EXPECT_EQ(E_POINTER, c.getGrabState(nullptr));
        EXPECT_EQ(E_POINTER, c.getConnectionState(nullptr));
        EXPECT_EQ(E_POINTER, c.getVirtualDevices(7, nullptr));
        EXPECT_EQ(E_POINTER, c.getVirtualDeviceDetails(nullptr, nullptr));
        if (!held) ASSERT_EQ(S_OK, rig.Startup());
    }
    ASSERT_EQ(S_OK, c.shutdown());
    // Without a console: widths are zeroed, the other outputs left alone.
    INT width = 7;
    VARIANT_BOOL full = 5;
    ZOVA_GrabState grab = static_cast<ZOVA_GrabState>(9);
    EXPECT_EQ(E_FAIL, c.screenWidth(&width));
    EXPECT_EQ(0, width);
    EXPECT_EQ(E_FAIL, c.getFullscreen(&full));
    EXPECT_EQ(5, full);
    EXPECT_EQ(E_FAIL, c.getGrabState(&grab));
    EXPECT_EQ(9, grab);
}
