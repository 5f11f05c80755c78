// The reference console process across a real process boundary: its command
// line and ready protocol, every console operation with the exact result
// types, its events (types, order, asynchrony, advise state), its device
// tables, the fault switches and its lifetime rules. The test program is the
// client, calling by dispid exactly as the control does.
#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>
#include <olectl.h>
#include <cstring>
#include <string>
#include <vector>

#include "comfw/comObject.h"
#include "comfw/dispatch.h"
#include "comfw/safeArray.h"
#include "tests/consoleTestSupport.h"
#include "win32/plugin/consoleCall.h"
#include "win32/plugin/consoleDispids.h"

using comfw::ComPtr;
using comfw::Variant;
using zova::CallConsole;
using zova::CallConsoleFor;
using namespace zova::console;
using namespace zova::test;

namespace {

// Test hooks of the console's VM control.
constexpr DISPID kTestLastConnectArgs = 1000, kTestRaiseEvent = 1001, kTestIsAdvised = 1002,
                 kTestCADCount = 1003, kTestProcessId = 1004, kTestSaveScreen = 1005;
constexpr ULONG kPersistent = 4;
constexpr DWORD kEventWaitMs = 5000;

std::wstring ConsoleExe() { return ProgramFolder() + L"\\velmora-zova.exe"; }

// Sets ZOVA_CONSOLE_FAULTS for the consoles started while it lives.
class ScopedFaults {
public:
    explicit ScopedFaults(const wchar_t* items) { ::SetEnvironmentVariableW(L"ZOVA_CONSOLE_FAULTS", items); }
    ~ScopedFaults() { ::SetEnvironmentVariableW(L"ZOVA_CONSOLE_FAULTS", nullptr); }
};

// A process started by a test; ended by force if the test left it running.
class Process {
public:
    Process() = default;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process() {
        if (!handle_) return;
        if (::WaitForSingleObject(handle_, 0) == WAIT_TIMEOUT) ::TerminateProcess(handle_, 99);
        ::CloseHandle(handle_);
    }
    bool Start(const std::wstring& exe, const std::wstring& commandLine, DWORD flags = DETACHED_PROCESS,
               HANDLE stdErr = nullptr) {
        std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
        line.push_back(0);
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        if (stdErr) {
            si.dwFlags = STARTF_USESTDHANDLES;
            si.hStdError = stdErr;
        }
        PROCESS_INFORMATION pi{};
        if (!::CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, stdErr != nullptr, flags, nullptr, nullptr,
                              &si, &pi)) {
            return false;
        }
        ::CloseHandle(pi.hThread);
        handle_ = pi.hProcess;
        pid_ = pi.dwProcessId;
        return true;
    }
    HANDLE handle() const { return handle_; }
    DWORD pid() const { return pid_; }
    bool running() const { return handle_ && ::WaitForSingleObject(handle_, 0) == WAIT_TIMEOUT; }
    DWORD exit_code() const {
        DWORD code = STILL_ACTIVE;
        ::GetExitCodeProcess(handle_, &code);
        return code;
    }
    void Kill() { ::TerminateProcess(handle_, 98); ::WaitForSingleObject(handle_, 5000); }

private:
    HANDLE handle_ = nullptr;
    DWORD pid_ = 0;
};

// A process that never runs a line of its own: a parent to watch that a test
// can end at will.
void StartDummyParent(Process& p) {
    ASSERT_TRUE(p.Start(ConsoleExe(), L"\"" + ConsoleExe() + L"\"", CREATE_SUSPENDED));
}

enum class Ready { Set, Exited, TimedOut };

// One console started as the control starts it: the ready event first, then
// the process, then a message-dispatching wait for the event.
struct Console {
    std::wstring id;
    Process process;
    ComPtr<IDispatch> object;

    Ready Launch(const std::wstring& tag, ULONG features, LONG messageMode = 2, DWORD parentPid = 0,
                 DWORD waitMs = 10000) {
        id = NewInstanceId(tag);
        HANDLE ready = ::CreateEventW(nullptr, FALSE, FALSE, (L"ZOVA_EVENT_" + id).c_str());
        if (!ready) return Ready::Exited;
        const std::wstring line = ConsoleCommandLine(ConsoleExe(), parentPid ? parentPid : ::GetCurrentProcessId(),
                                                     id, 6, messageMode, features);
        if (!process.Start(ConsoleExe(), line)) {
            ::CloseHandle(ready);
            return Ready::Exited;
        }
        // The ready event resets itself when a wait takes it: the wait's own
        // result says which handle it was.
        HANDLE handles[2] = {ready, process.handle()};
        Ready result = Ready::TimedOut;
        const ULONGLONG deadline = ::GetTickCount64() + waitMs;
        while (result == Ready::TimedOut) {
            const ULONGLONG now = ::GetTickCount64();
            if (now >= deadline) break;
            const DWORD r = ::MsgWaitForMultipleObjects(2, handles, FALSE, static_cast<DWORD>(deadline - now),
                                                        QS_ALLINPUT);
            if (r == WAIT_OBJECT_0) result = Ready::Set;
            else if (r == WAIT_OBJECT_0 + 1) result = Ready::Exited;
            else if (r == WAIT_OBJECT_0 + 2) Pump(0);
            else break;
        }
        ::CloseHandle(ready);
        return result;
    }
    // Launch, then bind; fails the test if either fails.
    void Start(const std::wstring& tag, ULONG features, LONG messageMode = 2, DWORD parentPid = 0) {
        ASSERT_EQ(Ready::Set, Launch(tag, features, messageMode, parentPid));
        ASSERT_EQ(S_OK, BindConsole(id, object));
    }
};

