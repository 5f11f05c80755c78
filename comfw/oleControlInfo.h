// What a control tells about itself: its class information from the module's
// type library (IProvideClassInfo2), its property pages (none) and its
// safety options (IObjectSafety).
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <objsafe.h>

#include "comfw/comPtr.h"
#include "comfw/typeLib.h"

// mingw-w64's objsafe.h declares IID_IObjectSafety but not its __uuidof,
// which QueryInterface by type needs.
__CRT_UUID_DECL(IObjectSafety, 0xcb5bdc81, 0x93c1, 0x11cf, 0x8f, 0x20, 0x00, 0x80, 0x5f, 0x2c, 0xd0, 0x64)

namespace comfw {

template <const CLSID* ClassId, const IID* EventsIid>
class ProvideClassInfo2Impl : public IProvideClassInfo2 {
public:
    using Interface = IProvideClassInfo2;

    STDMETHODIMP GetClassInfo(ITypeInfo** info) noexcept override {
        if (!info) return E_POINTER;
        return ModuleTypeInfo(*ClassId, info);
    }
    STDMETHODIMP GetGUID(DWORD kind, GUID* guid) noexcept override {
        if (!guid) return E_POINTER;
        if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
            *guid = GUID_NULL;
            return E_INVALIDARG;
        }
        *guid = *EventsIid;
        return S_OK;
    }
};

// The control offers no property pages.
template <class Derived>
class SpecifyPropertyPagesImpl : public ISpecifyPropertyPages {
public:
    using Interface = ISpecifyPropertyPages;

    STDMETHODIMP GetPages(CAUUID* pages) noexcept override {
        if (!pages) return E_POINTER;
        pages->cElems = 0;
        pages->pElems = nullptr;
        return S_OK;
    }
};

// Safety options recorded per object and reported, never enforced: the
// control offers safety for untrusted callers and untrusted data, for every
// interface it has, and none is enabled until a container asks.
template <class Derived>
class ObjectSafetyImpl : public IObjectSafety {
public:
    using Interface = IObjectSafety;
    static constexpr DWORD kSupported = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;

    STDMETHODIMP GetInterfaceSafetyOptions(REFIID riid, DWORD* supported, DWORD* enabled) noexcept override {
        if (!supported || !enabled) return E_POINTER;
        const HRESULT hr = Answers(riid);
        if (FAILED(hr)) {
            *supported = 0;
            *enabled = 0;
            return hr;
        }
        *supported = kSupported;
        *enabled = enabled_;
        return S_OK;
    }
    STDMETHODIMP SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD enabled) noexcept override {
        if (FAILED(Answers(riid))) return E_NOINTERFACE;
        if (mask & ~kSupported) return E_FAIL;
        enabled_ = (enabled_ & ~mask) | (enabled & mask);
        return S_OK;
    }

private:
    // Whether the object answers riid, by asking it.
    HRESULT Answers(REFIID riid) noexcept {
        ComPtr<IUnknown> p;
        return static_cast<Derived*>(this)->controlling_unknown()->QueryInterface(riid, p.put_void());
    }

    DWORD enabled_ = 0;
};

}  // namespace comfw
