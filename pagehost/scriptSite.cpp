#include "pagehost/scriptSite.h"

#include "pagehost/page.h"

namespace pagehost {

STDMETHODIMP ScriptSite::GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** info) noexcept {
    if (item) *item = nullptr;
    if (info) *info = nullptr;
    if (!name) return E_POINTER;
    if (!page_) return TYPE_E_ELEMENTNOTFOUND;
    return page_->ItemInfo(name, mask, item, info);
}

STDMETHODIMP ScriptSite::OnScriptError(IActiveScriptError* error) noexcept {
    if (page_ && error) page_->ScriptError(error);
    return S_OK;
}

STDMETHODIMP ScriptSite::GetWindow(HWND* out) noexcept {
    if (!out) return E_POINTER;
    *out = page_ ? page_->Window() : nullptr;
    return S_OK;
}

}  // namespace pagehost
