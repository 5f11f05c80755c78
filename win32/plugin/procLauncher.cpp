// Starting a console process of our own: its command line, the ready event it
// sets once its object stands in the running object table, and the wait for
// that event while the thread keeps dispatching its window messages.
#include "win32/plugin/procControl.h"

#include "comfw/uniqueAny.h"
#include "comfw/variant.h"
#include "pluginlog/logResult.h"
#include "win32/plugin/consoleCall.h"
#include "win32/plugin/procControlDetail.h"
#include "zova/consoleContract.h"

#include <shlwapi.h>

#include <boost/format.hpp>
#include <vector>

namespace zova {

namespace {

constexpr DWORD kShippedWaitTimeoutMs = 180000;
DWORD g_waitTimeoutMs = kShippedWaitTimeoutMs;

}  // namespace

DWORD ConsoleWaitTimeoutMs() noexcept { return g_waitTimeoutMs; }
void SetConsoleWaitTimeoutMsForTesting(DWORD ms) noexcept { g_waitTimeoutMs = ms; }

HRESULT StartConsoleAndCreateControl(const std::wstring& instanceId, UINT modes, int messageMode,
                                     uint32_t features, HWND parent, const RECT& rect, IDispatch* sink,
                                     comfw::ComPtr<IDispatch>& consoleProcess,
                                     comfw::ComPtr<IDispatch>& vmControl) noexcept {
    comfw::ComPtr<IDispatch> process;
    ZOVA_RETURN_IF_FAILED_REPORT(StartConsoleProcess(instanceId, modes, messageMode, features, process),
                                 "Failed to start zova process: %d");
    // From here a failure only drops our references: the process is left
    // running, and without Unadvise or Delete.
    return detail::EmbedVMControl(std::move(process), ZOVA_DISPID_CREATE_CONTROL, "Failed to create control: %d", parent,
                                  rect, sink, consoleProcess, vmControl);
}

HRESULT StartConsoleProcess(const std::wstring& instanceId, UINT modes, int messageMode, uint32_t features,
                            comfw::ComPtr<IDispatch>& consoleProcess) noexcept {
    try {
        const std::wstring monikerName = std::wstring(console::kMonikerPrefix) + instanceId;
        const std::wstring eventName = std::wstring(console::kReadyEventPrefix) + instanceId;
        const std::wstring executable = GetConsoleExecutablePath();
        const std::wstring commandLine = BuildConsoleCommandLine(executable, instanceId, modes, messageMode, features);
        return LaunchAndWaitForMoniker(monikerName, eventName, executable, commandLine, consoleProcess);
    }
    COMFW_CATCH_RETURN()
}

std::wstring GetConsoleExecutablePath() {
    // The module that holds this code, found by one of its own functions.
    // (The added module reference is harmless: the module never unloads
    // before its process ends.)
    HMODULE module = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                              reinterpret_cast<LPCWSTR>(&GetConsoleExecutablePath), &module)) {
        ZOVA_REPORT("GetModuleHandleEx failed: %d", static_cast<int>(::GetLastError()));
        module = nullptr;  // names the host executable
    }
    wchar_t path[MAX_PATH];
    if (::GetModuleFileNameW(module, path, MAX_PATH) == 0) {
        ZOVA_REPORT("GetModuleFileName(%d) failed: %d", static_cast<int>(reinterpret_cast<INT_PTR>(module)),
                    static_cast<int>(::GetLastError()));
        return std::wstring();
    }
    if (!::PathRemoveFileSpecW(path)) {
        ZOVA_REPORT("PathRemoveFileSpec failed: %d", static_cast<int>(::GetLastError()));
        return std::wstring();
    }
    return std::wstring(path) + L"\\velmora-zova.exe";
}

