// The reference console process across a real process boundary, with the test program as the client calling by
// dispid exactly as the control does.
#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>
#include <olectl.h>
#include <functional>
#include <utility>

#include "comfw/comObject.h"
#include "comfw/dispatch.h"
#include "tests/consoleTestSupport.h"
#include "tests/rfbStreams.h"
#include "tests/rfbTestServer.h"
#include "win32/plugin/consoleCall.h"
#include "zova/consoleContract.h"
#include "zova/rfb/des.h"

using comfw::ComPtr;
using comfw::Variant;
using zova::CallConsole;
using namespace zova::console;
using namespace zova::test;
using Strings = std::vector<std::string>;

namespace {

constexpr ULONG kPersistent = 4;

std::wstring ConsoleExe() { return ProgramFolder() + L"velmora-zova.exe"; }
std::string Narrow(const std::wstring& ascii) { return std::string(ascii.begin(), ascii.end()); }

// A value as the tests write it: 'text' or null, true or false (exactly), [elements], else type:value.
std::string Show(const VARIANT& v) {
    std::string list;
    switch (v.vt) {
        case VT_BSTR: return v.bstrVal ? "'" + Narrow(TextOf(v)) + "'" : "null";
        case VT_BOOL: return v.boolVal == VARIANT_TRUE ? "true" : v.boolVal ? "BOOL:" + std::to_string(v.boolVal) : "false";
        case VT_I4: return "I4:" + std::to_string(v.lVal);
        case VT_UI4: return "UI4:" + std::to_string(v.ulVal);
        case VT_ARRAY | VT_VARIANT:
            for (const Variant& e : Elements(v)) list += (list.empty() ? "" : ",") + Show(e.get());
            return "[" + list + "]";
        default: return "vt" + std::to_string(v.vt);
    }
}
std::string Failed(HRESULT hr) { return "failed " + std::to_string(hr); }

// An operation's result as Show writes it, or its failure.
template <class... A>
std::string Ask(IDispatch* object, DISPID id, const A&... args) {
    Variant result;
    const HRESULT hr = zova::CallConsoleInto(object, id, result.ptr(), args...);
    return FAILED(hr) ? Failed(hr) : Show(result.get());
}

// Sets ZOVA_CONSOLE_FAULTS for the consoles started while it lives.
struct ScopedFaults {
    explicit ScopedFaults(const wchar_t* items) { ::SetEnvironmentVariableW(L"ZOVA_CONSOLE_FAULTS", items); }
    ~ScopedFaults() { ::SetEnvironmentVariableW(L"ZOVA_CONSOLE_FAULTS", nullptr); }
};

// One console started as the control starts it: the ready event, the process, a message-dispatching wait.
struct Console {
    std::wstring id;
    Process process;
    ComPtr<IDispatch> object;

    // Whether the console set its ready event within `waitMs`; made manual-reset, so that a wake does not take it.
    bool Launch(const std::wstring& tag, ULONG features, LONG messageMode = 2, DWORD parent = 0, DWORD waitMs = 10000) {
        id = NewInstanceId(tag);
        HANDLE ready = ::CreateEventW(nullptr, TRUE, FALSE, (zova::console::kReadyEventPrefix + id).c_str());
        const bool set = process.Start(ConsoleCommandLine(ConsoleExe(), parent ? parent : ::GetCurrentProcessId(), id, 6,
                                                          messageMode, features)) &&
                         PumpUntil([&] { return !::WaitForSingleObject(ready, 0); }, waitMs, {ready, process.pi.hProcess});
        ::CloseHandle(ready);
        return set;
    }
    // Launch, then bind; fails the test if either fails.
    void Start(const std::wstring& tag, ULONG features, LONG messageMode = 2, DWORD parent = 0) {
        ASSERT_TRUE(Launch(tag, features, messageMode, parent));
        ASSERT_EQ(S_OK, BindConsole(id, object));
    }
};

// An event sink that writes down every call as "dispid(arguments)", in call order.
struct RecordingSink final : comfw::ComObject<RecordingSink, comfw::DispatchByIdOnly<IDispatch>> {
    Strings calls;
    bool insideCall = false;  // set while the test is inside a call into the console
    int callsDuringOutgoingCall = 0;

    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                        UINT*) noexcept override {
        callsDuringOutgoingCall += insideCall;
        std::string args;
        for (UINT i = params ? params->cArgs : 0; i > 0; --i) args += (args.empty() ? "" : ",") + Show(params->rgvarg[i - 1]);
        calls.push_back(std::to_string(id) + (flags == DISPATCH_METHOD ? "(" : "[not a method](") + args + ")");
        return S_OK;
    }
    // Waits for `count` calls, then `settleMs` for any more; gives them all and forgets them.
    Strings Take(size_t count, DWORD settleMs = 0) {
        PumpUntil([&] { return calls.size() >= count; }, 5000);
        Pump(settleMs);
        return std::exchange(calls, {});
    }
};