// An event sink that records every call with its argument types, in call
// order.
class RecordingSink final : public comfw::ComObject<RecordingSink, comfw::DispatchByIdOnly<IDispatch>> {
public:
    struct Call {
        DISPID id;
        WORD flags;
        std::vector<Variant> args;  // call order
        std::vector<VARTYPE> types() const {
            std::vector<VARTYPE> t;
            for (const Variant& a : args) t.push_back(a.vt());
            return t;
        }
    };
    std::vector<Call> calls;
    // Set while the test is inside a call into the console.
    bool* insideCall = nullptr;
    int callsDuringOutgoingCall = 0;

    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                        UINT*) noexcept override {
        if (insideCall && *insideCall) ++callsDuringOutgoingCall;
        Call call{id, flags, {}};
        for (UINT i = params ? params->cArgs : 0; i > 0; --i) {
            Variant copy;
            copy.copy_from(params->rgvarg[i - 1]);
            call.args.push_back(std::move(copy));
        }
        calls.push_back(std::move(call));
        return S_OK;
    }

    bool WaitFor(size_t count, DWORD ms = kEventWaitMs) {
        return PumpUntil([&] { return calls.size() >= count; }, ms);
    }
};

ComPtr<RecordingSink> MakeSink() {
    ComPtr<RecordingSink> sink;
    RecordingSink::Make(sink);
    return sink;
}

Variant SinkArg(RecordingSink* sink) { return Variant::Dispatch(sink); }

// A window of this test to hold console windows, destroyed with the test.
class HostWindow {
public:
    HostWindow() : hwnd_(MakeHostWindow()) {}
    ~HostWindow() { if (hwnd_ && ::IsWindow(hwnd_)) ::DestroyWindow(hwnd_); }
    HWND get() const { return hwnd_; }
    void Destroy() { ::DestroyWindow(hwnd_); hwnd_ = nullptr; }

private:
    HWND hwnd_;
};

// CreateControl (or AttachControl) into `window` and Advise `sink`.
ComPtr<IDispatch> MakeControl(IDispatch* console, HWND window, RecordingSink* sink, bool attach = false,
                              RECT r = RECT{0, 0, 320, 240}) {
    Variant result;
    const HRESULT hr = CallConsoleFor(console, attach ? kAttachControl : kCreateControl, VT_DISPATCH, result,
                                      Hwnd(window), I4(r.left), I4(r.top), I4(r.right), I4(r.bottom));
    EXPECT_EQ(S_OK, hr);
    if (FAILED(hr)) return nullptr;
    ComPtr<IDispatch> control(result.get().pdispVal);
    if (sink) {
        EXPECT_EQ(S_OK, CallConsole(control.get(), kAdvise, SinkArg(sink)));
    }
    return control;
}

ULONG GetUI4(IDispatch* control, DISPID id) {
    Variant v;
    EXPECT_EQ(S_OK, CallConsoleFor(control, id, VT_UI4, v)) << "dispid " << id;
    return v.vt() == VT_UI4 ? v.get().ulVal : 0xDEADu;
}
LONG GetI4(IDispatch* control, DISPID id) {
    Variant v;
    EXPECT_EQ(S_OK, CallConsoleFor(control, id, VT_I4, v)) << "dispid " << id;
    return v.vt() == VT_I4 ? v.get().lVal : -0xDEAD;
}
bool GetBool(IDispatch* control, DISPID id) {
    Variant v;
    EXPECT_EQ(S_OK, CallConsoleFor(control, id, VT_BOOL, v)) << "dispid " << id;
    return v.vt() == VT_BOOL && v.get().boolVal != VARIANT_FALSE;
}

std::vector<std::wstring> Texts(const VARIANT& array) {
    std::vector<std::wstring> out;
    for (const Variant& e : Elements(array)) {
        EXPECT_EQ(VT_BSTR, e.vt());
        out.push_back(TextOf(e.get()));
    }
    return out;
}

std::vector<std::wstring> DeviceKeys(IDispatch* control, DISPID id, ULONG mask) {
    Variant list;
    EXPECT_EQ(S_OK, CallConsoleFor(control, id, VT_ARRAY | VT_VARIANT, list, UI4(mask)));
    return Texts(list.get());
}

std::vector<std::wstring> Details(IDispatch* control, DISPID id, const wchar_t* key) {
    Variant details;
    EXPECT_EQ(S_OK, CallConsoleFor(control, id, VT_ARRAY | VT_VARIANT, details, Str(key)));
    const std::vector<std::wstring> fields = Texts(details.get());
    EXPECT_EQ(9u, fields.size()) << "details of " << std::string(key, key + wcslen(key));
    return fields;
}

// The ten Connect arguments, in call order.
HRESULT Connect(IDispatch* control, const wchar_t* host, const wchar_t* proxy) {
    return CallConsole(control, kConnect, Str(host), Str(L"AB:CD:EF"), Bool(false), Str(L"ticket-1"),
                       Str(L"operator"), Str(L"secret"), Str(L"vm-42"), Str(L"dc-west"), Str(L"[ds1] vm42/vm42.vmx"),
                       Str(proxy));
}

using Types = std::vector<VARTYPE>;
const Types kConnectionStateTypes{VT_UI4, VT_BSTR, VT_BSTR, VT_BSTR, VT_BOOL, VT_BSTR};
const Types kDeviceStateTypes{VT_UI4, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_BOOL, VT_BSTR};

std::wstring ComputerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD n = MAX_COMPUTERNAME_LENGTH + 1;
    ::GetComputerNameW(name, &n);
    return name;
}

// Runs the console with a command line of the test's own; gives its exit
// code and what it wrote to standard error.
DWORD RunWithCommandLine(const std::wstring& args, std::string& stdErr) {
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    EXPECT_TRUE(::CreatePipe(&readEnd, &writeEnd, &sa, 0));
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    Process p;
    EXPECT_TRUE(p.Start(ConsoleExe(), L"\"" + ConsoleExe() + L"\" " + args, DETACHED_PROCESS, writeEnd));
    ::CloseHandle(writeEnd);
    char buffer[4096];
    DWORD n = 0;
    stdErr.clear();
    while (::ReadFile(readEnd, buffer, sizeof(buffer), &n, nullptr) && n > 0) stdErr.append(buffer, n);
    ::CloseHandle(readEnd);
    EXPECT_TRUE(WaitForExit(p.handle(), 5000));
    return p.exit_code();
}

}  // namespace

