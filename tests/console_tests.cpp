// The reference console across a process boundary, this program its client, calling by dispid as the control does.
#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>
#include <olectl.h>
#include <utility>

#include "comfw/comObject.h"
#include "comfw/dispatch.h"
#include "tests/consoleTestSupport.h"
#include "tests/logTestSupport.h"
#include "tests/rfbStreams.h"
#include "tests/rfbTestServer.h"
#include "win32/plugin/consoleCall.h"
#include "win32/plugin/procControl.h"
#include "zova/consoleContract.h"

using comfw::ComPtr;
using comfw::Variant;
using zova::AttachToConsoleProcess;
using zova::CallConsole;
using namespace zova::console;
using namespace zova::test;
using Strings = std::vector<std::string>;

namespace {

constexpr ULONG kPersistent = 4;

std::wstring ConsoleExe() { return ProgramFolder() + L"velmora-zova.exe"; }

// A value as the tests write it: 'text' or null, true or false (exactly), [elements], else type:value.
std::string Show(const VARIANT& v) {
    std::string list;
    switch (v.vt) {
        case VT_BSTR: return v.bstrVal ? "'" + Narrow(TextOf(v)) + "'" : "null";
        case VT_BOOL:
            return v.boolVal == VARIANT_TRUE ? "true" : v.boolVal ? "BOOL:" + std::to_string(v.boolVal) : "false";
        case VT_I4: return "I4:" + std::to_string(v.lVal);
        case VT_UI4: return "UI4:" + std::to_string(v.ulVal);
        case VT_ARRAY | VT_VARIANT:
            for (const Variant& e : Elements(v)) list += (list.empty() ? "" : ",") + Show(e.get());
            return "[" + list + "]";
        default: return "vt" + std::to_string(v.vt);
    }
}
std::string Failed(HRESULT hr) { return "failed " + std::to_string(hr); }

template <class... A>
std::string Ask(IDispatch* object, DISPID id, const A&... args) {
    Variant result;
    const HRESULT hr = zova::CallConsoleInto(object, id, result.ptr(), args...);
    return FAILED(hr) ? Failed(hr) : Show(result.get());
}

// One console started as the control starts it: the ready event, the process, a message-dispatching wait.
struct Console {
    std::wstring id;
    Process process;
    ComPtr<IDispatch> object;

    // Whether the console set its ready event in time; made manual-reset, so that a wake does not take it.
    bool Launch(const std::wstring& tag, ULONG features, LONG messageMode = 2, DWORD parent = 0) {
        id = NewInstanceId(tag);
        HANDLE ready = ::CreateEventW(nullptr, TRUE, FALSE, (kReadyEventPrefix + id).c_str());
        // The control's command line, with a parent of the test's choosing in place of this process.
        std::wstring line = zova::BuildConsoleCommandLine(ConsoleExe(), id, 6, messageMode, features);
        const std::wstring self = L"--parent-PID " + std::to_wstring(::GetCurrentProcessId()) + L" ";
        if (parent) line.replace(line.find(self), self.size(), L"--parent-PID " + std::to_wstring(parent) + L" ");
        const bool set = process.Start(line) && PumpUntil([&] { return !::WaitForSingleObject(ready, 0); }, 10000,
                                                          {ready, process.pi.hProcess});
        ::CloseHandle(ready);
        return set;
    }
    void Start(const std::wstring& tag, ULONG features, LONG messageMode = 2, DWORD parent = 0) {
        ASSERT_TRUE(Launch(tag, features, messageMode, parent));
        ASSERT_EQ(S_OK, AttachToConsoleProcess(id, object));
    }
};

struct RecordingSink final : comfw::ComObject<RecordingSink, comfw::DispatchByIdOnly<IDispatch>> {
    Strings calls;

    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                        UINT*) noexcept override {
        std::string args;
        for (UINT i = params ? params->cArgs : 0; i > 0; --i)
            args += (args.empty() ? "" : ",") + Show(params->rgvarg[i - 1]);
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

ComPtr<IDispatch> MakeControl(IDispatch* console, HWND window, RecordingSink* sink,
                              DISPID how = ZOVA_DISPID_CREATE_CONTROL) {
    Variant made;
    EXPECT_EQ(S_OK,
              zova::CallConsoleFor(console, how, VT_DISPATCH, made, Hwnd(window), I4(0), I4(0), I4(320), I4(240)));
    ComPtr<IDispatch> control(made.vt() == VT_DISPATCH ? made.get().pdispVal : nullptr);
    if (control && sink) { EXPECT_EQ(S_OK, CallConsole(control.get(), ZOVA_DISPID_ADVISE, Variant::Dispatch(sink))); }
    return control;
}

HRESULT Connect(IDispatch* control, const wchar_t* host, const wchar_t* proxy) {
    return CallConsole(control, ZOVA_DISPID_CONNECT, Str(host), Str(L"AB:CD:EF"), Bool(false), Str(L"ticket-1"),
                       Str(L"operator"), Str(L"secret"), Str(L"vm-42"), Str(L"dc-west"),
                       Str(L"store-1/vm-42/vm-42.cfg"), Str(proxy));
}

}  // namespace

TEST(ConsoleCommandLine, RefusesBadOrMissingSwitchesAndBadFaultItemsWithoutRegistering) {
    const std::wstring id = NewInstanceId(L"cmdline");
    const std::wstring good =
        L"\"" + ConsoleExe() + L"\" --parent-PID 1 --instance-ID \"" + id + L"\" --modes 6 --message-mode 2";
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
    EXPECT_EQ(E_FAIL, AttachToConsoleProcess(id, object));
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
        ASSERT_TRUE(vm = MakeControl(console->object.get(), window.hwnd, sink.get()));
        c = vm.get();
    }
    void TearDown() override { if (vm) CallConsole(vm.get(), ZOVA_DISPID_DELETE); }
    TestWindow window;
    ComPtr<RecordingSink> sink = Made<RecordingSink>();
    ComPtr<IDispatch> vm;
    IDispatch* c = nullptr;  // vm, as the calls take it
};

