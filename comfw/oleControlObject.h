// IOleObject for a control: client site, extent, verbs, advise sinks. Verbs,
// user type and miscellaneous status come from the class's registry entries
// (Derived::class_id()), as OLE reads them for any registered class.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oleidl.h>
#include <olectl.h>

#include "comfw/comPtr.h"
#include "comfw/hresult.h"

namespace comfw {

template <class Derived>
class OleObjectImpl : public IOleObject {
public:
    using Interface = IOleObject;

    STDMETHODIMP SetClientSite(IOleClientSite* site) noexcept override {
        self().set_client_site(site);
        return S_OK;
    }
    STDMETHODIMP GetClientSite(IOleClientSite** site) noexcept override {
        if (!site) return E_POINTER;
        *site = self().client_site();
        if (*site) (*site)->AddRef();
        return S_OK;
    }
    // A control has no window title of its own to put the names in.
    STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) noexcept override { return S_OK; }

    // Deactivates (destroying the window), lets the client site save a dirty
    // control when asked to, forgets the in-place site and tells the advise
    // sinks that the object closed.
    STDMETHODIMP Close(DWORD saveOption) noexcept override {
        Derived& d = self();
        d.deactivate_in_place();
        if (d.dirty() && d.client_site() && saveOption != OLECLOSE_NOSAVE) {
            ComPtr<IOleClientSite> site(d.client_site());
            if (SUCCEEDED(site->SaveObject())) SendOnSave();
        }
        d.release_in_place_site();
        if (d.has_ole_advise_holder()) {
            ComPtr<IOleAdviseHolder> holder;
            if (SUCCEEDED(d.ole_advise_holder(holder.put()))) holder->SendOnClose();
        }
        return S_OK;
    }

    // Linking to an embedded control is not offered.
    STDMETHODIMP SetMoniker(DWORD, IMoniker*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) noexcept override {
        if (moniker) *moniker = nullptr;
        return E_NOTIMPL;
    }
    // Neither initialisation from nor transfer through the clipboard.
    STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetClipboardData(DWORD, IDataObject** data) noexcept override {
        if (data) *data = nullptr;
        return E_NOTIMPL;
    }

    STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) noexcept override {
        Derived& d = self();
        switch (verb) {
        case OLEIVERB_PRIMARY:
        case OLEIVERB_SHOW:
        case OLEIVERB_INPLACEACTIVATE:
            return d.activate_in_place(OLEIVERB_INPLACEACTIVATE);
        case OLEIVERB_UIACTIVATE:
            return d.activate_in_place(OLEIVERB_UIACTIVATE);
        case OLEIVERB_HIDE:
            d.deactivate_ui();
            if (d.hwnd()) ::ShowWindow(d.hwnd(), SW_HIDE);
            return S_OK;
        case OLEIVERB_DISCARDUNDOSTATE:
            return S_OK;  // the control keeps no undo state
        default:
            // A positive verb the control does not know counts as the
            // primary one; a negative one is not supported.
            if (verb > 0) {
                const HRESULT hr = d.activate_in_place(OLEIVERB_INPLACEACTIVATE);
                return FAILED(hr) ? hr : OLEOBJ_S_INVALIDVERB;
            }
            return E_NOTIMPL;
        }
    }
    STDMETHODIMP EnumVerbs(IEnumOLEVERB** verbs) noexcept override {
        if (!verbs) return E_POINTER;
        return ::OleRegEnumVerbs(Derived::class_id(), verbs);
    }
    // The control is always up to date: it has no link source to refresh from.
    STDMETHODIMP Update() noexcept override { return S_OK; }
    STDMETHODIMP IsUpToDate() noexcept override { return S_OK; }
    STDMETHODIMP GetUserClassID(CLSID* clsid) noexcept override {
        if (!clsid) return E_POINTER;
        *clsid = Derived::class_id();
        return S_OK;
    }
    STDMETHODIMP GetUserType(DWORD form, LPOLESTR* userType) noexcept override {
        if (!userType) return E_POINTER;
        return ::OleRegGetUserType(Derived::class_id(), form, userType);
    }
    // Changes the content extent (HIMETRIC); the control is dirty afterwards
    // and its view and data are recomposed.
    STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) noexcept override {
        if (!size) return E_POINTER;
        if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
        Derived& d = self();
        const SIZEL old = d.extent();
        d.set_extent(*size);
        if (old.cx != size->cx || old.cy != size->cy) {
            d.set_dirty(true);
            d.data_changed();
            d.view_changed();
        }
        return S_OK;
    }
    STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) noexcept override {
        if (!size) return E_POINTER;
        if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
        *size = self().extent();
        return S_OK;
    }
    STDMETHODIMP Advise(IAdviseSink* sink, DWORD* cookie) noexcept override {
        if (!cookie) return E_POINTER;
        *cookie = 0;
        ComPtr<IOleAdviseHolder> holder;
        COMFW_RETURN_IF_FAILED(self().ole_advise_holder(holder.put()));
        return holder->Advise(sink, cookie);
    }
    STDMETHODIMP Unadvise(DWORD cookie) noexcept override {
        if (!self().has_ole_advise_holder()) return OLE_E_NOCONNECTION;
        ComPtr<IOleAdviseHolder> holder;
        COMFW_RETURN_IF_FAILED(self().ole_advise_holder(holder.put()));
        return holder->Unadvise(cookie);
    }
    STDMETHODIMP EnumAdvise(IEnumSTATDATA** advises) noexcept override {
        if (!advises) return E_POINTER;
        *advises = nullptr;
        ComPtr<IOleAdviseHolder> holder;
        COMFW_RETURN_IF_FAILED(self().ole_advise_holder(holder.put()));
        return holder->EnumAdvise(advises);
    }
    STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) noexcept override {
        if (!status) return E_POINTER;
        return ::OleRegGetMiscStatus(Derived::class_id(), aspect, status);
    }
    // The control draws with no palette of its own.
    STDMETHODIMP SetColorScheme(LOGPALETTE*) noexcept override { return E_NOTIMPL; }

private:
    Derived& self() noexcept { return *static_cast<Derived*>(this); }

    void SendOnSave() noexcept {
        Derived& d = self();
        if (!d.has_ole_advise_holder()) return;
        ComPtr<IOleAdviseHolder> holder;
        if (SUCCEEDED(d.ole_advise_holder(holder.put()))) holder->SendOnSave();
    }
};

}  // namespace comfw
