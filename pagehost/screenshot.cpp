#include "pagehost/screenshot.h"

#include <wincodec.h>

#include "comfw/comPtr.h"
#include "comfw/hresult.h"
#include "comfw/uniqueAny.h"

namespace pagehost {
namespace {

// A 32-bit top-down DIB section selected into a memory DC.
class MemoryCanvas {
public:
    MemoryCanvas(SIZE size) noexcept : size_(size) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = size.cx;
        info.bmiHeader.biHeight = -size.cy;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        dc_.reset(::CreateCompatibleDC(nullptr));
        if (dc_) bitmap_.reset(::CreateDIBSection(dc_.get(), &info, DIB_RGB_COLORS, &bits_, nullptr, 0));
        if (bitmap_) old_ = ::SelectObject(dc_.get(), bitmap_.get());
    }
    ~MemoryCanvas() {
        // The bitmap leaves the DC before either goes.
        if (old_) ::SelectObject(dc_.get(), old_);
    }
    bool ok() const noexcept { return dc_ && bitmap_ && bits_; }
    HDC dc() const noexcept { return dc_.get(); }
    BYTE* bits() const noexcept { return static_cast<BYTE*>(bits_); }
    UINT stride() const noexcept { return static_cast<UINT>(size_.cx) * 4; }

private:
    SIZE size_;
    comfw::unique_hdc dc_;
    comfw::unique_hbitmap bitmap_;
    HGDIOBJ old_ = nullptr;
    void* bits_ = nullptr;
};

}  // namespace

HRESULT SavePng(SIZE size, const std::function<void(HDC)>& paint, const std::wstring& path) noexcept {
    if (size.cx <= 0 || size.cy <= 0) return E_INVALIDARG;
    MemoryCanvas canvas(size);
    if (!canvas.ok()) return E_OUTOFMEMORY;
    try {
        paint(canvas.dc());
    }
    COMFW_CATCH_RETURN()
    ::GdiFlush();

    comfw::ComPtr<IWICImagingFactory> factory;
    HRESULT hr = ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                    factory.put_void());
    if (FAILED(hr)) return hr;
    comfw::ComPtr<IWICBitmap> source;
    const UINT stride = canvas.stride();
    hr = factory->CreateBitmapFromMemory(static_cast<UINT>(size.cx), static_cast<UINT>(size.cy),
                                         GUID_WICPixelFormat32bppBGR, stride, stride * static_cast<UINT>(size.cy),
                                         canvas.bits(), source.put());
    if (FAILED(hr)) return hr;

    comfw::ComPtr<IWICStream> stream;
    hr = factory->CreateStream(stream.put());
    if (SUCCEEDED(hr)) hr = stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE);
    if (FAILED(hr)) return hr;
    comfw::ComPtr<IWICBitmapEncoder> encoder;
    hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.put());
    if (SUCCEEDED(hr)) hr = encoder->Initialize(stream.get(), WICBitmapEncoderNoCache);
    comfw::ComPtr<IWICBitmapFrameEncode> frame;
    if (SUCCEEDED(hr)) hr = encoder->CreateNewFrame(frame.put(), nullptr);
    if (SUCCEEDED(hr)) hr = frame->Initialize(nullptr);
    if (SUCCEEDED(hr)) hr = frame->SetSize(static_cast<UINT>(size.cx), static_cast<UINT>(size.cy));
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (SUCCEEDED(hr)) hr = frame->SetPixelFormat(&format);
    if (FAILED(hr)) return hr;

    // The encoder may settle on another pixel format than asked for.
    comfw::ComPtr<IWICFormatConverter> converter;
    hr = factory->CreateFormatConverter(converter.put());
    if (SUCCEEDED(hr))
        hr = converter->Initialize(source.get(), format, WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom);
    if (SUCCEEDED(hr)) hr = frame->WriteSource(converter.get(), nullptr);
    if (SUCCEEDED(hr)) hr = frame->Commit();
    if (SUCCEEDED(hr)) hr = encoder->Commit();
    return hr;
}

}  // namespace pagehost