ComPtr<RecordingSink> MakeSink() { ComPtr<RecordingSink> sink; RecordingSink::Make(sink); return sink; }
struct HostWindow {
    HWND hwnd = MakeHostWindow();
    ~HostWindow() { ::DestroyWindow(hwnd); }  // unless the test did
};

// CreateControl (or AttachControl) into `window` and Advise `sink`.
ComPtr<IDispatch> MakeControl(IDispatch* console, HWND window, RecordingSink* sink, DISPID how = ZOVA_DISPID_CREATE_CONTROL,
                              RECT r = {0, 0, 320, 240}) {
    Variant made;
    EXPECT_EQ(S_OK, zova::CallConsoleFor(console, how, VT_DISPATCH, made, Hwnd(window), I4(r.left), I4(r.top), I4(r.right),
                                         I4(r.bottom)));
    ComPtr<IDispatch> control(made.vt() == VT_DISPATCH ? made.get().pdispVal : nullptr);
    if (control && sink) { EXPECT_EQ(S_OK, CallConsole(control.get(), ZOVA_DISPID_ADVISE, Variant::Dispatch(sink))); }
    return control;
}

// The ten Connect arguments, in call order.
HRESULT Connect(IDispatch* control, const wchar_t* host, const wchar_t* proxy) {
    return CallConsole(control, ZOVA_DISPID_CONNECT, Str(host), Str(L"AB:CD:EF"), Bool(false), Str(L"ticket-1"), Str(L"operator"),
                       Str(L"secret"), Str(L"vm-42"), Str(L"dc-west"), Str(L"store-1/vm-42/vm-42.cfg"), Str(proxy));
}

}  // namespace

TEST(ConsoleCommandLine, RefusesBadOrMissingSwitchesAndBadFaultItemsWithoutRegistering) {
    const std::wstring id = NewInstanceId(L"cmdline");
    const std::wstring good = L"\"" + ConsoleExe() + L"\" --parent-PID 1 --instance-ID \"" + id + L"\" --modes 6 --message-mode 2";
    // A switch missing, with a bad value, given twice, unknown; a bad fault item.
    const struct { const wchar_t* faults; const wchar_t* more; } cases[] = {
        {nullptr, L""}, {nullptr, L" --features 4x"}, {nullptr, L" --features 0 --modes 2"},
        {nullptr, L" --features 0 --verbose 1"}, {L"fail=103:0x80004005; ready-later", L" --features 0"}};
    for (const auto& c : cases) {
        ScopedFaults faults(c.faults);
        Process p;
        EXPECT_TRUE(p.Start(good + c.more));
        EXPECT_EQ(2u, p.ExitCodeWithin(5000)) << Narrow(c.more);
    }
    ComPtr<IDispatch> object;
    EXPECT_EQ(MK_E_UNAVAILABLE, BindConsole(id, object));
}

// One persistent console, started once, serves the tests that need a session alone. Each makes its own control
// and sink; every control views the console's one session, and each test sets the state it checks.
class SharedConsole : public ::testing::Test {
protected:
    static constexpr ULONG kFeatures = 0x80000000u | 16 | kPersistent | 1;  // the top bit: written negative
    static inline Console* console = nullptr;
    static void SetUpTestSuite() { (console = new Console)->Start(L"shared", kFeatures); }
    static void TearDownTestSuite() { delete std::exchange(console, nullptr); }
    void SetUp() override {
        ASSERT_TRUE(console->object);
        ASSERT_TRUE(vm = MakeControl(console->object.get(), window.hwnd, sink.get(), ZOVA_DISPID_CREATE_CONTROL, {10, 20, 330, 260}));
    }
    void TearDown() override { if (vm) CallConsole(vm.get(), ZOVA_DISPID_DELETE); }
    HostWindow window;
    ComPtr<RecordingSink> sink = MakeSink();
    ComPtr<IDispatch> vm;
};

