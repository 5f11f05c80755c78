#include "zova/inputForwarder.h"

#include <string>

#include "comfw/scopeExit.h"
#include "zova/keyMap.h"

namespace zova::console {
namespace {

// The clipboard's text as Latin-1, the only text ClientCutText carries;
// other characters become '?'.
std::string ClipboardText(HWND window) {
    std::string text;
    if (!::OpenClipboard(window)) return text;
    const auto close = comfw::scope_exit([] { ::CloseClipboard(); });
    if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* wide = static_cast<const wchar_t*>(::GlobalLock(data))) {
            for (const wchar_t* c = wide; *c; ++c) text += *c < 256 ? static_cast<char>(*c) : '?';
            ::GlobalUnlock(data);
        }
    }
    return text;
}

}  // namespace

bool InputForwarder::Forward(HWND window, rfb::RfbSession& session, int guestWidth, int guestHeight, UINT msg,
                             WPARAM wp, LPARAM lp) noexcept {
    switch (msg) {
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
        case WM_KEYUP:
        case WM_SYSKEYUP: {
            const bool down = msg == WM_KEYDOWN || msg == WM_SYSKEYDOWN;
            UINT key = static_cast<UINT>(wp) & 0xFF;
            // The right Shift comes as VK_SHIFT with its own scan code.
            if (key == VK_SHIFT && ((lp >> 16) & 0xFF) == ::MapVirtualKeyW(VK_RSHIFT, MAPVK_VK_TO_VSC)) key = VK_RSHIFT;
            const uint32_t keysym = down ? KeysymFor(key, (lp >> 24) & 1, ::GetKeyState(VK_SHIFT) < 0) : pressed_[key];
            if (!keysym) return false;
            pressed_[key] = down ? keysym : 0;
            session.SendKey(keysym, down);
            return true;
        }
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
        case WM_MBUTTONDOWN:
        case WM_MBUTTONUP:
        case WM_RBUTTONDOWN:
        case WM_RBUTTONUP:
        case WM_MOUSEMOVE:
        case WM_MOUSEWHEEL: {
            if (msg == WM_LBUTTONDOWN) ::SetFocus(window);
            POINT at{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
            if (msg == WM_MOUSEWHEEL) ::ScreenToClient(window, &at);  // it comes in screen coordinates
            const WPARAM keys = msg == WM_MOUSEWHEEL ? GET_KEYSTATE_WPARAM(wp) : wp;
            const uint8_t buttons = (keys & MK_LBUTTON ? 1 : 0) | (keys & MK_MBUTTON ? 2 : 0) | (keys & MK_RBUTTON ? 4 : 0);
            RECT client{};
            ::GetClientRect(window, &client);
            const int x = client.right > 0 ? ::MulDiv(at.x, guestWidth, client.right) : 0;
            const int y = client.bottom > 0 ? ::MulDiv(at.y, guestHeight, client.bottom) : 0;
            if (msg == WM_MOUSEWHEEL) session.SendPointer(x, y, buttons | (GET_WHEEL_DELTA_WPARAM(wp) > 0 ? 8 : 16));
            session.SendPointer(x, y, buttons);
            return true;
        }
        case WM_PASTE:
            try {
                session.SendCutText(ClipboardText(window));
            } catch (...) {
            }
            return true;
        default:
            return false;
    }
}

void InputForwarder::ReleaseAll(rfb::RfbSession& session) noexcept {
    for (uint32_t& keysym : pressed_) {
        if (keysym) session.SendKey(keysym, false);
        keysym = 0;
    }
}

}  // namespace zova::console
