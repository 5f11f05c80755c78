#include "zova/screenFile.h"

#include <string>
#include <vector>

#include "comfw/hresult.h"
#include "comfw/scopeExit.h"
#include "comfw/uniqueAny.h"

namespace zova::console {
namespace {

HRESULT WriteParts(const wchar_t* path, std::initializer_list<std::pair<const void*, DWORD>> parts) noexcept {
    const comfw::unique_file out(
        ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) return comfw::LastErrorHresult();
    for (const auto& part : parts) {
        DWORD written = 0;
        COMFW_RETURN_IF_WIN32_BOOL_FALSE(::WriteFile(out.get(), part.first, part.second, &written, nullptr));
    }
    return S_OK;
}

}  // namespace

HRESULT SaveDrawingAsBmp(LONG width, LONG height, const std::function<void(HDC)>& paint, const wchar_t* path) noexcept {
    BITMAPINFOHEADER info{};
    info.biSize = sizeof(info);
    info.biWidth = width;
    info.biHeight = height;  // bottom-up, as a BMP file stores it
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    void* bits = nullptr;
    const comfw::unique_hdc dc(::CreateCompatibleDC(nullptr));
    const comfw::unique_hbitmap bitmap(
        ::CreateDIBSection(dc.get(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!dc || !bitmap) return E_OUTOFMEMORY;
    const HGDIOBJ old = ::SelectObject(dc.get(), bitmap.get());
    const auto deselect = comfw::scope_exit([&] { ::SelectObject(dc.get(), old); });
    try {
        paint(dc.get());
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    ::GdiFlush();
    const DWORD imageSize = static_cast<DWORD>(((width * 3 + 3) & ~3) * height);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + imageSize;
    return WriteParts(path, {{&file, sizeof(file)}, {&info, sizeof(info)}, {bits, imageSize}});
}

HRESULT SaveFrameAsPpm(const rfb::FrameBuffer& frame, const wchar_t* path) noexcept {
    try {
        const std::string header =
            "P6\n" + std::to_string(frame.width()) + " " + std::to_string(frame.height()) + "\n255\n";
        std::vector<uint8_t> rgb;
        rgb.reserve(frame.pixels().size() * 3);
        for (uint32_t p : frame.pixels()) {
            rgb.push_back(static_cast<uint8_t>(p >> 16));
            rgb.push_back(static_cast<uint8_t>(p >> 8));
            rgb.push_back(static_cast<uint8_t>(p));
        }
        return WriteParts(path, {{header.data(), static_cast<DWORD>(header.size())},
                                 {rgb.data(), static_cast<DWORD>(rgb.size())}});
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace zova::console