std::wstring BuildConsoleCommandLine(const std::wstring& executable, const std::wstring& instanceId, UINT modes,
                                     int messageMode, uint32_t features) {
    // boost::format takes the conversion letters as hints only and streams
    // each value in the classic locale: plain decimal, no grouping. Nothing
    // in the path or the ID is escaped.
    return (boost::wformat(L"\"%s\" --parent-PID %u --instance-ID \"%s\" --modes %d --message-mode %d --features %d") %
            executable % static_cast<unsigned long>(::GetCurrentProcessId()) % instanceId % modes % messageMode %
            features)
        .str();
}

namespace {

// The outcome of the wait for the ready event.
enum class WaitOutcome { Signalled, Quit, Ended, Failed };

// Waits for `event` while dispatching this thread's messages. Each wait gets
// the full time-out anew, so the start may take longer as long as messages
// keep arriving. The console's process is waited on beside the event: a
// console that ends before it is ready (a bad command line, a crash) ends
// the wait at once instead of after the full time-out.
WaitOutcome WaitForReadyEvent(HANDLE event, HANDLE process) noexcept {
    const HANDLE handles[] = {event, process};
    for (;;) {
        const DWORD result = ::MsgWaitForMultipleObjects(2, handles, FALSE, ConsoleWaitTimeoutMs(), QS_ALLINPUT);
        if (result == WAIT_OBJECT_0) {
            ZOVA_LOG("Got WAIT_OBJECT_0");
            return WaitOutcome::Signalled;
        }
        if (result == WAIT_OBJECT_0 + 1) {
            ZOVA_LOG("The console process ended before it was ready");
            return WaitOutcome::Ended;
        }
        if (result != WAIT_OBJECT_0 + 2) {
            ZOVA_REPORT("Unexpected wait result: %d", static_cast<int>(result));
            return WaitOutcome::Failed;
        }
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                // The quit belongs to the loop that runs this thread: give it
                // back and stop waiting.
                ZOVA_LOG("Got WM_QUIT");
                ::PostQuitMessage(static_cast<int>(msg.wParam));
                return WaitOutcome::Quit;
            }
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}

}  // namespace

HRESULT LaunchAndWaitForMoniker(const std::wstring& monikerName, const std::wstring& eventName,
                                const std::wstring& executable, const std::wstring& commandLine,
                                comfw::ComPtr<IDispatch>& consoleProcess) noexcept {
    consoleProcess.reset();
    ZOVA_LOG("Startup: %S, %S, %S, %S", monikerName.c_str(), eventName.c_str(), executable.c_str(),
             commandLine.c_str());

    // Made before the process starts so that it cannot be set too early; an
    // existing event of the name is opened instead.
    comfw::unique_handle event(::CreateEventW(nullptr, FALSE, FALSE, eventName.c_str()));
    ZOVA_RETURN_HR_IF_WIN32_FALSE_REPORT(E_FAIL, event, "Failed to create event %S: %d", eventName.c_str());

    std::vector<wchar_t> buffer;
    try {
        buffer.assign(commandLine.begin(), commandLine.end());
        buffer.push_back(L'\0');
    }
    COMFW_CATCH_RETURN()

    ZOVA_LOG("Creating ZOVA process");
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created{};
    ZOVA_RETURN_HR_IF_WIN32_FALSE_REPORT(E_FAIL,
                                         ::CreateProcessW(executable.c_str(), buffer.data(), nullptr, nullptr, FALSE,
                                                          DETACHED_PROCESS, nullptr, nullptr, &startup, &created),
                                         "Failed to create ZOVA process (%S, %S): %d", executable.c_str(),
                                         commandLine.c_str());
    // The process is never stopped by us; it is waited for only until it is
    // ready.
    const comfw::unique_handle process(created.hProcess), thread(created.hThread);

    ZOVA_LOG("Starting MsgWait loop");
    const WaitOutcome outcome = WaitForReadyEvent(event.get(), process.get());
    event.reset();

    if (outcome == WaitOutcome::Signalled) {
        ZOVA_LOG("Wait for moniker succeeded");
        return BindToConsoleObject(monikerName, consoleProcess);
    }
    ZOVA_REPORT("Wait for moniker result failed");
    return E_FAIL;
}

}  // namespace zova
