#include "comfw/foreignPrint.h"

namespace comfw {
namespace {

BITMAPINFO TopDown32(int width, int height) noexcept {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

}  // namespace

UINT ForeignPrintMessage() noexcept {
    static const UINT message = ::RegisterWindowMessageW(L"comfw.ForeignPrintToSection");
    return message;
}

bool PrintForeignWindow(HWND window, HDC target, int x, int y) noexcept {
    RECT client{};
    if (!::GetClientRect(window, &client) || client.right <= 0 || client.bottom <= 0) return false;
    const int width = client.right, height = client.bottom;
    const SIZE_T bytes = static_cast<SIZE_T>(width) * height * 4;

    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    HANDLE owner = ::OpenProcess(PROCESS_DUP_HANDLE, FALSE, pid);
    if (!owner) return false;
    HANDLE section = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                          static_cast<DWORD>(bytes), nullptr);
    HANDLE theirs = nullptr;
    bool printed = false;
    if (section && ::DuplicateHandle(::GetCurrentProcess(), section, owner, &theirs, 0, FALSE,
                                     DUPLICATE_SAME_ACCESS)) {
        DWORD_PTR answer = 0;
        const LRESULT sent = ::SendMessageTimeoutW(window, ForeignPrintMessage(), reinterpret_cast<WPARAM>(theirs),
                                                   MAKELPARAM(width, height), SMTO_ABORTIFHUNG, 5000, &answer);
        if (sent && answer == 1) {
            if (void* bits = ::MapViewOfFile(section, FILE_MAP_READ, 0, 0, bytes)) {
                BITMAPINFO info = TopDown32(width, height);
                ::SetDIBitsToDevice(target, x, y, width, height, 0, 0, 0, height, bits, &info, DIB_RGB_COLORS);
                ::UnmapViewOfFile(bits);
                printed = true;
            }
        } else {
            // The window never took the handle: close it in its process.
            HANDLE back = nullptr;
            ::DuplicateHandle(owner, theirs, ::GetCurrentProcess(), &back, 0, FALSE,
                              DUPLICATE_CLOSE_SOURCE | DUPLICATE_SAME_ACCESS);
            if (back) ::CloseHandle(back);
        }
    }
    if (section) ::CloseHandle(section);
    ::CloseHandle(owner);
    return printed;
}

LRESULT AnswerForeignPrint(HWND window, WPARAM wp, LPARAM lp) noexcept {
    HANDLE section = reinterpret_cast<HANDLE>(wp);
    const int width = LOWORD(lp), height = HIWORD(lp);
    LRESULT result = 0;
    BITMAPINFO info = TopDown32(width, height);
    void* bits = nullptr;
    HDC dc = ::CreateCompatibleDC(nullptr);
    HBITMAP bitmap = dc ? ::CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, section, 0) : nullptr;
    if (bitmap) {
        HGDIOBJ old = ::SelectObject(dc, bitmap);
        ::SendMessageW(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
        ::GdiFlush();
        ::SelectObject(dc, old);
        ::DeleteObject(bitmap);
        result = 1;
    }
    if (dc) ::DeleteDC(dc);
    ::CloseHandle(section);
    return result;
}

}  // namespace comfw
