#include "pagehost/pageDocument.h"

#include "comfw/bstr.h"
#include "comfw/enumerator.h"

namespace pagehost {

HRESULT PageLocation::Give(const std::wstring& text, BSTR* out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    comfw::Bstr copy;
    const HRESULT hr = comfw::Bstr::FromString(text, copy);
    if (SUCCEEDED(hr)) *out = copy.detach();
    return hr;
}

STDMETHODIMP PageDocument::ParseDisplayName(IBindCtx*, LPOLESTR, ULONG* eaten, IMoniker** out) noexcept {
    if (eaten) *eaten = 0;
    if (out) *out = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP PageDocument::EnumObjects(DWORD flags, IEnumUnknown** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    using Enum = comfw::Enumerator<IEnumUnknown, IUnknown*>;
    comfw::ComPtr<Enum> e;
    try {
        std::vector<IUnknown*> items;
        if (controls_ && (flags & OLECONTF_EMBEDDINGS)) items = controls_->LiveControls();
        const HRESULT hr = Enum::Make(e, std::move(items));
        if (FAILED(hr)) return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    *out = e.detach();
    return S_OK;
}

STDMETHODIMP PageDocument::get_location(IHTMLLocation** p) noexcept {
    if (!p) return E_POINTER;
    *p = nullptr;
    comfw::ComPtr<PageLocation> location;
    try {
        const HRESULT hr = PageLocation::Make(location, url_);
        if (FAILED(hr)) return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    *p = location.detach();
    return S_OK;
}

STDMETHODIMP PageDocument::get_URL(BSTR* p) noexcept {
    return PageLocation::Give(url_.href, p);
}

}  // namespace pagehost