TEST_F(SharedConsole, AnswersEveryOperationWithTheContractTypesAndRaisesItsEvents) {
    EXPECT_EQ("UI4:" + std::to_string(kFeatures), Ask(console->object.get(), ZOVA_DISPID_GET_FEATURE_FLAGS));

    // Connect: every argument is kept as it came (across processes the marshaller makes a null proxy empty). Its
    // events, the state change and then a message, as the page gets them: pages/events.html.
    ASSERT_EQ(S_OK, Connect(c, L"host-07.lab.example", nullptr));
    EXPECT_EQ("['host-07.lab.example','AB:CD:EF',false,'ticket-1','operator','secret','vm-42','dc-west',"
              "'store-1/vm-42/vm-42.cfg','']",
              Ask(c, ZOVA_DISPID_TEST_LAST_CONNECT_ARGS));
    EXPECT_EQ(2u, sink->Take(2).size());
    // allowSSLErrors as I4, an empty host: refused, yet recorded as sent; the connection stands.
    EXPECT_EQ(DISP_E_TYPEMISMATCH, CallConsole(c, ZOVA_DISPID_CONNECT, Str(L"host-b"), Str(L""), I4(1), Str(L""),
                                               Str(L""), Str(L""), Str(L"vm-1"), Str(L""), Str(L""),
                                               Str(L"proxy:3128")));
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
              (Strings{Ask(c, ZOVA_DISPID_GET_GRAB_STATE), Ask(c, ZOVA_DISPID_GET_SCREEN_WIDTH),
                       Ask(c, ZOVA_DISPID_GET_SCREEN_HEIGHT), Ask(c, ZOVA_DISPID_GET_FULLSCREEN),
                       Ask(c, ZOVA_DISPID_TEST_CAD_COUNT)}));

    // Disconnect's event, with the session it ends: pages/attachTake.html.
    ASSERT_EQ(S_OK, CallConsole(c, ZOVA_DISPID_DISCONNECT));
    EXPECT_EQ("UI4:1", Ask(c, ZOVA_DISPID_GET_CONNECTION_STATE));
    EXPECT_EQ(1u, sink->Take(1, 150).size()) << "no event for Ctrl-Alt-Delete or a refused size";
}

