// What a control container tells the control in bulk or by notification:
// IOleControl (mnemonics, ambient property changes, frozen events) and
// IQuickActivate (client site, sinks and ambient values in one call).
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>
#include <cstddef>

#include "comfw/comPtr.h"
#include "comfw/hresult.h"
#include "comfw/oleControlBase.h"

namespace comfw {

template <class Derived>
class OleControlImpl : public IOleControl {
public:
    using Interface = IOleControl;

    // The control has no mnemonics: no accelerator table.
    STDMETHODIMP GetControlInfo(CONTROLINFO* info) noexcept override {
        if (!info) return E_POINTER;
        info->hAccel = nullptr;
        info->cAccel = 0;
        info->dwFlags = 0;
        return S_OK;
    }
    // With no accelerators reported, no mnemonic is ever the control's.
    STDMETHODIMP OnMnemonic(MSG* msg) noexcept override {
        if (!msg) return E_POINTER;
        return S_OK;
    }
    STDMETHODIMP OnAmbientPropertyChange(DISPID id) noexcept override {
        // The values QuickActivate gave may be stale now: read them afresh.
        self().forget_quick_ambients();
        self().OnAmbientChanged(id);
        return S_OK;
    }
    STDMETHODIMP FreezeEvents(BOOL freeze) noexcept override {
        self().change_freeze_count(freeze != FALSE);
        return S_OK;
    }

private:
    Derived& self() noexcept { return *static_cast<Derived*>(this); }
};

// QuickActivate does in one call what a container otherwise does in several:
// sets the client site, the view advise sink, advises the event sink on the
// control's default source (from IProvideClassInfo2) and the property notify
// sink on IPropertyNotifySink where the control offers them, and hands over
// the ambient values. It answers with the registry's miscellaneous status
// and the view status.
template <class Derived>
class QuickActivateImpl : public IQuickActivate {
public:
    using Interface = IQuickActivate;

    STDMETHODIMP QuickActivate(QACONTAINER* container, QACONTROL* control) noexcept override {
        if (!container || !control) return E_POINTER;
        // Older containers pass a shorter QACONTAINER; the fields up to the
        // palette are in every version.
        if (container->cbSize < offsetof(QACONTAINER, pBindHost) || control->cbSize < sizeof(QACONTROL))
            return E_INVALIDARG;
        Derived& d = self();
        IUnknown* me = d.controlling_unknown();

        ComPtr<IOleObject> object;
        COMFW_RETURN_IF_FAILED(me->QueryInterface(IID_IOleObject, object.put_void()));
        COMFW_RETURN_IF_FAILED(object->SetClientSite(container->pClientSite));

        QuickAmbients& a = d.quick_ambients();
        a.valid = true;
        a.flags = container->dwAmbientFlags;
        a.foreColor = container->colorFore;
        a.backColor = container->colorBack;
        a.appearance = container->dwAppearance;
        a.lcid = container->lcid;
        a.font = ComPtr<IFont>(container->pFont);

        if (container->pAdviseSink) {
            ComPtr<IViewObject> view;
            if (SUCCEEDED(me->QueryInterface(IID_IViewObject, view.put_void())))
                view->SetAdvise(DVASPECT_CONTENT, 0, container->pAdviseSink);
        }

        const DWORD cbSize = control->cbSize;
        *control = QACONTROL{};
        control->cbSize = cbSize;
        if (container->pUnkEventSink) {
            IID events{};
            ComPtr<IProvideClassInfo2> info;
            if (SUCCEEDED(me->QueryInterface(IID_IProvideClassInfo2, info.put_void())) &&
                SUCCEEDED(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &events)))
                AdviseOn(me, events, container->pUnkEventSink, &control->dwEventCookie);
        }
        if (container->pPropertyNotifySink)
            AdviseOn(me, IID_IPropertyNotifySink, container->pPropertyNotifySink, &control->dwPropNotifyCookie);

        if (FAILED(object->GetMiscStatus(DVASPECT_CONTENT, &control->dwMiscStatus))) control->dwMiscStatus = 0;
        control->dwViewStatus = Derived::kViewStatus;
        control->dwPointerActivationPolicy = 0;  // no IPointerInactive
        return S_OK;
    }
    STDMETHODIMP SetContentExtent(LPSIZEL size) noexcept override {
        if (!size) return E_POINTER;
        ComPtr<IOleObject> object;
        COMFW_RETURN_IF_FAILED(self().controlling_unknown()->QueryInterface(IID_IOleObject, object.put_void()));
        return object->SetExtent(DVASPECT_CONTENT, size);
    }
    STDMETHODIMP GetContentExtent(LPSIZEL size) noexcept override {
        if (!size) return E_POINTER;
        *size = self().extent();
        return S_OK;
    }

private:
    Derived& self() noexcept { return *static_cast<Derived*>(this); }

    // Advises `sink` on the connection point for `iid`, if there is one.
    static void AdviseOn(IUnknown* me, REFIID iid, IUnknown* sink, DWORD* cookie) noexcept {
        ComPtr<IConnectionPointContainer> points;
        ComPtr<IConnectionPoint> point;
        if (SUCCEEDED(me->QueryInterface(IID_IConnectionPointContainer, points.put_void())) &&
            SUCCEEDED(points->FindConnectionPoint(iid, point.put())))
            point->Advise(sink, cookie);
    }
};

}  // namespace comfw
