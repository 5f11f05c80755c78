// Keeping the console's window fitted to the control, and ending the link.
#include "win32/plugin/procControl.h"

#include "comfw/variant.h"
#include "pluginlog/pluginLog.h"
#include "win32/plugin/consoleCall.h"
#include "zova/consoleContract.h"
#include "win32/plugin/procControlDetail.h"

namespace zova {

void ResizeVMWindow(HWND window, IDispatch* vmControl) noexcept {
    // Before the control has a window (or after it is gone) there is nothing
    // to fit to, and nothing worth a line.
    if (!::IsWindow(window)) return;
    if (!vmControl) {
        ZOVA_REPORT("ResizeVMWindow: no VM control");
        return;
    }
    // Asked afresh each time: the console may have replaced its window.
    comfw::Variant handle;
    const HRESULT hr = CallConsoleFor(vmControl, ZOVA_DISPID_GET_HWND, VT_I4, handle);
    if (FAILED(hr)) {
        ZOVA_REPORT("Invoke failed for GetHWND: %d", static_cast<int>(hr));
        return;
    }
    const HWND consoleWindow = detail::I4ToHandle(handle.get().lVal);
    if (!::IsWindow(consoleWindow)) {
        // A console that has no window (yet) is not an error.
        ZOVA_LOG("No window assiciated with the VM control");
        return;
    }
    RECT client;
    if (!::GetClientRect(window, &client)) {
        ZOVA_REPORT("GetClientRect failed: %d", static_cast<int>(::GetLastError()));
        return;
    }
    // Client coordinates of the control: the console window is its child.
    if (!::MoveWindow(consoleWindow, client.left, client.top, client.right - client.left,
                      client.bottom - client.top, TRUE)) {
        ZOVA_REPORT("MoveWindow failed: %d", static_cast<int>(::GetLastError()));
    }
}

void TeardownVMControl(comfw::ComPtr<IDispatch>& consoleProcess, comfw::ComPtr<IDispatch>& vmControl) noexcept {
    // A console that refuses, or has gone away, still loses both references.
    HRESULT hr = CallConsole(vmControl.get(), ZOVA_DISPID_UNADVISE);
    if (FAILED(hr)) ZOVA_REPORT("Unadvise failed: %d", static_cast<int>(hr));
    hr = CallConsole(vmControl.get(), ZOVA_DISPID_DELETE);
    if (FAILED(hr)) ZOVA_REPORT("VM control Delete() failed: %d", static_cast<int>(hr));
    vmControl.reset();
    consoleProcess.reset();
}

}  // namespace zova