TEST_F(SharedConsole, AnswersEveryOperationWithTheContractTypesAndRaisesItsEvents) {
    IDispatch* c = vm.get();
    EXPECT_EQ("UI4:" + std::to_string(kFeatures), Ask(console->object.get(), ZOVA_DISPID_GET_FEATURE_FLAGS));
    // The console window: the console's own, a child of ours, at the rectangle.
    const HWND consoleWindow = ConsoleWindowOf(c);
    EXPECT_EQ(window.hwnd, ::GetAncestor(consoleWindow, GA_PARENT));
    DWORD owner = 0;
    ::GetWindowThreadProcessId(consoleWindow, &owner);
    EXPECT_EQ(console->process.pi.dwProcessId, owner);
    EXPECT_EQ((std::vector<LONG>{10, 20, 330, 260}), PlaceInParent(consoleWindow));

    // Connect: every argument is kept as it came (across processes the marshaller makes a null proxy empty). In
    // event message mode, a connection gives the state change, then a message.
    ASSERT_EQ(S_OK, Connect(c, L"host-07.lab.example", nullptr));
    EXPECT_EQ("['host-07.lab.example','AB:CD:EF',false,'ticket-1','operator','secret','vm-42','dc-west','store-1/vm-42/vm-42.cfg','']",
              Ask(c, ZOVA_DISPID_TEST_LAST_CONNECT_ARGS));
    EXPECT_EQ((Strings{"1(UI4:2,'host-07.lab.example','dc-west','vm-42',true,'')", "0(UI4:1,'Connected to host-07.lab.example')"}),
              sink->Take(2));
    // allowSSLErrors as I4, an empty host: refused, yet recorded as sent; the connection stands.
    EXPECT_EQ(DISP_E_TYPEMISMATCH, CallConsole(c, ZOVA_DISPID_CONNECT, Str(L"host-b"), Str(L""), I4(1), Str(L""), Str(L""), Str(L""),
                                               Str(L"vm-1"), Str(L""), Str(L""), Str(L"proxy:3128")));
    EXPECT_EQ("['host-b','',I4:1,'','','','vm-1','','','proxy:3128']", Ask(c, ZOVA_DISPID_TEST_LAST_CONNECT_ARGS));
    EXPECT_EQ(E_INVALIDARG, Connect(c, L"", nullptr));
    EXPECT_EQ("UI4:2", Ask(c, ZOVA_DISPID_GET_CONNECTION_STATE));

    // Screen, full screen and input, each with its event; input release off changes nothing by itself.
    ASSERT_EQ(S_OK, CallConsole(c, ZOVA_DISPID_SET_SCREEN_SIZE, I4(800), I4(600)));
    ASSERT_EQ(S_OK, CallConsole(c, ZOVA_DISPID_SET_FULLSCREEN, Bool(true)));
    ASSERT_EQ(S_OK, CallConsole(c, ZOVA_DISPID_GRAB_INPUT));
    ASSERT_EQ(S_OK, CallConsole(c, ZOVA_DISPID_UNGRAB_INPUT));
    ASSERT_EQ(S_OK, CallConsole(c, ZOVA_DISPID_SET_INPUT_RELEASE, Bool(true)));
    ASSERT_EQ(S_OK, CallConsole(c, ZOVA_DISPID_SET_INPUT_RELEASE, Bool(false)));
    EXPECT_EQ((Strings{"3(I4:800,I4:600)", "4(true)", "2(UI4:1)", "2(UI4:2)", "2(UI4:3)"}), sink->Take(5, 150));
    // Ctrl-Alt-Delete reaches the guest, without an event; refused arguments leave the session alone.
    const ULONG cads = std::stoul(Ask(c, ZOVA_DISPID_TEST_CAD_COUNT).substr(4));
    ASSERT_EQ(S_OK, CallConsole(c, ZOVA_DISPID_SEND_CAD));
    EXPECT_EQ(E_INVALIDARG, CallConsole(c, ZOVA_DISPID_SET_SCREEN_SIZE, I4(0), I4(600)));
    EXPECT_EQ((Strings{"UI4:3", "I4:800", "I4:600", "true", "UI4:" + std::to_string(cads + 1)}),
              (Strings{Ask(c, ZOVA_DISPID_GET_GRAB_STATE), Ask(c, ZOVA_DISPID_GET_SCREEN_WIDTH), Ask(c, ZOVA_DISPID_GET_SCREEN_HEIGHT), Ask(c, ZOVA_DISPID_GET_FULLSCREEN),
                       Ask(c, ZOVA_DISPID_TEST_CAD_COUNT)}));

    ASSERT_EQ(S_OK, CallConsole(c, ZOVA_DISPID_DISCONNECT));
    EXPECT_EQ("UI4:1", Ask(c, ZOVA_DISPID_GET_CONNECTION_STATE));
    EXPECT_EQ(Strings{"1(UI4:1,'host-07.lab.example','dc-west','vm-42',true,'')"}, sink->Take(1, 150));
}

