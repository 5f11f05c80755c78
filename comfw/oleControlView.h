// IViewObjectEx (with IViewObject2 and IViewObject) for an opaque,
// rectangular control: drawing goes to Derived::OnDraw, the extent is the
// content extent, and the whole rectangle is a hit.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <oleidl.h>

namespace comfw {

template <class Derived>
class ViewObjectExImpl : public IViewObjectEx {
public:
    using Interface = IViewObjectEx;

    STDMETHODIMP Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECTL bounds, LPCRECTL,
                      BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) noexcept override {
        if (aspect != DVASPECT_CONTENT && aspect != DVASPECT_OPAQUE) return DV_E_DVASPECT;
        if (!dc) return E_INVALIDARG;
        RECT r{};
        if (bounds) {
            r = RECT{bounds->left, bounds->top, bounds->right, bounds->bottom};
        } else if (self().in_place_active()) {
            r = self().position_rect();  // a windowless caller draws at the site's position
        } else {
            return E_INVALIDARG;
        }
        return self().OnDraw(dc, r);
    }
    // The control draws with no particular palette.
    STDMETHODIMP GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colors) noexcept override {
        if (colors) *colors = nullptr;
        return E_NOTIMPL;
    }
    // Its picture is live; it cannot be frozen.
    STDMETHODIMP Freeze(DWORD, LONG, void*, DWORD* freeze) noexcept override {
        if (freeze) *freeze = 0;
        return E_NOTIMPL;
    }
    STDMETHODIMP Unfreeze(DWORD) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP SetAdvise(DWORD aspects, DWORD advf, IAdviseSink* sink) noexcept override {
        self().set_view_advise(aspects, advf, sink);
        if (sink && (advf & ADVF_PRIMEFIRST)) self().view_changed();
        return S_OK;
    }
    STDMETHODIMP GetAdvise(DWORD* aspects, DWORD* advf, IAdviseSink** sink) noexcept override {
        if (aspects) *aspects = self().view_aspects();
        if (advf) *advf = self().view_advf();
        if (sink) {
            *sink = self().view_sink();
            if (*sink) (*sink)->AddRef();
        }
        return S_OK;
    }
    STDMETHODIMP GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) noexcept override {
        if (!size) return E_POINTER;
        if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
        *size = self().extent();
        return S_OK;
    }
    // The content and the opaque part are the same rectangle at the origin,
    // in HIMETRIC; there are no transparent parts.
    STDMETHODIMP GetRect(DWORD aspect, LPRECTL rect) noexcept override {
        if (!rect) return E_POINTER;
        if (aspect != DVASPECT_CONTENT && aspect != DVASPECT_OPAQUE) return DV_E_DVASPECT;
        const SIZEL e = self().extent();
        *rect = RECTL{0, 0, e.cx, e.cy};
        return S_OK;
    }
    STDMETHODIMP GetViewStatus(DWORD* status) noexcept override {
        if (!status) return E_POINTER;
        *status = Derived::kViewStatus;
        return S_OK;
    }
    STDMETHODIMP QueryHitPoint(DWORD aspect, LPCRECT bounds, POINT where, LONG, DWORD* result) noexcept override {
        if (!bounds || !result) return E_POINTER;
        if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
        *result = ::PtInRect(bounds, where) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
        return S_OK;
    }
    STDMETHODIMP QueryHitRect(DWORD aspect, LPCRECT bounds, LPCRECT where, LONG, DWORD* result) noexcept override {
        if (!bounds || !where || !result) return E_POINTER;
        if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
        RECT overlap{};
        *result = ::IntersectRect(&overlap, bounds, where) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
        return S_OK;
    }
    // The control has no size of its own liking beyond its current extent.
    STDMETHODIMP GetNaturalExtent(DWORD aspect, LONG, DVTARGETDEVICE*, HDC, DVEXTENTINFO* info,
                                  LPSIZEL size) noexcept override {
        if (!info || !size) return E_POINTER;
        if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
        if (info->dwExtentMode != DVEXTENT_CONTENT) return E_NOTIMPL;
        *size = self().extent();
        return S_OK;
    }

private:
    Derived& self() noexcept { return *static_cast<Derived*>(this); }
};

}  // namespace comfw