TEST(ConsoleCommandLine, RefusesBadOrMissingSwitchesWithAMessage) {
    const std::wstring id = NewInstanceId(L"cmdline");
    const std::wstring good = L"--parent-PID 1 --instance-ID \"" + id + L"\" --modes 6 --message-mode 2";
    std::string err;

    EXPECT_EQ(2u, RunWithCommandLine(good, err));
    EXPECT_NE(std::string::npos, err.find("--features is missing")) << err;

    EXPECT_EQ(2u, RunWithCommandLine(good + L" --features 4x", err));
    EXPECT_NE(std::string::npos, err.find("--features has a bad value \"4x\"")) << err;

    EXPECT_EQ(2u, RunWithCommandLine(good + L" --features 0 --modes 2", err));
    EXPECT_NE(std::string::npos, err.find("--modes is given twice")) << err;

    EXPECT_EQ(2u, RunWithCommandLine(good + L" --features 0 --verbose 1", err));
    EXPECT_NE(std::string::npos, err.find("unknown switch --verbose")) << err;

    {
        ScopedFaults faults(L"fail=103:0x80004005; ready-later");
        EXPECT_EQ(2u, RunWithCommandLine(good + L" --features 0", err));
        EXPECT_NE(std::string::npos, err.find("bad fault item \"ready-later\"")) << err;
    }
    // None of them got as far as registering.
    ComPtr<IDispatch> object;
    EXPECT_EQ(MK_E_UNAVAILABLE, BindConsole(id, object));
}