TEST_F(SharedConsole, ListsDetailsAndConnectsDevices) {
    IDispatch* c = vm.get();
    ASSERT_EQ(S_OK, Connect(c, L"host-dev", nullptr));
    sink->Take(2);
    // Lists: keys by type mask, in table order. Details: nine texts, numbers unsigned decimal, flags true/false.
    EXPECT_EQ((Strings{"['floppy-0','cdrom-0','usb-0']", "['floppy-0','usb-0']", "[]",
                       "['client-cdrom-d','client-usb-1','client-usb-2']", "['client-usb-1','client-usb-2']", "[]",
                       "['cdrom-0','2','1','false','CD/DVD drive 1','true','1','','']"}),
              (Strings{Ask(c, ZOVA_DISPID_GET_VIRTUAL_DEVICES, UI4(7)), Ask(c, ZOVA_DISPID_GET_VIRTUAL_DEVICES, UI4(1 | 4)),
                       Ask(c, ZOVA_DISPID_GET_VIRTUAL_DEVICES, UI4(0)), Ask(c, ZOVA_DISPID_GET_PHYSICAL_CLIENT_DEVICES, UI4(7)),
                       Ask(c, ZOVA_DISPID_GET_PHYSICAL_CLIENT_DEVICES, UI4(4)), Ask(c, ZOVA_DISPID_GET_PHYSICAL_CLIENT_DEVICES, UI4(1)),
                       Ask(c, ZOVA_DISPID_GET_VIRTUAL_DEVICE_DETAILS, Str(L"cdrom-0"))}));
    const std::string reader = Ask(c, ZOVA_DISPID_GET_PHYSICAL_CLIENT_DEVICE_DETAILS, Str(L"client-usb-2"));
    EXPECT_EQ(",'4096','true','2147483650']", reader.substr(reader.size() - 28));

    // Refused: unknown keys, a virtual key in the physical list, a mismatched type, an unknown backing.
    for (const std::string& refused :
         {Ask(c, ZOVA_DISPID_GET_VIRTUAL_DEVICE_DETAILS, Str(L"cdrom-9")), Ask(c, ZOVA_DISPID_GET_PHYSICAL_CLIENT_DEVICE_DETAILS, Str(L"cdrom-0")),
          Ask(c, ZOVA_DISPID_GET_VIRTUAL_DEVICE_DETAILS, Str(nullptr)), Ask(c, ZOVA_DISPID_DISCONNECT_DEVICE, Str(L"usb-3")),
          Ask(c, ZOVA_DISPID_CONNECT_DEVICE, Str(L"cdrom-0"), Str(L"client-usb-1"), UI4(2)),
          Ask(c, ZOVA_DISPID_CONNECT_DEVICE, Str(L"cdrom-7"), Str(L"client-cdrom-d"), UI4(2)),
          Ask(c, ZOVA_DISPID_CONNECT_DEVICE, Str(L"cdrom-0"), Str(L"client-cdrom-d"), UI4(3))}) {
        EXPECT_EQ(Failed(E_INVALIDARG), refused);
    }
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD n = MAX_COMPUTERNAME_LENGTH + 1;
    ::GetComputerNameW(name, &n);
    ASSERT_EQ(S_OK, CallConsole(c, ZOVA_DISPID_CONNECT_DEVICE, Str(L"cdrom-0"), Str(L"client-cdrom-d"), UI4(2)));
    EXPECT_EQ("['cdrom-0','2','2','true','CD/DVD drive 1','true','2','client-cdrom-d','" + Narrow(name) + "']",
              Ask(c, ZOVA_DISPID_GET_VIRTUAL_DEVICE_DETAILS, Str(L"cdrom-0")));
    ASSERT_EQ(S_OK, CallConsole(c, ZOVA_DISPID_CONNECT_DEVICE, Str(L"floppy-0"), Str(L"C:\\images\\boot.flp"), UI4(1)));
    ASSERT_EQ(S_OK, CallConsole(c, ZOVA_DISPID_DISCONNECT_DEVICE, Str(L"cdrom-0")));
    EXPECT_EQ("['cdrom-0','2','1','false','CD/DVD drive 1','true','2','','']", Ask(c, ZOVA_DISPID_GET_VIRTUAL_DEVICE_DETAILS, Str(L"cdrom-0")));
    // Each change: the device's state, then the list changed.
    const std::string from = "'host-dev','dc-west','vm-42',";
    EXPECT_EQ((Strings{"5(UI4:2," + from + "'cdrom-0','client-cdrom-d',true,'')", "6()",
                       "5(UI4:2," + from + "'floppy-0','C:\\images\\boot.flp',true,'')", "6()",
                       "5(UI4:1," + from + "'cdrom-0','client-cdrom-d',true,'')", "6()"}),
              sink->Take(6, 100));
}

