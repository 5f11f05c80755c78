#include "pagehost/eventSink.h"

#include "comfw/bstr.h"
#include "pagehost/page.h"

namespace pagehost {

STDMETHODIMP EventSink::QueryInterface(REFIID riid, void** ppv) noexcept {
    if (ppv && ::IsEqualIID(riid, iid_)) {
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    return ComObject::QueryInterface(riid, ppv);
}

STDMETHODIMP EventSink::Invoke(DISPID id, REFIID riid, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                               EXCEPINFO*, UINT*) noexcept {
    if (result) ::VariantInit(result);
    if (!page_) return S_OK;
    const auto name = names_.find(id);
    if (name == names_.end()) return DISP_E_MEMBERNOTFOUND;
    DISPPARAMS none{};
    try {
        // Keep the sink alive while script runs: a handler may destroy the control.
        comfw::ComPtr<EventSink> self(this);
        return page_->FireEvent(controlId_, name->second, params ? params : &none, result);
    } catch (const std::exception&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT EventSink::NamesOf(ITypeInfo* events, std::map<DISPID, std::wstring>& names) noexcept {
    names.clear();
    TYPEATTR* attr = nullptr;
    HRESULT hr = events->GetTypeAttr(&attr);
    if (FAILED(hr)) return hr;
    const WORD count = attr->cFuncs;
    events->ReleaseTypeAttr(attr);
    try {
        for (UINT i = 0; i < count; ++i) {
            FUNCDESC* func = nullptr;
            if (FAILED(events->GetFuncDesc(i, &func))) continue;
            const MEMBERID member = func->memid;
            events->ReleaseFuncDesc(func);
            comfw::Bstr name;
            UINT got = 0;
            if (SUCCEEDED(events->GetNames(member, name.put(), 1, &got)) && got == 1) names[member] = name.str();
        }
    } catch (const std::exception&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

}  // namespace pagehost
