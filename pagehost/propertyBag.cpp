#include "pagehost/propertyBag.h"

#include "comfw/bstr.h"
#include "comfw/excepInfo.h"
#include "comfw/variant.h"

namespace pagehost {

STDMETHODIMP PropertyBag::Read(LPCOLESTR name, VARIANT* value, IErrorLog* log) noexcept {
    if (!name || !value) return E_POINTER;
    const std::pair<std::wstring, std::wstring>* found = nullptr;
    for (const auto& p : params_) {
        if (::lstrcmpiW(p.first.c_str(), name) == 0) found = &p;  // the last one wins, as in a browser
    }
    if (!found) return E_INVALIDARG;

    comfw::Bstr text;
    HRESULT hr = comfw::Bstr::FromString(found->second, text);
    if (FAILED(hr)) return hr;
    comfw::Variant asText = comfw::Variant::OwnBstr(text.detach());
    const VARTYPE wanted = value->vt;
    if (wanted == VT_EMPTY || wanted == VT_BSTR) {
        ::VariantClear(value);
        asText.detach_to(value);
        return S_OK;
    }
    comfw::Variant converted;
    hr = ::VariantChangeType(converted.ptr(), const_cast<VARIANT*>(&asText.get()), 0, wanted);
    if (FAILED(hr)) {
        if (log) {
            comfw::ExcepInfo info;
            info.scode = hr;
            info.bstrSource = ::SysAllocString(name);
            log->AddError(name, &info);
        }
        return hr;
    }
    ::VariantClear(value);
    converted.detach_to(value);
    return S_OK;
}

}  // namespace pagehost