TEST_F(SharedConsole, EventsComeAfterTheCallInOrderAndOnlyWhileAdvised) {
    IDispatch* c = vm.get();
    EXPECT_EQ("true", Ask(c, ZOVA_DISPID_TEST_IS_ADVISED));
    // Raised after the operation's call has returned, never inside it.
    sink->insideCall = true;
    ASSERT_EQ(S_OK, CallConsole(c, ZOVA_DISPID_SET_FULLSCREEN, Bool(true)));
    sink->insideCall = false;
    EXPECT_TRUE(sink->calls.empty());
    EXPECT_EQ(Strings{"4(true)"}, sink->Take(1));
    EXPECT_EQ(0, sink->callsDuringOutgoingCall);

    // A second client attaches a control of its own: session events reach both sinks, hook events only their own.
    ComPtr<IDispatch> secondBind;
    ASSERT_EQ(S_OK, BindConsole(console->id, secondBind));
    const ComPtr<RecordingSink> other = MakeSink(), again = MakeSink();
    const ComPtr<IDispatch> vm2 = MakeControl(secondBind.get(), window.hwnd, other.get(), ZOVA_DISPID_ATTACH_CONTROL);
    ASSERT_TRUE(vm2);
    EXPECT_EQ("true", Ask(vm2.get(), ZOVA_DISPID_GET_FULLSCREEN)) << "one session";
    ASSERT_EQ(S_OK, CallConsole(vm2.get(), ZOVA_DISPID_GRAB_INPUT));
    ASSERT_EQ(S_OK, CallConsole(vm2.get(), ZOVA_DISPID_TEST_RAISE_EVENT, I4(ZOVA_EVENTID_VIRTUAL_DEVICES_CHANGE), Variant()));
    EXPECT_EQ((Strings{"2(UI4:1)", "6()"}), other->Take(2));
    EXPECT_EQ(Strings{"2(UI4:1)"}, sink->Take(1, 150));

    // Unadvised: nothing more, from operations or the hook. Advised again with another sink: events go there.
    ASSERT_EQ(S_OK, CallConsole(c, ZOVA_DISPID_UNADVISE));
    EXPECT_EQ("false", Ask(c, ZOVA_DISPID_TEST_IS_ADVISED));
    ASSERT_EQ(S_OK, CallConsole(c, ZOVA_DISPID_SET_FULLSCREEN, Bool(false)));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, CallConsole(c, ZOVA_DISPID_TEST_RAISE_EVENT, I4(6), Variant()));
    EXPECT_EQ(Strings{"4(false)"}, other->Take(1, 200));
    EXPECT_TRUE(sink->calls.empty());
    ASSERT_EQ(S_OK, CallConsole(c, ZOVA_DISPID_ADVISE, Variant::Dispatch(again.get())));
    ASSERT_EQ(S_OK, CallConsole(c, ZOVA_DISPID_UNGRAB_INPUT));
    EXPECT_EQ(Strings{"2(UI4:2)"}, again->Take(1));
    EXPECT_EQ(Strings{"2(UI4:2)"}, other->Take(1));

    // Deleted: the control refuses everything and raises nothing; the other control goes on.
    ASSERT_EQ(S_OK, CallConsole(c, ZOVA_DISPID_DELETE));
    EXPECT_EQ((Strings{"false", Failed(E_UNEXPECTED), Failed(E_UNEXPECTED), Failed(E_UNEXPECTED),
                       Failed(CONNECT_E_NOCONNECTION)}),
              (Strings{Ask(c, ZOVA_DISPID_TEST_IS_ADVISED), Ask(c, ZOVA_DISPID_SET_FULLSCREEN, Bool(true)), Ask(c, ZOVA_DISPID_DELETE), Ask(c, ZOVA_DISPID_GET_CONNECTION_STATE),
                       Ask(c, ZOVA_DISPID_TEST_RAISE_EVENT, I4(6), Variant())}));
    ASSERT_EQ(S_OK, CallConsole(vm2.get(), ZOVA_DISPID_SET_FULLSCREEN, Bool(true)));
    EXPECT_EQ(Strings{"4(true)"}, other->Take(1, 150));
    EXPECT_TRUE(again->calls.empty());
    EXPECT_EQ(S_OK, CallConsole(vm2.get(), ZOVA_DISPID_DELETE));
}

using zova::test::Bytes;
constexpr int32_t kRaw = 0, kCopyRect = 1, kDesktopSize = -223;

// The test server's first steps: version 3.8, VNC authentication with `password` (the Connect helper sends
// "secret"), ServerInit of 32x16; false if the client's answer was wrong (the server then says so and ends).
bool Greet(RfbPeer& peer, const char* password = "secret", const char* failure = "") {
    const std::vector<uint8_t> challenge{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0xF0};
    peer.Send(Bytes().Raw("RFB 003.008\n").U8(1).U8(2).v);
    peer.Receive(13);  // version and security type
    peer.Send(challenge);
    uint8_t expected[16];
    zova::rfb::VncAuthResponse(password, challenge.data(), expected);
    const bool ok = peer.Receive(16) == std::vector<uint8_t>(expected, expected + 16);
    peer.Send(ok ? Bytes().U32(0).v : Bytes().U32(1).Text(failure).v);
    if (!ok) return false;
    peer.Receive(1);  // shared
    peer.Send(Bytes().U16(32).U16(16).Raw(std::string(16, '\0')).Text("vm-42").v);
    peer.Receive(20 + 24 + 10);  // pixel format, encodings, first update request
    return true;
}

uint8_t Shade(int x, int y, int c) { return static_cast<uint8_t>(c == 0 ? x * 8 : c == 1 ? y * 16 : 0x40 + x + y); }

