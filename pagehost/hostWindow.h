// The page's top-level window, parent of every control's window.
#pragma once

#include <windows.h>

#include "comfw/window.h"

namespace pagehost {

class HostWindowEvents {
public:
    virtual void OnClientResized() noexcept = 0;
    virtual void OnCloseRequested() noexcept = 0;
    virtual void OnTimer(UINT_PTR id) noexcept = 0;
protected:
    ~HostWindowEvents() = default;
};

class HostWindow : public comfw::Window<HostWindow> {
public:
    explicit HostWindow(HostWindowEvents* events) noexcept : events_(events) {}
    ~HostWindow() { if (hwnd()) ::DestroyWindow(hwnd()); }

    // A shown, not activated, top-level window with this client size.
    bool Create(const wchar_t* title, SIZE client) noexcept {
        RECT r{0, 0, client.cx, client.cy};
        ::AdjustWindowRectEx(&r, kStyle, FALSE, 0);
        const RECT place{40, 40, 40 + r.right - r.left, 40 + r.bottom - r.top};
        if (!CreateWindowFor(nullptr, &place, title, kStyle, 0)) return false;
        ::ShowWindow(hwnd(), SW_SHOWNOACTIVATE);
        return true;
    }

    void SetClientSize(SIZE client) noexcept {
        RECT r{0, 0, client.cx, client.cy};
        ::AdjustWindowRectEx(&r, kStyle, FALSE, 0);
        ::SetWindowPos(hwnd(), nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    SIZE ClientSize() const noexcept {
        RECT r{};
        ::GetClientRect(hwnd(), &r);
        return SIZE{r.right - r.left, r.bottom - r.top};
    }

    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM, bool& handled) noexcept {
        switch (msg) {
            case WM_SIZE:
                if (events_) events_->OnClientResized();
                return 0;
            case WM_TIMER:
                handled = true;
                if (events_) events_->OnTimer(wp);
                return 0;
            case WM_CLOSE:
                // Closing the window ends the page like host.exit(0); the page
                // destroys the window itself once the controls are closed.
                handled = true;
                if (events_) events_->OnCloseRequested();
                return 0;
            case WM_ERASEBKGND: {
                // The window class has no brush: the page is white, as a browser's is.
                handled = true;
                RECT r{};
                ::GetClientRect(hwnd(), &r);
                ::FillRect(reinterpret_cast<HDC>(wp), &r, reinterpret_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
                return 1;
            }
            default:
                return 0;
        }
    }

    void Detach() noexcept { events_ = nullptr; }

    static constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;

private:
    HostWindowEvents* events_;
};

}  // namespace pagehost
