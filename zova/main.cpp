// The reference console process. Started by the control with
//   "<path>" --parent-PID <n> --instance-ID "<id>" --modes <n>
//            --message-mode <n> --features <n>
// it registers its console process object in the running object table as
// "ZOVA_MONIKER_" + instance ID, then sets the event "ZOVA_EVENT_" + instance
// ID that the control waits for, and serves its objects from an STA message
// loop until the lifetime rules of ConsoleHost end it. It also watches the
// parent process: a non-persistent console whose parent has gone ends once no
// control is attached. Fault switches for tests: see faults.h. What Connect's
// host argument selects (an RFB server or the simulated VM): see rfbLink.h and
// endpointPolicy.h.
#include <windows.h>
#include <ole2.h>
#include <objbase.h>
#include <cstdio>
#include <string>

#include "comfw/bstr.h"
#include "comfw/comPtr.h"
#include "comfw/hresult.h"
#include "comfw/uniqueAny.h"
#include "zova/commandLine.h"
#include "zova/consoleContract.h"
#include "zova/consoleHost.h"
#include "zova/consoleProcess.h"
#include "zova/faults.h"

using namespace zova::console;

namespace {

enum ExitCode : int { kExitOk = 0, kExitBadCommandLine = 2, kExitStartFailed = 4 };

int Fail(int code, const std::wstring& what) {
    fwprintf(stderr, L"velmora-zova: %ls\n", what.c_str());
    fflush(stderr);
    return code;
}

// Registration under the moniker name; revoked when the owner goes.
class RotRegistration {
public:
    ~RotRegistration() { Revoke(); }
    HRESULT Register(IUnknown* object, const std::wstring& name) noexcept {
        COMFW_RETURN_IF_FAILED(::GetRunningObjectTable(0, rot_.put()));
        comfw::ComPtr<IMoniker> moniker;
        COMFW_RETURN_IF_FAILED(::CreateFileMoniker(name.c_str(), moniker.put()));
        // Open to clients of any identity where the platform allows it; Windows
        // refuses that (CO_E_WRONG_SERVER_IDENTITY) to a program without an
        // AppID RunAs entry, and an ordinary registration still serves a
        // control of the same user.
        HRESULT hr = ActiveFaults().anyClientRefused
                         ? CO_E_WRONG_SERVER_IDENTITY
                         : rot_->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE | ROTFLAGS_ALLOWANYCLIENT, object,
                                          moniker.get(), &cookie_);
        if (hr == CO_E_WRONG_SERVER_IDENTITY)
            hr = rot_->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, object, moniker.get(), &cookie_);
        return hr;
    }
    void Revoke() noexcept {
        if (rot_ && cookie_) rot_->Revoke(cookie_);
        cookie_ = 0;
        rot_.reset();
    }

private:
    comfw::ComPtr<IRunningObjectTable> rot_;
    DWORD cookie_ = 0;
};

void SignalReady(const std::wstring& name) {
    const comfw::unique_handle event(::OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str()));
    if (!event) {
        // Started by hand: nobody waits for the event; go on serving.
        fwprintf(stderr, L"velmora-zova: no ready event %ls (error %lu)\n", name.c_str(), ::GetLastError());
        return;
    }
    ::SetEvent(event.get());
}

// The STA loop; it also notices the parent process ending.
void RunMessageLoop(ConsoleHost& host, comfw::unique_handle parent) {
    for (;;) {
        const HANDLE waited = parent.get();
        const DWORD r = ::MsgWaitForMultipleObjects(waited ? 1 : 0, waited ? &waited : nullptr, FALSE, INFINITE,
                                                    QS_ALLINPUT);
        if (waited && r == WAIT_OBJECT_0) {
            parent.reset();
            host.NoteParentGone();
            continue;
        }
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) return;
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}

int Run() {
    ConsoleOptions options;
    std::wstring error;
    if (!ParseCommandLine(::GetCommandLineW(), options, error)) {
        return Fail(kExitBadCommandLine,
                    error + L"\nusage: velmora-zova.exe --parent-PID <pid> --instance-ID \"<id>\" --modes <n> "
                            L"--message-mode <n> --features <n>\n"
                            L"Connect's host argument: host:port (or [IPv6]:port) is an RFB server, reached only if "
                            L"the AllowedEndpoints policy under HKLM or HKCU\\Software\\Velmora\\Remote Console "
                            L"allows it (loopback only when unset), with VNC authentication by the password; a host "
                            L"name without a port is the simulated VM.");
    }
    if (!InitActiveFaults(error)) return Fail(kExitBadCommandLine, L"ZOVA_CONSOLE_FAULTS: " + error);
    const Faults& faults = ActiveFaults();

    if (FAILED(::OleInitialize(nullptr))) return Fail(kExitStartFailed, L"OleInitialize failed");

    // Lives until the process ends: objects that clients still hold refer to
    // it up to the last moment of COM's own shutdown.
    ConsoleHost* host = new ConsoleHost(options, faults.idleLimitMs);
    if (!host->Create()) return Fail(kExitStartFailed, L"cannot create the console's window");

    int code = kExitOk;
    {
        comfw::ComPtr<ConsoleProcess> process;
        if (FAILED(ConsoleProcess::Make(process, *host))) return Fail(kExitStartFailed, L"out of memory");

        RotRegistration registration;
        if (!faults.noRegister) {
            const HRESULT hr = registration.Register(process->identity(), kMonikerPrefix + options.instanceId);
            if (FAILED(hr)) {
                code = Fail(kExitStartFailed, L"cannot register in the running object table: " + std::to_wstring(hr));
            }
        }
        if (code == kExitOk) {
            if (faults.readyDelayMs) ::Sleep(faults.readyDelayMs);
            if (!faults.noReady) SignalReady(kReadyEventPrefix + options.instanceId);

            // No such process (any more): it has gone already.
            comfw::unique_handle parent(::OpenProcess(SYNCHRONIZE, FALSE, options.parentPid));
            if (!parent) host->NoteParentGone();
            RunMessageLoop(*host, std::move(parent));
        }
        registration.Revoke();
        ::CoDisconnectObject(process->identity(), 0);
    }
    // No OleUninitialize: the process ends here anyway, and under Wine it can
    // wait forever for a call from a client process that has already gone
    // (RpcServerUnregisterIf waiting for calls to complete), which would keep
    // the console, and any pipe it inherited, alive.
    return code;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return Run();
}