TEST(ConsoleSession, AnswersEveryOperationWithTheContractTypes) {
    Console console;
    // Features with the top bit: the control writes them with %d, negative.
    const ULONG features = 0x80000000u | 16 | 1;
    console.Start(L"session", features);
    ASSERT_TRUE(console.object);
    EXPECT_EQ(features, GetUI4(console.object.get(), kGetFeatureFlags));

    HostWindow window;
    const ComPtr<RecordingSink> sink = MakeSink();
    const ComPtr<IDispatch> vm = MakeControl(console.object.get(), window.get(), sink.get(), false,
                                             RECT{10, 20, 330, 260});
    ASSERT_TRUE(vm);

    // The console window: the console's own, a child of ours, at the rectangle.
    const HWND consoleWindow = reinterpret_cast<HWND>(static_cast<LONG_PTR>(GetI4(vm.get(), kGetHWND)));
    ASSERT_TRUE(::IsWindow(consoleWindow));
    EXPECT_EQ(window.get(), ::GetAncestor(consoleWindow, GA_PARENT));
    DWORD owner = 0;
    ::GetWindowThreadProcessId(consoleWindow, &owner);
    EXPECT_EQ(console.process.pid(), owner);
    EXPECT_EQ(owner, GetUI4(vm.get(), kTestProcessId));
    RECT r{};
    ::GetWindowRect(consoleWindow, &r);
    ::MapWindowPoints(HWND_DESKTOP, window.get(), reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(10, r.left);
    EXPECT_EQ(20, r.top);
    EXPECT_EQ(330, r.right);
    EXPECT_EQ(260, r.bottom);

    // A fresh session.
    EXPECT_EQ(1u, GetUI4(vm.get(), kGetConnectionState));
    EXPECT_FALSE(GetBool(vm.get(), kGetFullscreen));
    EXPECT_EQ(1024, GetI4(vm.get(), kGetScreenWidth));
    EXPECT_EQ(768, GetI4(vm.get(), kGetScreenHeight));
    EXPECT_EQ(2u, GetUI4(vm.get(), kGetGrabState));
    Variant noArgs;
    ASSERT_EQ(S_OK, CallConsoleFor(vm.get(), kTestLastConnectArgs, VT_ARRAY | VT_VARIANT, noArgs));
    EXPECT_TRUE(Elements(noArgs.get()).empty());

    // Connect, with a null proxy; every argument is kept with its type.
    ASSERT_EQ(S_OK, Connect(vm.get(), L"esx-07.example.test", nullptr));
    EXPECT_EQ(2u, GetUI4(vm.get(), kGetConnectionState));
    Variant args;
    ASSERT_EQ(S_OK, CallConsoleFor(vm.get(), kTestLastConnectArgs, VT_ARRAY | VT_VARIANT, args));
    const std::vector<Variant> got = Elements(args.get());
    ASSERT_EQ(10u, got.size());
    const wchar_t* const texts[] = {L"esx-07.example.test", L"AB:CD:EF", nullptr, L"ticket-1", L"operator",
                                    L"secret", L"vm-42", L"dc-west", L"[ds1] vm42/vm42.vmx", L""};
    for (size_t i = 0; i < 10; ++i) {
        if (i == 2) {
            EXPECT_EQ(VT_BOOL, got[i].vt());
            EXPECT_EQ(VARIANT_FALSE, got[i].get().boolVal);
        } else {
            EXPECT_EQ(VT_BSTR, got[i].vt()) << "argument " << i;
            EXPECT_EQ(texts[i], TextOf(got[i].get())) << "argument " << i;
        }
    }

    // In event message mode, a connection gives the state change, then a message.
    ASSERT_TRUE(sink->WaitFor(2));
    EXPECT_EQ(kOnConnectionStateChange, sink->calls[0].id);
    EXPECT_EQ(DISPATCH_METHOD, sink->calls[0].flags);
    EXPECT_EQ(kConnectionStateTypes, sink->calls[0].types());
    EXPECT_EQ(2u, sink->calls[0].args[0].get().ulVal);
    EXPECT_EQ(L"esx-07.example.test", TextOf(sink->calls[0].args[1].get()));
    EXPECT_EQ(L"dc-west", TextOf(sink->calls[0].args[2].get()));
    EXPECT_EQ(L"vm-42", TextOf(sink->calls[0].args[3].get()));
    EXPECT_EQ(VARIANT_TRUE, sink->calls[0].args[4].get().boolVal);
    EXPECT_EQ(L"", TextOf(sink->calls[0].args[5].get()));
    EXPECT_EQ(kOnMessage, sink->calls[1].id);
    EXPECT_EQ((Types{VT_UI4, VT_BSTR}), sink->calls[1].types());
    EXPECT_EQ(1u, sink->calls[1].args[0].get().ulVal);
    EXPECT_NE(std::wstring::npos, TextOf(sink->calls[1].args[1].get()).find(L"esx-07.example.test"));

    // Screen, full screen and input, each with its event.
    sink->calls.clear();
    ASSERT_EQ(S_OK, CallConsole(vm.get(), kSetScreenSize, I4(800), I4(600)));
    ASSERT_EQ(S_OK, CallConsole(vm.get(), kSetFullscreen, Bool(true)));
    ASSERT_EQ(S_OK, CallConsole(vm.get(), kGrabInput));
    EXPECT_EQ(1u, GetUI4(vm.get(), kGetGrabState));
    ASSERT_EQ(S_OK, CallConsole(vm.get(), kUngrabInput));
    EXPECT_EQ(2u, GetUI4(vm.get(), kGetGrabState));
    ASSERT_EQ(S_OK, CallConsole(vm.get(), kSetInputRelease, Bool(true)));
    EXPECT_EQ(3u, GetUI4(vm.get(), kGetGrabState));
    EXPECT_EQ(800, GetI4(vm.get(), kGetScreenWidth));
    EXPECT_EQ(600, GetI4(vm.get(), kGetScreenHeight));
    EXPECT_TRUE(GetBool(vm.get(), kGetFullscreen));
    ASSERT_TRUE(sink->WaitFor(5));
    ASSERT_EQ(5u, sink->calls.size());
    EXPECT_EQ(kOnScreenSizeChange, sink->calls[0].id);
    EXPECT_EQ((Types{VT_I4, VT_I4}), sink->calls[0].types());
    EXPECT_EQ(800, sink->calls[0].args[0].get().lVal);
    EXPECT_EQ(600, sink->calls[0].args[1].get().lVal);
    EXPECT_EQ(kOnFullscreenChange, sink->calls[1].id);
    EXPECT_EQ(Types{VT_BOOL}, sink->calls[1].types());
    EXPECT_EQ(VARIANT_TRUE, sink->calls[1].args[0].get().boolVal);
    const ULONG grabStates[] = {1, 2, 3};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(kOnGrabStateChange, sink->calls[2 + i].id);
        EXPECT_EQ(Types{VT_UI4}, sink->calls[2 + i].types());
        EXPECT_EQ(grabStates[i], sink->calls[2 + i].args[0].get().ulVal);
    }
    // Input release off changes nothing by itself.
    ASSERT_EQ(S_OK, CallConsole(vm.get(), kSetInputRelease, Bool(false)));
    EXPECT_EQ(3u, GetUI4(vm.get(), kGetGrabState));

    // Ctrl-Alt-Delete reaches the guest; no event.
    sink->calls.clear();
    ASSERT_EQ(S_OK, CallConsole(vm.get(), kSendCAD));
    ASSERT_EQ(S_OK, CallConsole(vm.get(), kSendCAD));
    EXPECT_EQ(2u, GetUI4(vm.get(), kTestCADCount));

    // Refused arguments leave the session alone.
    EXPECT_EQ(E_INVALIDARG, CallConsole(vm.get(), kSetScreenSize, I4(0), I4(600)));
    EXPECT_EQ(800, GetI4(vm.get(), kGetScreenWidth));

    // The guest screen: the console window's size, a dark background, text.
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring shot = std::wstring(temp) + console.id + L".bmp";
    ASSERT_EQ(S_OK, CallConsole(vm.get(), kTestSaveScreen, Str(shot.c_str())));
    std::string image;
    {
        HANDLE file = ::CreateFileW(shot.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        image.resize(::GetFileSize(file, nullptr));
        DWORD read = 0;
        ::ReadFile(file, &image[0], static_cast<DWORD>(image.size()), &read, nullptr);
        ::CloseHandle(file);
        ::DeleteFileW(shot.c_str());
    }
    ASSERT_GT(image.size(), 54u);
    BITMAPINFOHEADER header;
    memcpy(&header, image.data() + sizeof(BITMAPFILEHEADER), sizeof(header));
    EXPECT_EQ("BM", image.substr(0, 2));
    EXPECT_EQ(320, header.biWidth);
    EXPECT_EQ(240, header.biHeight);
    const auto* pixels = reinterpret_cast<const unsigned char*>(image.data()) + 54;
    EXPECT_EQ((std::vector<int>{30, 22, 18}), (std::vector<int>{pixels[0], pixels[1], pixels[2]}));  // BGR
    size_t lit = 0;
    for (size_t i = 0; i + 2 < image.size() - 54; i += 3) lit += pixels[i] > 150;
    EXPECT_GT(lit, 500u);

    ASSERT_EQ(S_OK, CallConsole(vm.get(), kDisconnect));
    EXPECT_EQ(1u, GetUI4(vm.get(), kGetConnectionState));
    ASSERT_TRUE(sink->WaitFor(1));
    ASSERT_EQ(1u, sink->calls.size());  // the two SendCADs raised nothing
    EXPECT_EQ(kOnConnectionStateChange, sink->calls[0].id);
    EXPECT_EQ(1u, sink->calls[0].args[0].get().ulVal);
    EXPECT_EQ(L"esx-07.example.test", TextOf(sink->calls[0].args[1].get()));
}

TEST(ConsoleSession, ConnectChecksArgumentTypesAndKeepsWhatArrived) {
    Console console;
    // Dialog message mode: a connection raises no onMessage.
    console.Start(L"connect-types", 0, 1);
    HostWindow window;
    const ComPtr<RecordingSink> sink = MakeSink();
    const ComPtr<IDispatch> vm = MakeControl(console.object.get(), window.get(), sink.get());
    ASSERT_TRUE(vm);

    // A proxy given as text reaches the console as text.
    ASSERT_EQ(S_OK, Connect(vm.get(), L"host-a", L"proxy.example.test:3128"));
    ASSERT_TRUE(sink->WaitFor(1));
    Pump(200);
    ASSERT_EQ(1u, sink->calls.size());
    EXPECT_EQ(kOnConnectionStateChange, sink->calls[0].id);

    // allowSSLErrors as I4 instead of BOOL: refused, yet recorded as sent.
    EXPECT_EQ(DISP_E_TYPEMISMATCH,
              CallConsole(vm.get(), kConnect, Str(L"host-b"), Str(L""), I4(1), Str(L""), Str(L""), Str(L""),
                          Str(L"vm-1"), Str(L""), Str(L""), Str(L"")));
    Variant args;
    ASSERT_EQ(S_OK, CallConsoleFor(vm.get(), kTestLastConnectArgs, VT_ARRAY | VT_VARIANT, args));
    const std::vector<Variant> got = Elements(args.get());
    ASSERT_EQ(10u, got.size());
    EXPECT_EQ(L"host-b", TextOf(got[0].get()));
    EXPECT_EQ(VT_I4, got[2].vt());
    // The earlier connection stands.
    EXPECT_EQ(2u, GetUI4(vm.get(), kGetConnectionState));

    // A proxy left out (VT_EMPTY) is a type error too; an empty host is refused.
    EXPECT_EQ(DISP_E_TYPEMISMATCH,
              CallConsole(vm.get(), kConnect, Str(L"host-c"), Str(L""), Bool(true), Str(L""), Str(L""), Str(L""),
                          Str(L"vm-1"), Str(L""), Str(L""), Variant()));
    EXPECT_EQ(E_INVALIDARG, Connect(vm.get(), L"", nullptr));
    // Too few arguments never reach the console's code.
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, CallConsole(vm.get(), kConnect, Str(L"host-d")));
}

