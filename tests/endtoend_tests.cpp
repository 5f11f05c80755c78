// The control in-process with its shipping link and the reference console process: the console window in the
// control's window, teardown; and its COM surface (safety, interfaces, property bag).
#include <gtest/gtest.h>

#include <olectl.h>

#include "tests/consoleTestSupport.h"
#include "tests/controlFakes.h"
#include "win32/plugin/consoleCall.h"
#include "zova/consoleContract.h"

using comfw::ComPtr;
using comfw::Variant;
using zova::ZOVAEmbeddedCtl;

namespace {

const std::vector<DISPID> kTeardown{ZOVA_DISPID_UNADVISE, ZOVA_DISPID_DELETE};

using zova::test::ConsoleWindowOf;
using Place = std::vector<LONG>;  // left, top, right, bottom in the parent's client area
const auto PlaceOf = zova::test::PlaceInParent;

bool IsAdvised(IDispatch* realVm) {
    Variant advised;
    return SUCCEEDED(zova::CallConsoleFor(realVm, ZOVA_DISPID_TEST_IS_ADVISED, VT_BOOL, advised)) &&
           advised.get().boolVal == VARIANT_TRUE;
}

// A control on the shipping link (its VM control calls recorded) in a window of
// this thread, and the process of the console it started, which must end with the test.
class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        host = ::CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 800, 600, nullptr, nullptr,
                                 nullptr, nullptr);
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
    // Starts the console and opens its process.
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
    // The console made its window as the one child of the control's window,
    // from its own process, covering the client area.
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

    // A screen-size event refits a console window knocked out of place behind
    // the control's back, before the page hears of it.
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
    EXPECT_FALSE(IsAdvised(rig.link.realVm.get()));
    EXPECT_EQ(nullptr, ConsoleWindowOf(rig.link.realVm.get()));
    rig.control.reset();
    EXPECT_EQ(2u, rig.link.vm->CallIds().size());
    EXPECT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(process, 0));
}

// ------------------------------------------------------ the COM surface, without a console

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
    const auto options = [&](REFIID iid) {  // "status supported/enabled"
        DWORD supported = 9, enabled = 9;
        const HRESULT hr = safety->GetInterfaceSafetyOptions(iid, &supported, &enabled);
        return std::to_string(hr) + " " + std::to_string(supported) + "/" + std::to_string(enabled);
    };
    EXPECT_EQ("0 3/0", options(IID_IDispatch));
    EXPECT_EQ(S_OK, safety->SetInterfaceSafetyOptions(IID_IDispatch, 3, 3));
    EXPECT_EQ("0 3/3", options(IID_IDispatch));
    EXPECT_EQ(S_OK, safety->SetInterfaceSafetyOptions(IID_IPersistPropertyBag, 2, 0));
    EXPECT_EQ("0 3/1", options(IID_IDispatch));  // only the masked bits change, for every interface
    EXPECT_EQ(E_FAIL, safety->SetInterfaceSafetyOptions(IID_IDispatch, 4, 4));
    EXPECT_EQ(E_FAIL, safety->SetInterfaceSafetyOptions(IID_IDispatch, 7, 3));
    EXPECT_EQ(E_NOINTERFACE, safety->SetInterfaceSafetyOptions(IID_IPersistFile, 3, 3));
    EXPECT_EQ(std::to_string(E_NOINTERFACE) + " 0/0", options(IID_IPersistFile));
    DWORD enabled = 0;
    EXPECT_EQ(E_POINTER, safety->GetInterfaceSafetyOptions(IID_IDispatch, nullptr, &enabled));
}

TEST_F(Surface, EveryInterfaceOfTheTableAnswersWithOneIdentity) {
    const IID* table[] = {
        &IID_IVelmoraEmbeddedRemoteConsole, &IID_IDispatch, &IID_IViewObjectEx, &IID_IViewObject2,
        &IID_IViewObject, &IID_IOleInPlaceObjectWindowless, &IID_IOleInPlaceObject, &IID_IOleWindow,
        &IID_IOleInPlaceActiveObject, &IID_IOleControl, &IID_IOleObject, &IID_IPersistStreamInit, &IID_IPersist,
        &IID_ISupportErrorInfo, &IID_ISpecifyPropertyPages, &IID_IQuickActivate, &IID_IPersistStorage,
        &IID_IDataObject, &IID_IProvideClassInfo, &IID_IProvideClassInfo2, &IID_IConnectionPointContainer,
        &IID_IObjectSafety, &IID_IPersistPropertyBag};
    const size_t count = sizeof(table) / sizeof(table[0]);
    ComPtr<IUnknown> identity = As<IUnknown>();
    for (size_t i = 0; i < count; ++i) {
        SCOPED_TRACE(testing::Message() << "table entry " << i);
        ComPtr<IUnknown> answer, back, other;
        ASSERT_EQ(S_OK, control->QueryInterface(*table[i], answer.put_void()));
        ASSERT_EQ(S_OK, answer->QueryInterface(IID_IUnknown, back.put_void()));
        EXPECT_EQ(identity.get(), back.get());
        // Each answer is itself a way back to every other interface.
        EXPECT_EQ(S_OK, answer->QueryInterface(*table[(i + 7) % count], other.put_void()));
    }
    for (const IID* missing : {&IID_IPersistFile, &IID_IOleInPlaceSite, &IID_IRunnableObject, &IID_IPointerInactive}) {
        void* nothing = reinterpret_cast<void*>(1);
        EXPECT_EQ(E_NOINTERFACE, control->QueryInterface(*missing, &nothing));
        EXPECT_EQ(nullptr, nothing);
    }
}

TEST_F(Surface, ThePropertyBagLoadsOnlyTheExtentAsUnsignedNumbers) {
    ComPtr<IPersistPropertyBag> persist = As<IPersistPropertyBag>();
    ComPtr<zova::test::PropertyBagProbe> bag;
    ASSERT_TRUE(persist && SUCCEEDED(zova::test::PropertyBagProbe::Make(bag)));
    bag->Set({{L"_cx", L"8467"}, {L"_cy", L"5292"}, {L"advancedConfiguration", L"persistent=true"},
              {L"ZOVA_Mode", L"not a number"}, {L"width", L"12"}});
    ASSERT_EQ(S_OK, persist->InitNew());
    ASSERT_EQ(S_OK, persist->Load(bag.get(), nullptr));
    EXPECT_EQ((std::vector<std::wstring>{L"_cx", L"_cy"}), bag->reads);
    EXPECT_FALSE(control->persistent());  // a param is never configuration
    // A value an unsigned 32-bit number cannot hold is refused and leaves the extent as it was.
    bag->values.clear();
    bag->Set({{L"_cx", L"-5"}});
    ASSERT_EQ(S_OK, persist->Load(bag.get(), nullptr));
    SIZEL extent{};
    ASSERT_EQ(S_OK, As<IOleObject>()->GetExtent(DVASPECT_CONTENT, &extent));
    EXPECT_EQ(8467, extent.cx);
    EXPECT_EQ(5292, extent.cy);
}
