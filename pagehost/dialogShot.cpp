#include "pagehost/dialogShot.h"

#include <windows.h>
#include <cstdio>
#include <cwchar>

#include "comfw/uniqueAny.h"
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

// The dialog's client area, then every child at its place, each printed into
// a bitmap of its own (controls draw from their own origin).
void PrintDialog(HWND dialog, HDC dc) {
    ::SendMessageW(dialog, WM_PRINT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
    POINT origin{0, 0};
    ::ClientToScreen(dialog, &origin);
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        RECT r{};
        ::GetWindowRect(child, &r);
        const int cx = r.right - r.left, cy = r.bottom - r.top;
        const comfw::unique_hdc memory(::CreateCompatibleDC(dc));
        const comfw::unique_hbitmap bitmap(::CreateCompatibleBitmap(dc, cx, cy));
        if (!memory || !bitmap) continue;
        const HGDIOBJ old = ::SelectObject(memory.get(), bitmap.get());
        ::SendMessageW(child, WM_PRINT, reinterpret_cast<WPARAM>(memory.get()),
                       PRF_NONCLIENT | PRF_CLIENT | PRF_ERASEBKGND);
        ::BitBlt(dc, r.left - origin.x, r.top - origin.y, cx, cy, memory.get(), 0, 0, SRCCOPY);
        ::SelectObject(memory.get(), old);
    }
}

void CALLBACK Watch(HWND, UINT, UINT_PTR, DWORD) {
    HWND dialog = nullptr;
    ::EnumThreadWindows(::GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&dialog));
    if (!dialog || (dialog != g_seen && (g_seen = dialog, g_ticks = 0, true)) || ++g_ticks < 3) return;
    ::KillTimer(nullptr, g_timer);
    RECT client{};
    ::GetClientRect(dialog, &client);
    const SIZE size{client.right, client.bottom};
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
