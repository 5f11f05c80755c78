// IDataObject for a control: one rendering, the content aspect as a Windows
// metafile picture drawn by Derived::OnDraw, and data advise sinks kept by
// OLE's data advise holder. The formats a container may ask about come from
// the class's registry entries.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <objidl.h>

#include "comfw/comPtr.h"
#include "comfw/hresult.h"
#include "comfw/oleControlBase.h"

namespace comfw {

template <class Derived>
class DataObjectImpl : public IDataObject {
public:
    using Interface = IDataObject;

    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) noexcept override {
        if (!format || !medium) return E_POINTER;
        COMFW_RETURN_IF_FAILED(Check(*format));
        HGLOBAL pict = nullptr;
        COMFW_RETURN_IF_FAILED(RenderMetafilePict(self().extent(), &DrawInto, &self(), &pict));
        medium->tymed = TYMED_MFPICT;
        medium->hMetaFilePict = pict;
        medium->pUnkForRelease = nullptr;
        return S_OK;
    }
    // A metafile cannot be drawn into a medium the caller made.
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC* format) noexcept override {
        if (!format) return E_POINTER;
        return Check(*format);
    }
    // The rendering does not depend on the target device.
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) noexcept override {
        if (!out) return E_POINTER;
        out->ptd = nullptr;
        return DATA_S_SAMEFORMATETC;
    }
    // The control takes no data from its container.
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD direction, IEnumFORMATETC** formats) noexcept override {
        if (!formats) return E_POINTER;
        *formats = nullptr;
        return ::OleRegEnumFormatEtc(Derived::class_id(), direction, formats);
    }
    STDMETHODIMP DAdvise(FORMATETC* format, DWORD advf, IAdviseSink* sink, DWORD* cookie) noexcept override {
        if (!cookie) return E_POINTER;
        *cookie = 0;
        if (!format || !sink) return E_INVALIDARG;
        ComPtr<IDataAdviseHolder> holder;
        COMFW_RETURN_IF_FAILED(self().data_advise_holder(holder.put()));
        return holder->Advise(this, format, advf, sink, cookie);
    }
    STDMETHODIMP DUnadvise(DWORD cookie) noexcept override {
        if (!self().has_data_advise_holder()) return OLE_E_NOCONNECTION;
        ComPtr<IDataAdviseHolder> holder;
        COMFW_RETURN_IF_FAILED(self().data_advise_holder(holder.put()));
        return holder->Unadvise(cookie);
    }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA** advises) noexcept override {
        if (!advises) return E_POINTER;
        *advises = nullptr;
        ComPtr<IDataAdviseHolder> holder;
        COMFW_RETURN_IF_FAILED(self().data_advise_holder(holder.put()));
        return holder->EnumAdvise(advises);
    }

private:
    Derived& self() noexcept { return *static_cast<Derived*>(this); }

    // The one format offered: the content as a metafile picture.
    static HRESULT Check(const FORMATETC& f) noexcept {
        if (f.cfFormat != CF_METAFILEPICT) return DV_E_FORMATETC;
        if (f.dwAspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
        if (f.lindex != -1) return DV_E_LINDEX;
        if (!(f.tymed & TYMED_MFPICT)) return DV_E_TYMED;
        return S_OK;
    }
    static HRESULT DrawInto(void* context, HDC dc, const RECT& bounds) {
        return static_cast<Derived*>(context)->OnDraw(dc, bounds);
    }
};

}  // namespace comfw