TEST(ConsoleDevices, ListsDetailsAndConnectsDevices) {
    Console console;
    console.Start(L"devices", 0);
    HostWindow window;
    const ComPtr<RecordingSink> sink = MakeSink();
    const ComPtr<IDispatch> vm = MakeControl(console.object.get(), window.get(), sink.get());
    ASSERT_TRUE(vm);
    ASSERT_EQ(S_OK, Connect(vm.get(), L"host-dev", nullptr));
    ASSERT_TRUE(sink->WaitFor(2));
    sink->calls.clear();

    // Lists: keys of the devices whose type is in the mask, in table order.
    using Keys = std::vector<std::wstring>;
    EXPECT_EQ((Keys{L"floppy-0", L"cdrom-0", L"usb-0"}), DeviceKeys(vm.get(), kGetVirtualDevices, 7));
    EXPECT_EQ((Keys{L"floppy-0", L"usb-0"}), DeviceKeys(vm.get(), kGetVirtualDevices, 1 | 4));
    EXPECT_EQ(Keys{}, DeviceKeys(vm.get(), kGetVirtualDevices, 0));
    EXPECT_EQ((Keys{L"client-cdrom-d", L"client-usb-1", L"client-usb-2"}),
              DeviceKeys(vm.get(), kGetPhysicalClientDevices, 7));
    EXPECT_EQ((Keys{L"client-usb-1", L"client-usb-2"}), DeviceKeys(vm.get(), kGetPhysicalClientDevices, 4));
    EXPECT_EQ(Keys{}, DeviceKeys(vm.get(), kGetPhysicalClientDevices, 1));

    // Details: nine texts; numbers unsigned decimal, flags "true"/"false".
    EXPECT_EQ((Keys{L"cdrom-0", L"2", L"1", L"false", L"CD/DVD drive 1", L"true", L"1", L"", L""}),
              Details(vm.get(), kGetVirtualDeviceDetails, L"cdrom-0"));
    EXPECT_EQ((Keys{L"client-cdrom-d", L"2", L"1", L"false", L"CD-ROM drive (D:)", L"D:\\", L"0", L"false", L"0"}),
              Details(vm.get(), kGetPhysicalClientDeviceDetails, L"client-cdrom-d"));
    const Keys reader = Details(vm.get(), kGetPhysicalClientDeviceDetails, L"client-usb-2");
    ASSERT_EQ(9u, reader.size());
    EXPECT_EQ(L"4", reader[1]);
    EXPECT_EQ(L"4096", reader[6]);
    EXPECT_EQ(L"true", reader[7]);
    EXPECT_EQ(L"2147483650", reader[8]);  // the top bit, unsigned

    // Unknown keys, and a virtual key asked of the physical list.
    Variant none;
    EXPECT_EQ(E_INVALIDARG, CallConsoleFor(vm.get(), kGetVirtualDeviceDetails, VT_ARRAY | VT_VARIANT, none,
                                           Str(L"cdrom-9")));
    EXPECT_EQ(E_INVALIDARG, CallConsoleFor(vm.get(), kGetPhysicalClientDeviceDetails, VT_ARRAY | VT_VARIANT, none,
                                           Str(L"cdrom-0")));
    EXPECT_EQ(E_INVALIDARG, CallConsoleFor(vm.get(), kGetVirtualDeviceDetails, VT_ARRAY | VT_VARIANT, none,
                                           Str(nullptr)));

    // Connecting: refused for a mismatched type, an unknown key or backing.
    EXPECT_EQ(E_INVALIDARG, CallConsole(vm.get(), kConnectDevice, Str(L"cdrom-0"), Str(L"client-usb-1"), UI4(2)));
    EXPECT_EQ(E_INVALIDARG, CallConsole(vm.get(), kConnectDevice, Str(L"cdrom-7"), Str(L"client-cdrom-d"), UI4(2)));
    EXPECT_EQ(E_INVALIDARG, CallConsole(vm.get(), kConnectDevice, Str(L"cdrom-0"), Str(L"client-cdrom-d"), UI4(3)));
    EXPECT_EQ(L"1", Details(vm.get(), kGetVirtualDeviceDetails, L"cdrom-0")[2]);

    ASSERT_EQ(S_OK, CallConsole(vm.get(), kConnectDevice, Str(L"cdrom-0"), Str(L"client-cdrom-d"), UI4(2)));
    EXPECT_EQ((Keys{L"cdrom-0", L"2", L"2", L"true", L"CD/DVD drive 1", L"true", L"2", L"client-cdrom-d",
                    ComputerName()}),
              Details(vm.get(), kGetVirtualDeviceDetails, L"cdrom-0"));
    // A file backing for the floppy.
    ASSERT_EQ(S_OK, CallConsole(vm.get(), kConnectDevice, Str(L"floppy-0"), Str(L"C:\\images\\boot.flp"), UI4(1)));
    EXPECT_EQ(L"C:\\images\\boot.flp", Details(vm.get(), kGetVirtualDeviceDetails, L"floppy-0")[7]);

    ASSERT_EQ(S_OK, CallConsole(vm.get(), kDisconnectDevice, Str(L"cdrom-0")));
    EXPECT_EQ((Keys{L"cdrom-0", L"2", L"1", L"false", L"CD/DVD drive 1", L"true", L"2", L"", L""}),
              Details(vm.get(), kGetVirtualDeviceDetails, L"cdrom-0"));
    EXPECT_EQ(E_INVALIDARG, CallConsole(vm.get(), kDisconnectDevice, Str(L"usb-3")));

    // Each change: the device's state, then the list changed.
    ASSERT_TRUE(sink->WaitFor(6));
    Pump(100);
    ASSERT_EQ(6u, sink->calls.size());
    const struct {
        ULONG state;
        const wchar_t* virtualKey;
        const wchar_t* physicalKey;
    } expected[] = {{2, L"cdrom-0", L"client-cdrom-d"}, {2, L"floppy-0", L"C:\\images\\boot.flp"},
                    {1, L"cdrom-0", L"client-cdrom-d"}};
    for (int i = 0; i < 3; ++i) {
        const RecordingSink::Call& state = sink->calls[2 * i];
        EXPECT_EQ(kOnDeviceStateChange, state.id);
        ASSERT_EQ(kDeviceStateTypes, state.types());
        EXPECT_EQ(expected[i].state, state.args[0].get().ulVal);
        EXPECT_EQ(L"host-dev", TextOf(state.args[1].get()));
        EXPECT_EQ(L"vm-42", TextOf(state.args[3].get()));
        EXPECT_EQ(expected[i].virtualKey, TextOf(state.args[4].get()));
        EXPECT_EQ(expected[i].physicalKey, TextOf(state.args[5].get()));
        EXPECT_EQ(VARIANT_TRUE, state.args[6].get().boolVal);
        EXPECT_EQ(kOnVirtualDevicesChange, sink->calls[2 * i + 1].id);
        EXPECT_TRUE(sink->calls[2 * i + 1].args.empty());
    }
}

