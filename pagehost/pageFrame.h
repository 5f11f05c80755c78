// The in-place frame and UI window that a control negotiates tool space and
// menus with. The host has neither tool bars nor menus: it grants no border
// space and ignores menus; the frame window is the host window.
#pragma once

#include <windows.h>
#include <oleidl.h>

#include "comfw/comObject.h"

namespace pagehost {

class PageFrame final : public comfw::ComObject<PageFrame, IOleInPlaceFrame> {
public:
    explicit PageFrame(HWND window) noexcept : window_(window) {}

    // IOleWindow
    STDMETHODIMP GetWindow(HWND* out) noexcept override {
        if (!out) return E_POINTER;
        *out = window_;
        return window_ ? S_OK : E_FAIL;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) noexcept override { return E_NOTIMPL; }
    // IOleInPlaceUIWindow
    STDMETHODIMP GetBorder(LPRECT rect) noexcept override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) noexcept override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS widths) noexcept override {
        // Null or all zero means "no tools", which is all the host can give.
        if (!widths) return S_OK;
        return widths->left || widths->top || widths->right || widths->bottom ? OLE_E_INVALIDRECT : S_OK;
    }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* active, LPCOLESTR) noexcept override {
        active_ = comfw::ComPtr<IOleInPlaceActiveObject>(active);
        return S_OK;
    }
    // IOleInPlaceFrame
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS widths) noexcept override {
        if (widths) widths->width[0] = widths->width[2] = widths->width[4] = 0;
        return S_OK;
    }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) noexcept override { return S_OK; }
    STDMETHODIMP RemoveMenus(HMENU) noexcept override { return S_OK; }
    STDMETHODIMP SetStatusText(LPCOLESTR) noexcept override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) noexcept override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) noexcept override { return S_FALSE; }

    // The page is ending: drop the active object and the window.
    void Detach() noexcept {
        active_.reset();
        window_ = nullptr;
    }

private:
    HWND window_;
    comfw::ComPtr<IOleInPlaceActiveObject> active_;
};

}  // namespace pagehost