TEST_F(SharedConsole, DrivesARealVmOverRfb) {
    IDispatch* c = vm.get();
    std::vector<uint8_t> keys, pointer;
    RfbTestServer server([&](RfbPeer& peer) {
        if (!Greet(peer)) return;
        // A full frame of known pixels, then its left half copied to the right.
        Bytes frame = Bytes().U8(0).U8(0).U16(2).Rect(0, 0, 32, 16, kRaw);
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 32; ++x) frame.Pixel(Shade(x, y, 0) << 16 | Shade(x, y, 1) << 8 | Shade(x, y, 2));
        }
        peer.Send(frame.Rect(16, 0, 16, 16, kCopyRect).U16(0).U16(0).v);
        peer.Receive(10);  // the next, incremental, update request
        keys = peer.Receive(6 * 8, 15000);
        pointer = peer.Receive(6, 15000);
        peer.Send(Bytes().U8(0).U8(0).U16(1).Rect(0, 0, 40, 20, kDesktopSize).v);
        peer.Receive(10);
    });
    const std::string host = "127.0.0.1:" + std::to_string(server.port());
    ASSERT_EQ(S_OK, Connect(c, server.endpoint().c_str(), nullptr));
    EXPECT_EQ((Strings{"1(UI4:2,'" + host + "','dc-west','vm-42',true,'')", "0(UI4:1,'Connected to " + host + "')",
                       "3(I4:32,I4:16)"}),
              sink->Take(3));
    EXPECT_EQ("UI4:2", Ask(c, ZOVA_DISPID_GET_CONNECTION_STATE));
    EXPECT_EQ("I4:16", Ask(c, ZOVA_DISPID_GET_SCREEN_HEIGHT));
    std::string expected = "32x16:";
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 32; ++x) {
            for (int k = 0; k < 3; ++k) expected += static_cast<char>(Shade(x % 16, y, k));
        }
    }
    EXPECT_TRUE(PumpUntil([&] { return ConsoleFrame(c) == expected; }, 5000)) << ConsoleFrame(c).substr(0, 8);

    // Full screen: a window of the console's own over the whole screen, and back.
    const DWORD pid = std::stoul(Ask(c, ZOVA_DISPID_TEST_PROCESS_ID).substr(4));
    const auto fullScreenWindows = [pid] {
        std::pair<DWORD, int> search{pid, 0};
        ::EnumWindows([](HWND w, LPARAM p) {
            auto* s = reinterpret_cast<std::pair<DWORD, int>*>(p);
            DWORD owner = 0;
            ::GetWindowThreadProcessId(w, &owner);
            RECT r{};
            ::GetWindowRect(w, &r);
            s->second += owner == s->first && ::IsWindowVisible(w) && r.right == ::GetSystemMetrics(SM_CXSCREEN);
            return TRUE;
        }, reinterpret_cast<LPARAM>(&search));
        return search.second;
    };
    ASSERT_EQ(S_OK, CallConsole(c, ZOVA_DISPID_SET_FULLSCREEN, Bool(true)));
    EXPECT_EQ(Strings{"4(true)"}, sink->Take(1));
    EXPECT_EQ(1, fullScreenWindows());
    ASSERT_EQ(S_OK, CallConsole(c, ZOVA_DISPID_SET_FULLSCREEN, Bool(false)));
    EXPECT_EQ(Strings{"4(false)"}, sink->Take(1));
    EXPECT_EQ(0, fullScreenWindows());
    // No ExtendedDesktopSize from this server: a new size is refused, with a message.
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED), CallConsole(c, ZOVA_DISPID_SET_SCREEN_SIZE, I4(800), I4(600)));
    EXPECT_EQ(Strings{"0(UI4:3,'The server does not let clients change the screen size')"}, sink->Take(1));
    // Ctrl, Alt, Delete down, then up in reverse.
    ASSERT_EQ(S_OK, CallConsole(c, ZOVA_DISPID_SEND_CAD));
    EXPECT_EQ(FromHex("040100000000FFE3" "040100000000FFE9" "040100000000FFFF"
                      "040000000000FFFF" "040000000000FFE9" "040000000000FFE3"),
              (PumpUntil([&] { return !keys.empty(); }, 5000), keys));
    // The mouse in the 320x240 window, scaled to the 32x16 guest.
    ::PostMessageW(ConsoleWindowOf(c), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(160, 120));
    EXPECT_EQ(FromHex("0501" "0010" "0008"), (PumpUntil([&] { return !pointer.empty(); }, 15000), pointer));
    // The server's new size, then its end.
    EXPECT_EQ((Strings{"3(I4:40,I4:20)", "1(UI4:1,'" + host + "','dc-west','vm-42',false,'The server closed the connection')",
                       "0(UI4:3,'The server closed the connection')"}),
              sink->Take(3));
    EXPECT_EQ("UI4:1", Ask(c, ZOVA_DISPID_GET_CONNECTION_STATE));
}

