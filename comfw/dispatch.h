// IDispatch for a dual interface, answered from the module's type library:
// names, dispids and argument conversion are OLE Automation's, not ours.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "comfw/comPtr.h"
#include "comfw/typeLib.h"

namespace comfw {

template <class Iface>
class DispatchFromTypeLib : public Iface {
public:
    using Interface = Iface;

    STDMETHODIMP GetTypeInfoCount(UINT* count) noexcept override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) noexcept override {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        return ModuleTypeInfo(__uuidof(Iface), info);
    }
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) noexcept override {
        if (!::IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        ComPtr<ITypeInfo> info;
        const HRESULT hr = ModuleTypeInfo(__uuidof(Iface), info.put());
        if (FAILED(hr)) return hr;
        return ::DispGetIDsOfNames(info.get(), names, count, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excep, UINT* argErr) noexcept override {
        if (!::IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        ComPtr<ITypeInfo> info;
        const HRESULT hr = ModuleTypeInfo(__uuidof(Iface), info.put());
        if (FAILED(hr)) return hr;
        return info->Invoke(static_cast<Iface*>(this), id, flags, params, result, excep, argErr);
    }
};

// IDispatch for objects that are only ever called by dispid: no type
// information, no names.
template <class Iface = IDispatch>
class DispatchByIdOnly : public Iface {
public:
    using Interface = Iface;
    STDMETHODIMP GetTypeInfoCount(UINT* count) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override { return E_NOTIMPL; }
};

}  // namespace comfw