TEST(ConsoleEvents, ComeAfterTheCallInOrderAndOnlyWhileAdvised) {
    Console console;
    console.Start(L"events", kPersistent);
    HostWindow window;
    const ComPtr<RecordingSink> sink = MakeSink();
    bool inside = false;
    sink->insideCall = &inside;
    const ComPtr<IDispatch> vm = MakeControl(console.object.get(), window.get(), sink.get());
    ASSERT_TRUE(vm);
    EXPECT_TRUE(GetBool(vm.get(), kTestIsAdvised));

    // Raised after the operation's call has returned, never inside it.
    inside = true;
    ASSERT_EQ(S_OK, CallConsole(vm.get(), kSetFullscreen, Bool(true)));
    inside = false;
    EXPECT_TRUE(sink->calls.empty());
    ASSERT_TRUE(sink->WaitFor(1));
    EXPECT_EQ(0, sink->callsDuringOutgoingCall);

    // A burst arrives complete and in order.
    sink->calls.clear();
    for (LONG i = 1; i <= 20; ++i) ASSERT_EQ(S_OK, CallConsole(vm.get(), kSetScreenSize, I4(100 + i), I4(i)));
    ASSERT_TRUE(sink->WaitFor(20));
    Pump(100);
    ASSERT_EQ(20u, sink->calls.size());
    for (LONG i = 1; i <= 20; ++i) {
        EXPECT_EQ(kOnScreenSizeChange, sink->calls[i - 1].id);
        EXPECT_EQ(100 + i, sink->calls[i - 1].args[0].get().lVal);
        EXPECT_EQ(i, sink->calls[i - 1].args[1].get().lVal);
    }

    // The test hook raises any event with the argument types given.
    sink->calls.clear();
    Variant array;
    {
        comfw::SafeArray a;
        ASSERT_EQ(S_OK, comfw::SafeArray::Variants(3, a));
        a.put_variant(0, I4(-5).get());
        a.put_variant(1, Str(L"text").get());
        a.put_variant(2, Variant::Bool(true).get());
        array.put()->vt = VT_ARRAY | VT_VARIANT;
        array.ptr()->parray = a.detach();
    }
    ASSERT_EQ(S_OK, CallConsole(vm.get(), kTestRaiseEvent, I4(2), array));
    ASSERT_EQ(S_OK, CallConsole(vm.get(), kTestRaiseEvent, I4(kOnPhysicalClientDevicesChange), Variant()));
    ASSERT_EQ(S_OK, CallConsole(vm.get(), kTestRaiseEvent, I4(42), Variant()));
    ASSERT_TRUE(sink->WaitFor(3));
    EXPECT_EQ(2, sink->calls[0].id);
    EXPECT_EQ((Types{VT_I4, VT_BSTR, VT_BOOL}), sink->calls[0].types());
    EXPECT_EQ(-5, sink->calls[0].args[0].get().lVal);
    EXPECT_EQ(L"text", TextOf(sink->calls[0].args[1].get()));
    EXPECT_EQ(kOnPhysicalClientDevicesChange, sink->calls[1].id);
    EXPECT_TRUE(sink->calls[1].args.empty());
    EXPECT_EQ(42, sink->calls[2].id);
    EXPECT_EQ(E_INVALIDARG, CallConsole(vm.get(), kTestRaiseEvent, I4(1), I4(7)));

    // A second client binds the same object and attaches a control of its own:
    // session events reach both sinks, hook events only their own.
    ComPtr<IDispatch> secondBind;
    ASSERT_EQ(S_OK, BindConsole(console.id, secondBind));
    const ComPtr<RecordingSink> other = MakeSink();
    const ComPtr<IDispatch> vm2 = MakeControl(secondBind.get(), window.get(), other.get(), true);
    ASSERT_TRUE(vm2);
    EXPECT_TRUE(GetBool(vm2.get(), kGetFullscreen));  // one session
    sink->calls.clear();
    ASSERT_EQ(S_OK, CallConsole(vm2.get(), kGrabInput));
    ASSERT_EQ(S_OK, CallConsole(vm2.get(), kTestRaiseEvent, I4(kOnVirtualDevicesChange), Variant()));
    ASSERT_TRUE(other->WaitFor(2));
    ASSERT_TRUE(sink->WaitFor(1));
    Pump(150);
    ASSERT_EQ(1u, sink->calls.size());
    EXPECT_EQ(kOnGrabStateChange, sink->calls[0].id);
    EXPECT_EQ(kOnGrabStateChange, other->calls[0].id);
    EXPECT_EQ(kOnVirtualDevicesChange, other->calls[1].id);

    // Unadvised: nothing more, from operations or the hook.
    ASSERT_EQ(S_OK, CallConsole(vm.get(), kUnadvise));
    EXPECT_FALSE(GetBool(vm.get(), kTestIsAdvised));
    sink->calls.clear();
    other->calls.clear();
    ASSERT_EQ(S_OK, CallConsole(vm.get(), kSetFullscreen, Bool(false)));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, CallConsole(vm.get(), kTestRaiseEvent, I4(6), Variant()));
    ASSERT_TRUE(other->WaitFor(1));
    Pump(200);
    EXPECT_TRUE(sink->calls.empty());

    // Advised again with another sink: events go there.
    const ComPtr<RecordingSink> again = MakeSink();
    ASSERT_EQ(S_OK, CallConsole(vm.get(), kAdvise, SinkArg(again.get())));
    ASSERT_EQ(S_OK, CallConsole(vm.get(), kSendCAD));
    ASSERT_EQ(S_OK, CallConsole(vm.get(), kUngrabInput));
    ASSERT_TRUE(again->WaitFor(1));
    EXPECT_EQ(kOnGrabStateChange, again->calls[0].id);

    // Deleted: the control refuses everything and raises nothing; the other
    // control goes on.
    ASSERT_EQ(S_OK, CallConsole(vm.get(), kDelete));
    EXPECT_FALSE(GetBool(vm.get(), kTestIsAdvised));
    EXPECT_EQ(E_UNEXPECTED, CallConsole(vm.get(), kSetFullscreen, Bool(true)));
    EXPECT_EQ(E_UNEXPECTED, CallConsole(vm.get(), kDelete));
    Variant state;
    EXPECT_EQ(E_UNEXPECTED, CallConsoleFor(vm.get(), kGetConnectionState, VT_UI4, state));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, CallConsole(vm.get(), kTestRaiseEvent, I4(6), Variant()));
    again->calls.clear();
    other->calls.clear();
    ASSERT_EQ(S_OK, CallConsole(vm2.get(), kSetFullscreen, Bool(true)));
    ASSERT_TRUE(other->WaitFor(1));
    Pump(150);
    EXPECT_TRUE(again->calls.empty());
    EXPECT_EQ(S_OK, CallConsole(vm2.get(), kDelete));
}

