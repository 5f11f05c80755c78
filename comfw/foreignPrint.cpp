#include "comfw/foreignPrint.h"

#include "comfw/uniqueAny.h"

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
    const unique_handle owner(::OpenProcess(PROCESS_DUP_HANDLE, FALSE, pid));
    if (!owner) return false;
    const unique_handle section(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                     static_cast<DWORD>(bytes), nullptr));
    HANDLE theirs = nullptr;
    if (!section || !::DuplicateHandle(::GetCurrentProcess(), section.get(), owner.get(), &theirs, 0, FALSE,
                                       DUPLICATE_SAME_ACCESS))
        return false;
    DWORD_PTR answer = 0;
    const LRESULT sent = ::SendMessageTimeoutW(window, ForeignPrintMessage(), reinterpret_cast<WPARAM>(theirs),
                                               MAKELPARAM(width, height), SMTO_ABORTIFHUNG, 5000, &answer);
    if (!sent || answer != 1) {
        // The window never took the handle: close it in its process.
        unique_handle back;
        ::DuplicateHandle(owner.get(), theirs, ::GetCurrentProcess(), back.put(), 0, FALSE,
                          DUPLICATE_CLOSE_SOURCE | DUPLICATE_SAME_ACCESS);
        return false;
    }
    const unique_mapped_view bits(::MapViewOfFile(section.get(), FILE_MAP_READ, 0, 0, bytes));
    if (!bits) return false;
    BITMAPINFO info = TopDown32(width, height);
    ::SetDIBitsToDevice(target, x, y, width, height, 0, 0, 0, height, bits.get(), &info, DIB_RGB_COLORS);
    return true;
}

LRESULT AnswerForeignPrint(HWND window, WPARAM wp, LPARAM lp) noexcept {
    // The section is ours now, whatever happens.
    const unique_handle section(reinterpret_cast<HANDLE>(wp));
    const int width = LOWORD(lp), height = HIWORD(lp);
    BITMAPINFO info = TopDown32(width, height);
    void* bits = nullptr;
    const unique_hdc dc(::CreateCompatibleDC(nullptr));
    if (!dc) return 0;
    const unique_hbitmap bitmap(::CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, section.get(), 0));
    if (!bitmap) return 0;
    const HGDIOBJ old = ::SelectObject(dc.get(), bitmap.get());
    ::SendMessageW(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc.get()), PRF_CLIENT | PRF_ERASEBKGND);
    ::GdiFlush();
    ::SelectObject(dc.get(), old);
    return 1;
}

}  // namespace comfw
