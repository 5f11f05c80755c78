#include "comfw/oleControlBase.h"

#include "comfw/uniqueAny.h"

namespace comfw {
namespace {

constexpr LONG kHimetricPerInch = 2540;

SIZE ScreenDpi() noexcept {
    SIZE dpi{96, 96};
    if (const unique_window_dc screen(nullptr); screen) {
        dpi.cx = ::GetDeviceCaps(screen.get(), LOGPIXELSX);
        dpi.cy = ::GetDeviceCaps(screen.get(), LOGPIXELSY);
    }
    if (dpi.cx <= 0) dpi.cx = 96;
    if (dpi.cy <= 0) dpi.cy = 96;
    return dpi;
}

}  // namespace

SIZEL HimetricToPixels(SIZEL himetric) noexcept {
    const SIZE dpi = ScreenDpi();
    return SIZEL{::MulDiv(himetric.cx, dpi.cx, kHimetricPerInch), ::MulDiv(himetric.cy, dpi.cy, kHimetricPerInch)};
}

SIZEL PixelsToHimetric(SIZEL pixels) noexcept {
    const SIZE dpi = ScreenDpi();
    return SIZEL{::MulDiv(pixels.cx, kHimetricPerInch, dpi.cx), ::MulDiv(pixels.cy, kHimetricPerInch, dpi.cy)};
}

HRESULT RenderMetafilePict(SIZEL himetric, HRESULT (*draw)(void*, HDC, const RECT&), void* context,
                           HGLOBAL* out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    HDC dc = ::CreateMetaFileW(nullptr);
    if (!dc) return E_OUTOFMEMORY;
    // The picture's logical space is the control's size in pixels; the
    // METAFILEPICT tells the reader its size in HIMETRIC.
    const SIZEL pixels = HimetricToPixels(himetric);
    ::SetMapMode(dc, MM_ANISOTROPIC);
    ::SetWindowOrgEx(dc, 0, 0, nullptr);
    ::SetWindowExtEx(dc, pixels.cx, pixels.cy, nullptr);
    const RECT bounds{0, 0, pixels.cx, pixels.cy};
    const HRESULT drawn = draw(context, dc, bounds);
    HMETAFILE metafile = ::CloseMetaFile(dc);
    if (!metafile) return E_OUTOFMEMORY;
    if (FAILED(drawn)) {
        ::DeleteMetaFile(metafile);
        return drawn;
    }
    HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, sizeof(METAFILEPICT));
    if (!memory) {
        ::DeleteMetaFile(metafile);
        return E_OUTOFMEMORY;
    }
    auto* pict = static_cast<METAFILEPICT*>(::GlobalLock(memory));
    pict->mm = MM_ANISOTROPIC;
    pict->xExt = himetric.cx;
    pict->yExt = himetric.cy;
    pict->hMF = metafile;
    ::GlobalUnlock(memory);
    *out = memory;
    return S_OK;
}

HRESULT ReadAmbientFromSite(IOleClientSite* site, DISPID id, VARIANT* out) noexcept {
    if (!out) return E_POINTER;
    if (!site) return E_UNEXPECTED;
    ComPtr<IDispatch> ambients;
    COMFW_RETURN_IF_FAILED(site->QueryInterface(IID_IDispatch, ambients.put_void()));
    DISPPARAMS none{};
    return ambients->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, out, nullptr, nullptr);
}

void PlaceChildWindow(HWND hwnd, const RECT& pos, const RECT& clip) noexcept {
    RECT visible{};
    // No overlap leaves `visible` empty: nothing of the window shows.
    const bool overlaps = ::IntersectRect(&visible, &pos, &clip) != FALSE;
    const bool clipped = !overlaps || !::EqualRect(&visible, &pos);
    ::SetWindowPos(hwnd, nullptr, pos.left, pos.top, pos.right - pos.left, pos.bottom - pos.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    if (clipped) {
        // Window regions are in window coordinates.
        ::OffsetRect(&visible, -pos.left, -pos.top);
        ::SetWindowRgn(hwnd, ::CreateRectRgnIndirect(&visible), TRUE);
    } else {
        ::SetWindowRgn(hwnd, nullptr, TRUE);
    }
}

}  // namespace comfw
