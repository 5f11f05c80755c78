// Routes a window procedure to a C++ object. The object is bound to its window
// at WM_NCCREATE (through the creation parameter) and unbound at WM_NCDESTROY.
// Derived implements:
//   LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp, bool& handled);
// Messages it leaves unhandled go to DefWindowProcW.
#pragma once

#include <windows.h>
#include <cstdio>

#include "comfw/module.h"

namespace comfw {

template <class Derived>
class Window {
public:
    HWND hwnd() const noexcept { return hwnd_; }

    HWND CreateWindowFor(HWND parent, const RECT* rect, const wchar_t* name, DWORD style, DWORD exStyle,
                         HMENU menuOrId = nullptr) noexcept {
        const ATOM atom = RegisterClassOnce();
        if (!atom) return nullptr;
        const RECT r = rect ? *rect : RECT{CW_USEDEFAULT, CW_USEDEFAULT, 0, 0};
        const bool defaultPos = rect == nullptr && !(style & WS_CHILD) && parent != HWND_MESSAGE;
        return ::CreateWindowExW(exStyle, MAKEINTATOM(atom), name, style,
                                 defaultPos ? CW_USEDEFAULT : r.left, defaultPos ? CW_USEDEFAULT : r.top,
                                 defaultPos ? CW_USEDEFAULT : r.right - r.left,
                                 defaultPos ? CW_USEDEFAULT : r.bottom - r.top, parent, menuOrId,
                                 Module::Handle(), this);
    }

protected:
    Window() = default;
    ~Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    // Called after WM_NCDESTROY, when the object no longer has a window.
    void OnFinalMessage(HWND) noexcept {}

private:
    static ATOM RegisterClassOnce() noexcept {
        static ATOM atom = 0;
        if (atom) return atom;
        // A generated name, unique per wrapper type and module.
        static wchar_t name[64];
        swprintf(name, 64, L"comfw:%p:%p", reinterpret_cast<void*>(&Window::Proc),
                 reinterpret_cast<void*>(Module::Handle()));
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.style = CS_DBLCLKS;
        wc.lpfnWndProc = &Window::Proc;
        wc.hInstance = Module::Handle();
        wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        wc.lpszClassName = name;
        atom = ::RegisterClassExW(&wc);
        if (!atom && ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS) {
            WNDCLASSEXW existing{};
            existing.cbSize = sizeof(existing);
            atom = static_cast<ATOM>(::GetClassInfoExW(Module::Handle(), name, &existing));
        }
        return atom;
    }

    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
        Window* self = nullptr;
        if (msg == WM_NCCREATE) {
            self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
            self->hwnd_ = hwnd;
            ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        } else {
            self = reinterpret_cast<Window*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        }
        if (!self) return ::DefWindowProcW(hwnd, msg, wp, lp);

        bool handled = false;
        LRESULT result = static_cast<Derived*>(self)->HandleMessage(msg, wp, lp, handled);
        if (!handled) result = ::DefWindowProcW(hwnd, msg, wp, lp);
        if (msg == WM_NCDESTROY) {
            ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            self->hwnd_ = nullptr;
            static_cast<Derived*>(self)->OnFinalMessage(hwnd);
        }
        return result;
    }

    HWND hwnd_ = nullptr;
};

}  // namespace comfw