TEST(ConsoleFaults, ResultFaultsFailWrongTypeAndExit) {
    ScopedFaults faults(L"fail=103:0x80070057; fail=3:-2147467259; wrong-type=0; wrong-type=108; "
                        L"wrong-type=105:3; exit=120:7");
    Console console;
    console.Start(L"faults", 0);
    ASSERT_TRUE(console.object);

    // GetFeatureFlags fails with E_FAIL; CreateControl answers text.
    Variant v;
    EXPECT_EQ(E_FAIL, CallConsoleFor(console.object.get(), kGetFeatureFlags, VT_UI4, v));
    HostWindow window;
    EXPECT_EQ(DISP_E_TYPEMISMATCH, CallConsoleFor(console.object.get(), kCreateControl, VT_DISPATCH, v,
                                                  Hwnd(window.get()), I4(0), I4(0), I4(10), I4(10)));
    const ComPtr<IDispatch> vm = MakeControl(console.object.get(), window.get(), nullptr, true);
    ASSERT_TRUE(vm);

    EXPECT_EQ(E_INVALIDARG, CallConsoleFor(vm.get(), kGetConnectionState, VT_UI4, v));
    EXPECT_EQ(DISP_E_TYPEMISMATCH, CallConsoleFor(vm.get(), kGetScreenWidth, VT_I4, v));
    ASSERT_EQ(S_OK, CallConsoleFor(vm.get(), kGetScreenWidth, VT_BSTR, v));
    EXPECT_EQ(L"wrong type", TextOf(v.get()));
    ASSERT_EQ(S_OK, CallConsoleFor(vm.get(), kGetFullscreen, VT_I4, v));
    // Operations without a fault are untouched.
    EXPECT_EQ(768, GetI4(vm.get(), kGetScreenHeight));

    // SendCAD ends the process inside the call.
    EXPECT_TRUE(FAILED(CallConsole(vm.get(), kSendCAD)));
    ASSERT_TRUE(WaitForExit(console.process.handle(), 5000));
    EXPECT_EQ(7u, console.process.exit_code());
}

TEST(ConsoleFaults, ReadyEventFaultsAndTheIdleLimit) {
    {
        // Registered but never ready: a launcher times out, yet the object
        // binds; with no control ever attached, the idle limit ends it.
        ScopedFaults faults(L"no-ready;idle-ms=800");
        Console console;
        ASSERT_EQ(Ready::TimedOut, console.Launch(L"no-ready", 0, 2, 0, 500));
        ComPtr<IDispatch> object;
        ASSERT_TRUE(PumpUntil([&] { return BindConsole(console.id, object) == S_OK; }, 2000));
        EXPECT_EQ(0u, GetUI4(object.get(), kGetFeatureFlags));
        object.reset();
        ASSERT_TRUE(WaitForExit(console.process.handle(), 5000));
        EXPECT_EQ(0u, console.process.exit_code());
    }
    {
        // Ready without registering: nothing to bind.
        ScopedFaults faults(L"no-register;idle-ms=300");
        Console console;
        ASSERT_EQ(Ready::Set, console.Launch(L"no-register", 0));
        ComPtr<IDispatch> object;
        EXPECT_EQ(MK_E_UNAVAILABLE, BindConsole(console.id, object));
        EXPECT_TRUE(WaitForExit(console.process.handle(), 5000));
    }
    {
        // Ready late, and registered before it.
        ScopedFaults faults(L"ready-delay=600");
        Console console;
        const ULONGLONG start = ::GetTickCount64();
        ASSERT_EQ(Ready::Set, console.Launch(L"ready-delay", 0));
        EXPECT_GE(::GetTickCount64() - start, 600u);
        ComPtr<IDispatch> object;
        EXPECT_EQ(S_OK, BindConsole(console.id, object));
    }
}