TEST_F(SharedConsole, ReportsRefusedFailedAndMalformedSessionsAndGoesOn) {
    IDispatch* c = vm.get();
    // One failure in the handshake, one in a session (the RFB client's other reasons: rfb_tests).
    const struct {
        const char* name;
        std::function<void(RfbPeer&)> script;
        std::string reason;
        size_t before;  // events before the end: none, or connected, its message and the screen size
    } cases[] = {
        {"wrong password", [](RfbPeer& p) { Greet(p, "other", "no such luck"); }, "Authentication failed: no such luck", 0},
        {"rectangle outside the screen",
         [](RfbPeer& p) {
             if (Greet(p)) p.Send(Bytes().U8(0).U8(0).U16(1).Rect(30, 10, 8, 8, kRaw).v), p.Receive(1, 3000);
         },
         "The server sent a malformed message: a rectangle 8x8 at 30,10 outside the 32x16 screen", 3},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        RfbTestServer server(k.script);
        const std::string host = "127.0.0.1:" + std::to_string(server.port());
        ASSERT_EQ(S_OK, Connect(c, server.endpoint().c_str(), nullptr));
        Strings events = sink->Take(k.before + 2);
        ASSERT_EQ(k.before + 2, events.size());
        events.erase(events.begin(), events.begin() + k.before);
        EXPECT_EQ((Strings{"1(UI4:1,'" + host + "','dc-west','vm-42',false,'" + k.reason + "')", "0(UI4:3,'" + k.reason + "')"}),
                  events);
        EXPECT_EQ("UI4:1", Ask(c, ZOVA_DISPID_GET_CONNECTION_STATE));
    }
    // Outside loopback without a policy value: refused before any connection, naming the policy.
    const std::string policy = "The console's endpoint policy (AllowedEndpoints) is not set, which allows loopback addresses "
                               "only, not host-01.lab.example:5900";
    EXPECT_EQ(E_ACCESSDENIED, Connect(c, L"host-01.lab.example:5900", nullptr));
    EXPECT_EQ((Strings{"1(UI4:1,'host-01.lab.example:5900','dc-west','vm-42',false,'" + policy + "')", "0(UI4:3,'" + policy + "')"}),
              sink->Take(2));
    EXPECT_EQ(E_INVALIDARG, Connect(c, L"host-01.lab.example:70000", nullptr));
    // The simulated VM is there as before.
    ASSERT_EQ(S_OK, Connect(c, L"host-01.lab.example", nullptr));
    EXPECT_EQ("1(UI4:2,'host-01.lab.example','dc-west','vm-42',true,'')", sink->Take(2).at(0));
}

// (no-ready and no-register: see the launcher's tests of the console link.)
TEST(ConsoleFaults, ResultFaultsFailWrongTypeAndExitAndTheReadyEventComesLate) {
    {
        ScopedFaults faults(L"fail=103:0x80070057; fail=3:-2147467259; wrong-type=0; wrong-type=108; wrong-type=105:3; "
                            L"exit=120:7");
        Console console;
        console.Start(L"faults", 0);
        HostWindow window;
        EXPECT_EQ(Failed(E_FAIL), Ask(console.object.get(), ZOVA_DISPID_GET_FEATURE_FLAGS));
        EXPECT_EQ("'wrong type'", Ask(console.object.get(), ZOVA_DISPID_CREATE_CONTROL, Hwnd(window.hwnd), I4(0), I4(0), I4(9), I4(9)));
        const ComPtr<IDispatch> vm = MakeControl(console.object.get(), window.hwnd, nullptr, ZOVA_DISPID_ATTACH_CONTROL);
        ASSERT_TRUE(vm);
        // Operations without a fault are untouched; SendCAD ends the process inside the call.
        EXPECT_EQ((Strings{Failed(E_INVALIDARG), "'wrong type'", "I4:0", "I4:768"}),
                  (Strings{Ask(vm.get(), ZOVA_DISPID_GET_CONNECTION_STATE), Ask(vm.get(), ZOVA_DISPID_GET_SCREEN_WIDTH), Ask(vm.get(), ZOVA_DISPID_GET_FULLSCREEN),
                           Ask(vm.get(), ZOVA_DISPID_GET_SCREEN_HEIGHT)}));
        EXPECT_TRUE(FAILED(CallConsole(vm.get(), ZOVA_DISPID_SEND_CAD)));
        EXPECT_EQ(7u, console.process.ExitCodeWithin(5000));
    }
    // Ready late, and registered before it; where the table refuses a
    // registration open to any client, an ordinary one serves.
    ScopedFaults faults(L"ready-delay=600; any-client-refused");
    Console console;
    const ULONGLONG start = ::GetTickCount64();
    ASSERT_TRUE(console.Launch(L"ready-delay", 0));
    EXPECT_GE(::GetTickCount64() - start, 600u);
    EXPECT_EQ(S_OK, BindConsole(console.id, console.object));
}

TEST(ConsoleLifetime, NonPersistentEndsAfterDeleteOnceReleasedOrAfterAGracePeriodAndRevokes) {
    Console released, kept;
    released.Start(L"delete", 1);
    kept.Start(L"grace", 0);
    HostWindow window;
    const ComPtr<RecordingSink> sink = MakeSink();
    ComPtr<IDispatch> vm = MakeControl(released.object.get(), window.hwnd, sink.get()),
                      keptVm = MakeControl(kept.object.get(), window.hwnd, nullptr);
    ASSERT_TRUE(vm && keptVm);
    ASSERT_EQ(S_OK, CallConsole(vm.get(), ZOVA_DISPID_UNADVISE));
    ASSERT_EQ(S_OK, CallConsole(vm.get(), ZOVA_DISPID_DELETE));
    ASSERT_EQ(S_OK, CallConsole(keptVm.get(), ZOVA_DISPID_DELETE));
    const ULONGLONG deleted = ::GetTickCount64();
    // Deleted: while the client holds the control the process waits; it ends on release, or after a grace period.
    Pump(300);
    ASSERT_TRUE(released.process.running());
    EXPECT_EQ("false", Ask(vm.get(), ZOVA_DISPID_TEST_IS_ADVISED));
    vm.reset();
    EXPECT_EQ(0u, released.process.ExitCodeWithin(1500));
    EXPECT_EQ(MK_E_UNAVAILABLE, BindConsole(released.id, released.object));
    EXPECT_TRUE(sink->calls.empty());
    EXPECT_EQ(0u, kept.process.ExitCodeWithin(6000));
    EXPECT_GE(::GetTickCount64() - deleted, 2500u);
}

