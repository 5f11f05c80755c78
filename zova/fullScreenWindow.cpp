#include "zova/fullScreenWindow.h"

#include "zova/consoleHost.h"

namespace zova::console {

FullScreenWindow::~FullScreenWindow() {
    if (hwnd()) ::DestroyWindow(hwnd());
}

bool FullScreenWindow::Show() noexcept {
    const RECT all{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    if (!CreateWindowFor(nullptr, &all, L"VM console", WS_POPUP | WS_VISIBLE, WS_EX_TOPMOST)) return false;
    ::SetForegroundWindow(hwnd());
    ::SetFocus(hwnd());
    return true;
}

void FullScreenWindow::Repaint() noexcept {
    if (hwnd()) ::InvalidateRect(hwnd(), nullptr, FALSE);
}

LRESULT FullScreenWindow::HandleMessage(UINT msg, WPARAM wp, LPARAM lp, bool& handled) noexcept {
    handled = true;
    if (msg == WM_ERASEBKGND) return 1;  // WM_PAINT fills the whole window
    if (msg == WM_PAINT) {
        PAINTSTRUCT ps;
        if (HDC dc = ::BeginPaint(hwnd(), &ps)) {
            RECT client{};
            ::GetClientRect(hwnd(), &client);
            if (!host_.rfb().Paint(dc, client)) ::FillRect(dc, &client, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
            ::EndPaint(hwnd(), &ps);
        }
        return 0;
    }
    if (rfb::RfbSession* session = host_.rfb().session(); session && session->connected()) {
        const VmSession& s = host_.session();
        if (input_.Forward(hwnd(), *session, s.screenWidth, s.screenHeight, msg, wp, lp)) return 0;
        if (msg == WM_KILLFOCUS) input_.ReleaseAll(*session);
    }
    handled = false;
    return 0;
}

}  // namespace zova::console