TEST(ConsoleLifetime, NonPersistentEndsAfterDeleteOnceReleasedAndRevokes) {
    Console console;
    console.Start(L"delete", 1);
    HostWindow window;
    const ComPtr<RecordingSink> sink = MakeSink();
    ComPtr<IDispatch> vm = MakeControl(console.object.get(), window.get(), sink.get());
    ASSERT_TRUE(vm);
    ASSERT_EQ(S_OK, CallConsole(vm.get(), kUnadvise));
    ASSERT_EQ(S_OK, CallConsole(vm.get(), kDelete));
    // While the client still holds the deleted control, the process waits
    // for its last calls; it ends as soon as the control is released.
    Pump(300);
    ASSERT_TRUE(console.process.running());
    EXPECT_FALSE(GetBool(vm.get(), kTestIsAdvised));
    vm.reset();
    ASSERT_TRUE(WaitForExit(console.process.handle(), 1500));
    EXPECT_EQ(0u, console.process.exit_code());
    console.object.reset();
    ComPtr<IDispatch> object;
    EXPECT_EQ(MK_E_UNAVAILABLE, BindConsole(console.id, object));
    EXPECT_TRUE(sink->calls.empty());
}

TEST(ConsoleLifetime, NonPersistentDeletedButNeverReleasedEndsAfterAGracePeriod) {
    Console console;
    console.Start(L"grace", 0);
    HostWindow window;
    ComPtr<IDispatch> vm = MakeControl(console.object.get(), window.get(), nullptr);
    ASSERT_TRUE(vm);
    ASSERT_EQ(S_OK, CallConsole(vm.get(), kDelete));
    const ULONGLONG deleted = ::GetTickCount64();
    ASSERT_TRUE(WaitForExit(console.process.handle(), 6000));
    EXPECT_GE(::GetTickCount64() - deleted, 2500u);
}

TEST(ConsoleLifetime, NonPersistentEndsWhenItsParentHasGoneAndNoControlIsAttached) {
    Process parent;
    StartDummyParent(parent);
    // A: nothing attached. B: a control in our window.
    Console a, b;
    a.Start(L"parent-a", 0, 2, parent.pid());
    b.Start(L"parent-b", 0, 2, parent.pid());
    HostWindow window;
    ComPtr<IDispatch> vm = MakeControl(b.object.get(), window.get(), nullptr);
    ASSERT_TRUE(vm);
    Pump(200);
    EXPECT_TRUE(a.process.running());

    parent.Kill();
    ASSERT_TRUE(WaitForExit(a.process.handle(), 3000));
    EXPECT_EQ(0u, a.process.exit_code());
    Pump(300);
    ASSERT_TRUE(b.process.running());
    EXPECT_EQ(1u, GetUI4(vm.get(), kGetConnectionState));

    // Our window goes, and the console window with it: B is detached now,
    // and ends once we release its control.
    window.Destroy();
    Pump(300);
    ASSERT_TRUE(b.process.running());
    vm.reset();
    ASSERT_TRUE(WaitForExit(b.process.handle(), 1500));
    EXPECT_EQ(0u, b.process.exit_code());
}

TEST(ConsoleLifetime, PersistentOutlivesItsParentTakesAttachesAndEndsWhenIdle) {
    ScopedFaults faults(L"idle-ms=2000");
    Process parent;
    StartDummyParent(parent);
    Console console;
    console.Start(L"persistent", kPersistent | 1, 2, parent.pid());
    ASSERT_TRUE(console.object);
    {
        HostWindow window;
        const ComPtr<RecordingSink> sink = MakeSink();
        ComPtr<IDispatch> vm = MakeControl(console.object.get(), window.get(), sink.get());
        ASSERT_TRUE(vm);
        ASSERT_EQ(S_OK, Connect(vm.get(), L"host-p", L"proxy-p:8080"));
        ASSERT_TRUE(sink->WaitFor(2));
        ASSERT_EQ(S_OK, CallConsole(vm.get(), kUnadvise));
        ASSERT_EQ(S_OK, CallConsole(vm.get(), kDelete));
    }
    console.object.reset();
    // The page and its process are gone; the console stays.
    parent.Kill();
    Pump(500);
    ASSERT_TRUE(console.process.running());

    // Another process attaches, finds the session and resizes the screen.
    Process client;
    const std::wstring clientExe = ProgramFolder() + L"\\console_client.exe";
    ASSERT_TRUE(client.Start(clientExe, L"\"" + clientExe + L"\" \"" + console.id + L"\" host-p 640 480", 0));
    ASSERT_TRUE(WaitForExit(client.handle(), 10000));
    EXPECT_EQ(0u, client.exit_code()) << "console_client failed at step " << client.exit_code();
    ASSERT_TRUE(console.process.running());

    // And so do we, again.
    ASSERT_EQ(S_OK, BindConsole(console.id, console.object));
    EXPECT_EQ(kPersistent | 1, GetUI4(console.object.get(), kGetFeatureFlags));
    HostWindow window;
    const ComPtr<RecordingSink> sink = MakeSink();
    ComPtr<IDispatch> vm = MakeControl(console.object.get(), window.get(), sink.get(), true);
    ASSERT_TRUE(vm);
    EXPECT_EQ(2u, GetUI4(vm.get(), kGetConnectionState));
    EXPECT_EQ(640, GetI4(vm.get(), kGetScreenWidth));
    EXPECT_EQ(480, GetI4(vm.get(), kGetScreenHeight));
    // While attached, the idle limit does not run.
    Pump(2200);
    ASSERT_TRUE(console.process.running());
    ASSERT_EQ(S_OK, CallConsole(vm.get(), kDelete));
    vm.reset();
    console.object.reset();

    // Idle: it ends after the limit, not before, and revokes its name.
    const ULONGLONG deleted = ::GetTickCount64();
    ASSERT_TRUE(WaitForExit(console.process.handle(), 6000));
    EXPECT_GE(::GetTickCount64() - deleted, 1800u);
    EXPECT_EQ(0u, console.process.exit_code());
    ComPtr<IDispatch> object;
    EXPECT_EQ(MK_E_UNAVAILABLE, BindConsole(console.id, object));
    EXPECT_TRUE(sink->calls.empty());
}