TEST(ConsoleLifetime, WithoutItsParentNonPersistentEndsWhenNothingIsAttachedPersistentStaysAndIsAttachedAgain) {
    // A parent to watch that never runs a line of its own and that the test can end at will.
    Process parent;
    ASSERT_TRUE(parent.Start(L"\"" + ConsoleExe() + L"\"", CREATE_SUSPENDED));
    // A: nothing attached. B: a control in our window. P: persistent, in dialog message mode, idle limit 2 s.
    Console a, b, p;
    a.Start(L"parent-a", 0, 2, parent.pi.dwProcessId);
    b.Start(L"parent-b", 0, 2, parent.pi.dwProcessId);
    {
        ScopedFaults faults(L"idle-ms=2000");
        p.Start(L"persistent", kPersistent | 1, 1, parent.pi.dwProcessId);
    }
    HostWindow window, pWindow;
    ComPtr<RecordingSink> sink = MakeSink();
    ComPtr<IDispatch> vm = MakeControl(b.object.get(), window.hwnd, nullptr),
                      pVm = MakeControl(p.object.get(), pWindow.hwnd, sink.get());
    ASSERT_TRUE(vm && pVm);
    ASSERT_EQ(S_OK, Connect(pVm.get(), L"host-p", L"proxy-p:8080"));
    EXPECT_EQ(Strings{"1(UI4:2,'host-p','dc-west','vm-42',true,'')"}, sink->Take(1, 200)) << "and no message";
    ASSERT_EQ(S_OK, CallConsole(pVm.get(), ZOVA_DISPID_UNADVISE));
    ASSERT_EQ(S_OK, CallConsole(pVm.get(), ZOVA_DISPID_DELETE));
    pVm.reset(), p.object.reset();
    EXPECT_TRUE(a.process.running());

    // The parent is gone: A ends, P stays. Another process attaches, finds the session, resizes; then we again.
    ::TerminateProcess(parent.pi.hProcess, 98);
    EXPECT_EQ(0u, a.process.ExitCodeWithin(3000));
    ASSERT_TRUE(p.process.running());
    Process client;
    const std::wstring clientExe = ProgramFolder() + L"console_client.exe";
    ASSERT_TRUE(client.Start(L"\"" + clientExe + L"\" \"" + p.id + L"\" host-p 640 480", 0));
    EXPECT_EQ(0u, client.ExitCodeWithin(10000)) << "the step where console_client failed";
    ASSERT_TRUE(p.process.running());
    ASSERT_EQ(S_OK, BindConsole(p.id, p.object));
    ASSERT_TRUE(pVm = MakeControl(p.object.get(), pWindow.hwnd, sink.get(), ZOVA_DISPID_ATTACH_CONTROL));
    EXPECT_EQ((Strings{"UI4:" + std::to_string(kPersistent | 1), "UI4:2", "I4:640", "I4:480"}),
              (Strings{Ask(p.object.get(), ZOVA_DISPID_GET_FEATURE_FLAGS), Ask(pVm.get(), ZOVA_DISPID_GET_CONNECTION_STATE),
                       Ask(pVm.get(), ZOVA_DISPID_GET_SCREEN_WIDTH), Ask(pVm.get(), ZOVA_DISPID_GET_SCREEN_HEIGHT)}));

    // B, with its control attached, stays; once our window (and the console's in it) is gone, it ends on release.
    Pump(300);
    ASSERT_TRUE(b.process.running());
    EXPECT_EQ("UI4:1", Ask(vm.get(), ZOVA_DISPID_GET_CONNECTION_STATE));
    ::DestroyWindow(window.hwnd);
    Pump(300);
    ASSERT_TRUE(b.process.running());
    vm.reset();
    EXPECT_EQ(0u, b.process.ExitCodeWithin(1500));

    // While attached, P's idle limit does not run; once idle, it ends after the limit, not before, and revokes.
    Pump(2200);
    ASSERT_TRUE(p.process.running());
    ASSERT_EQ(S_OK, CallConsole(pVm.get(), ZOVA_DISPID_DELETE));
    pVm.reset(), p.object.reset();
    const ULONGLONG deleted = ::GetTickCount64();
    EXPECT_EQ(0u, p.process.ExitCodeWithin(6000));
    EXPECT_GE(::GetTickCount64() - deleted, 1800u);
    EXPECT_EQ(MK_E_UNAVAILABLE, BindConsole(p.id, p.object));
    EXPECT_TRUE(sink->calls.empty());
}
