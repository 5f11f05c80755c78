#include "pagehost/dialogShot.h"

#include <windows.h>
#include <cstdio>
#include <cwchar>

#include "pagehost/screenshot.h"

namespace pagehost {
namespace {

std::wstring g_path;
UINT_PTR g_timer = 0;
HWND g_seen = nullptr;
int g_ticks = 0;

BOOL CALLBACK FindDialog(HWND window, LPARAM found) {
    wchar_t name[16] = {};
    if (::IsWindowVisible(window) && ::GetClassNameW(window, name, 16) && std::wcscmp(name, L"#32770") == 0) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

// The dialog's frame and client area, then every child at its place.
void PrintDialog(HWND dialog, HDC dc) {
    ::SendMessageW(dialog, WM_PRINT, reinterpret_cast<WPARAM>(dc), PRF_NONCLIENT | PRF_CLIENT | PRF_ERASEBKGND);
    RECT frame{};
    ::GetWindowRect(dialog, &frame);
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        RECT r{};
        ::GetWindowRect(child, &r);
        POINT old{};
        ::SetViewportOrgEx(dc, r.left - frame.left, r.top - frame.top, &old);
        ::SendMessageW(child, WM_PRINT, reinterpret_cast<WPARAM>(dc), PRF_NONCLIENT | PRF_CLIENT | PRF_ERASEBKGND);
        ::SetViewportOrgEx(dc, old.x, old.y, nullptr);
    }
}

void CALLBACK Watch(HWND, UINT, UINT_PTR, DWORD) {
    HWND dialog = nullptr;
    ::EnumThreadWindows(::GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&dialog));
    if (!dialog || (dialog != g_seen && (g_seen = dialog, g_ticks = 0, true)) || ++g_ticks < 5) return;
    ::KillTimer(nullptr, g_timer);
    RECT frame{};
    ::GetWindowRect(dialog, &frame);
    const SIZE size{frame.right - frame.left, frame.bottom - frame.top};
    const HRESULT hr = SavePng(size, [dialog](HDC dc) { PrintDialog(dialog, dc); }, g_path);
    if (FAILED(hr)) std::fprintf(stderr, "pagehost: cannot write the dialog picture (0x%08lx)\n", static_cast<unsigned long>(hr));
}

}  // namespace

void WatchForDialog(const std::wstring& path) noexcept {
    try {
        g_path = path;
    } catch (...) {
        return;
    }
    g_timer = ::SetTimer(nullptr, 0, 100, Watch);
}

}  // namespace pagehost