TEST_F(SharedConsole, ListsDetailsAndConnectsDevices) {
    // Lists: keys by type mask, in table order. Details: nine texts, numbers unsigned decimal, flags true/false.
    // (A change's events, as the page gets them: pages/events.html.)
    const auto virtualKeys = [&](ULONG mask) { return Ask(c, ZOVA_DISPID_GET_VIRTUAL_DEVICES, UI4(mask)); };
    const auto clientKeys = [&](ULONG mask) { return Ask(c, ZOVA_DISPID_GET_PHYSICAL_CLIENT_DEVICES, UI4(mask)); };
    EXPECT_EQ((Strings{"['floppy-0','cdrom-0','usb-0']", "['floppy-0','usb-0']", "[]",
                       "['client-cdrom-d','client-usb-1','client-usb-2']", "['client-usb-1','client-usb-2']", "[]",
                       "['cdrom-0','2','1','false','CD/DVD drive 1','true','1','','']"}),
              (Strings{virtualKeys(7), virtualKeys(1 | 4), virtualKeys(0), clientKeys(7), clientKeys(4), clientKeys(1),
                       Ask(c, ZOVA_DISPID_GET_VIRTUAL_DEVICE_DETAILS, Str(L"cdrom-0"))}));
    const std::string reader = Ask(c, ZOVA_DISPID_GET_PHYSICAL_CLIENT_DEVICE_DETAILS, Str(L"client-usb-2"));
    EXPECT_EQ(",'4096','true','2147483650']", reader.substr(reader.size() - 28));

    // Refused: unknown keys, a virtual key in the physical list, a mismatched type, an unknown backing.
    for (const std::string& refused :
         {Ask(c, ZOVA_DISPID_GET_VIRTUAL_DEVICE_DETAILS, Str(L"cdrom-9")),
          Ask(c, ZOVA_DISPID_GET_PHYSICAL_CLIENT_DEVICE_DETAILS, Str(L"cdrom-0")),
          Ask(c, ZOVA_DISPID_GET_VIRTUAL_DEVICE_DETAILS, Str(nullptr)),
          Ask(c, ZOVA_DISPID_DISCONNECT_DEVICE, Str(L"usb-3")),
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
    EXPECT_EQ("['cdrom-0','2','1','false','CD/DVD drive 1','true','2','','']",
              Ask(c, ZOVA_DISPID_GET_VIRTUAL_DEVICE_DETAILS, Str(L"cdrom-0")));
}

TEST_F(SharedConsole, EventsComeAfterTheCallInOrderAndOnlyWhileAdvised) {
    // Raised after the operation's call has returned: an event raised inside it would reach the sink at once.
    ASSERT_EQ(S_OK, CallConsole(c, ZOVA_DISPID_SET_FULLSCREEN, Bool(true)));
    EXPECT_TRUE(sink->calls.empty());
    EXPECT_EQ(Strings{"4(true)"}, sink->Take(1));

    // A second client attaches a control of its own: session events reach both sinks, hook events only their own.
    ComPtr<IDispatch> secondBind;
    ASSERT_EQ(S_OK, AttachToConsoleProcess(console->id, secondBind));
    const ComPtr<RecordingSink> other = Made<RecordingSink>(), again = Made<RecordingSink>();
    const ComPtr<IDispatch> vm2 = MakeControl(secondBind.get(), window.hwnd, other.get(), ZOVA_DISPID_ATTACH_CONTROL);
    ASSERT_TRUE(vm2);
    EXPECT_EQ("true", Ask(vm2.get(), ZOVA_DISPID_GET_FULLSCREEN)) << "one session";
    ASSERT_EQ(S_OK, CallConsole(vm2.get(), ZOVA_DISPID_GRAB_INPUT));
    ASSERT_EQ(S_OK, CallConsole(vm2.get(), ZOVA_DISPID_TEST_RAISE_EVENT, I4(ZOVA_EVENTID_VIRTUAL_DEVICES_CHANGE),
                                Variant()));
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
    EXPECT_EQ((Strings{"false", Failed(E_UNEXPECTED), Failed(E_UNEXPECTED)}),
              (Strings{Ask(c, ZOVA_DISPID_TEST_IS_ADVISED), Ask(c, ZOVA_DISPID_SET_FULLSCREEN, Bool(true)),
                       Ask(c, ZOVA_DISPID_DELETE)}));
    ASSERT_EQ(S_OK, CallConsole(vm2.get(), ZOVA_DISPID_SET_FULLSCREEN, Bool(true)));
    EXPECT_EQ(Strings{"4(true)"}, other->Take(1, 150));
    EXPECT_TRUE(again->calls.empty());
    EXPECT_EQ(S_OK, CallConsole(vm2.get(), ZOVA_DISPID_DELETE));
}

constexpr int32_t kDesktopSize = -223;

// The test server's first steps: version 3.8, VNC authentication that takes any answer (the console's answer for
// a password: qemu_tests), ServerInit of 32x16.
void Greet(RfbPeer& peer) {
    peer.Send(Bytes().Raw("RFB 003.008\n").U8(1).U8(2).v);
    peer.Receive(13);  // version and security type
    peer.Send(std::vector<uint8_t>(16, 0x5A));  // the challenge
    peer.Receive(16);
    peer.Send(Bytes().U32(0).v);
    peer.Receive(1);  // shared
    peer.Send(Bytes().Init(32, 16).v);
    peer.Receive(20 + 24 + 10);  // pixel format, encodings, first update request
}

// (The pixels that the console holds for a real VM: qemu_tests; each encoding: rfb_tests.)
TEST_F(SharedConsole, DrivesARealVmOverRfb) {
    std::vector<uint8_t> keys, pointer;
    RfbTestServer server([&](RfbPeer& peer) {
        Greet(peer);
        keys = peer.Receive(6 * 8, 15000);
        pointer = peer.Receive(6, 15000);
        peer.Send(Bytes().U8(0).U8(0).U16(1).Rect(0, 0, 40, 20, kDesktopSize).v);
        peer.Receive(10);
    });
    const std::string host = "127.0.0.1:" + std::to_string(server.port());
    ASSERT_EQ(S_OK, Connect(c, std::wstring(host.begin(), host.end()).c_str(), nullptr));
    EXPECT_EQ((Strings{"1(UI4:2,'" + host + "','dc-west','vm-42',true,'')", "0(UI4:1,'Connected to " + host + "')",
                       "3(I4:32,I4:16)"}),
              sink->Take(3));
    EXPECT_EQ("UI4:2", Ask(c, ZOVA_DISPID_GET_CONNECTION_STATE));
    EXPECT_EQ("I4:16", Ask(c, ZOVA_DISPID_GET_SCREEN_HEIGHT));

    // Full screen: a window of the console's own over the whole screen, and back.
    const DWORD pid = console->process.pi.dwProcessId;
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
    EXPECT_EQ((Strings{"3(I4:40,I4:20)",
                       "1(UI4:1,'" + host + "','dc-west','vm-42',false,'The server closed the connection')",
                       "0(UI4:3,'The server closed the connection')"}),
              sink->Take(3));
    EXPECT_EQ("UI4:1", Ask(c, ZOVA_DISPID_GET_CONNECTION_STATE));
}

// Every end of an RFB session reaches the page through RfbLink::Ended: in the handshake (qemu_tests' wrong
// password) as in a running session (above); the RFB client's reasons: rfb_tests.
TEST_F(SharedConsole, RefusesAnEndpointOutsideItsPolicyAndGoesOn) {
    // Outside loopback without a policy value: refused before any connection, naming the policy.
    const std::string policy = "The console's endpoint policy (AllowedEndpoints) is not set, which allows loopback "
                               "addresses only, not host-01.lab.example:5900";
    EXPECT_EQ(E_ACCESSDENIED, Connect(c, L"host-01.lab.example:5900", nullptr));
    EXPECT_EQ((Strings{"1(UI4:1,'host-01.lab.example:5900','dc-west','vm-42',false,'" + policy + "')",
                       "0(UI4:3,'" + policy + "')"}),
              sink->Take(2));
    EXPECT_EQ(E_INVALIDARG, Connect(c, L"host-01.lab.example:70000", nullptr));
    // The simulated VM is there as before.
    ASSERT_EQ(S_OK, Connect(c, L"host-01.lab.example", nullptr));
    EXPECT_EQ("1(UI4:2,'host-01.lab.example','dc-west','vm-42',true,'')", sink->Take(2).at(0));
}

// (no-ready, no-register and wrong-type=0: the launcher's tests of the console link.)
TEST(ConsoleFaults, ResultFaultsFailWrongTypeAndExitAndTheReadyEventComesLate) {
    {
        ScopedFaults faults(L"fail=103:0x80070057; fail=3:-2147467259; wrong-type=108; wrong-type=105:3; exit=120:7");
        Console console;
        console.Start(L"faults", 0);
        TestWindow window;
        EXPECT_EQ(Failed(E_FAIL), Ask(console.object.get(), ZOVA_DISPID_GET_FEATURE_FLAGS));
        const ComPtr<IDispatch> vm = MakeControl(console.object.get(), window.hwnd, nullptr);
        ASSERT_TRUE(vm);
        // Operations without a fault are untouched; SendCAD ends the process inside the call.
        EXPECT_EQ((Strings{Failed(E_INVALIDARG), "'wrong type'", "I4:0", "I4:768"}),
                  (Strings{Ask(vm.get(), ZOVA_DISPID_GET_CONNECTION_STATE), Ask(vm.get(), ZOVA_DISPID_GET_SCREEN_WIDTH),
                           Ask(vm.get(), ZOVA_DISPID_GET_FULLSCREEN), Ask(vm.get(), ZOVA_DISPID_GET_SCREEN_HEIGHT)}));
        EXPECT_TRUE(FAILED(CallConsole(vm.get(), ZOVA_DISPID_SEND_CAD)));
        EXPECT_EQ(7u, console.process.ExitCodeWithin(5000));
    }
    // Ready late, registered before it; where the table refuses registrations open to any client, ordinary ones serve.
    ScopedFaults faults(L"ready-delay=600; any-client-refused");
    Console console;
    const ULONGLONG start = ::GetTickCount64();
    ASSERT_TRUE(console.Launch(L"ready-delay", 0));
    EXPECT_GE(::GetTickCount64() - start, 600u);
    EXPECT_EQ(S_OK, AttachToConsoleProcess(console.id, console.object));
}

TEST(ConsoleLifetime, AfterDeleteNonPersistentEndsOnReleaseOrAfterAGracePeriodPersistentAtItsIdleLimit) {
    Console released, kept, persistent;
    released.Start(L"delete", 1);
    kept.Start(L"grace", 0);
    {
        const ScopedFaults faults(L"idle-ms=2000");
        persistent.Start(L"persistent", kPersistent | 1, 1);  // in dialog message mode
    }
    TestWindow window;
    const ComPtr<RecordingSink> sink = Made<RecordingSink>();
    ComPtr<IDispatch> vm = MakeControl(released.object.get(), window.hwnd, sink.get()),
                      keptVm = MakeControl(kept.object.get(), window.hwnd, nullptr),
                      pVm = MakeControl(persistent.object.get(), window.hwnd, sink.get());
    ASSERT_TRUE(vm && keptVm && pVm);
    ASSERT_EQ(S_OK, Connect(pVm.get(), L"host-p", L"proxy-p:8080"));
    EXPECT_EQ(Strings{"1(UI4:2,'host-p','dc-west','vm-42',true,'')"}, sink->Take(1, 200)) << "and no message";
    // While a control is attached, the idle limit does not run.
    Pump(2200);
    ASSERT_TRUE(persistent.process.running());
    ASSERT_EQ(S_OK, CallConsole(vm.get(), ZOVA_DISPID_UNADVISE));
    ASSERT_EQ(S_OK, CallConsole(pVm.get(), ZOVA_DISPID_UNADVISE));
    for (IDispatch* control : {vm.get(), keptVm.get(), pVm.get()}) {
        ASSERT_EQ(S_OK, CallConsole(control, ZOVA_DISPID_DELETE));
    }
    pVm.reset(), persistent.object.reset();
    const ULONGLONG deleted = ::GetTickCount64();
    // Deleted: while the client holds the control the process waits; it ends on release, or after a grace period.
    Pump(300);
    ASSERT_TRUE(released.process.running());
    EXPECT_EQ("false", Ask(vm.get(), ZOVA_DISPID_TEST_IS_ADVISED));
    vm.reset();
    EXPECT_EQ(0u, released.process.ExitCodeWithin(1500));
    EXPECT_EQ(E_FAIL, AttachToConsoleProcess(released.id, released.object));
    // A persistent console ends once idle for its limit, not before.
    EXPECT_EQ(0u, persistent.process.ExitCodeWithin(6000));
    EXPECT_GE(::GetTickCount64() - deleted, 1800u);
    EXPECT_EQ(0u, kept.process.ExitCodeWithin(6000));
    EXPECT_GE(::GetTickCount64() - deleted, 2500u);
    EXPECT_TRUE(sink->calls.empty());
}

TEST(ConsoleLifetime, WithoutItsParentNonPersistentEndsOnceNothingIsAttached) {
    // A parent to watch that never runs a line of its own and that the test can end at will.
    Process parent;
    ASSERT_TRUE(parent.Start(L"\"" + ConsoleExe() + L"\"", CREATE_SUSPENDED));
    // A: nothing attached. B: a control in our window. (A persistent console stays: pages/attachAcross.)
    Console a, b;
    a.Start(L"parent-a", 0, 2, parent.pi.dwProcessId);
    b.Start(L"parent-b", 0, 2, parent.pi.dwProcessId);
    TestWindow window;
    ComPtr<IDispatch> vm = MakeControl(b.object.get(), window.hwnd, nullptr);
    ASSERT_TRUE(vm);
    EXPECT_TRUE(a.process.running());

    // The parent is gone: A ends. B, with its control attached, stays; once our window (and the console's in it)
    // is gone, it ends on release.
    ::TerminateProcess(parent.pi.hProcess, 98);
    EXPECT_EQ(0u, a.process.ExitCodeWithin(3000));
    Pump(300);
    ASSERT_TRUE(b.process.running());
    EXPECT_EQ("UI4:1", Ask(vm.get(), ZOVA_DISPID_GET_CONNECTION_STATE));
    ::DestroyWindow(window.hwnd);
    Pump(300);
    ASSERT_TRUE(b.process.running());
    vm.reset();
    EXPECT_EQ(0u, b.process.ExitCodeWithin(1500));
}
