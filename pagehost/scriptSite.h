// The script engine's site: it hands the engine the page's named items and
// passes script errors to the page.
#pragma once

#include <windows.h>
#include <activscp.h>

#include "comfw/comObject.h"

namespace pagehost {

class Page;

class ScriptSite final : public comfw::ComObject<ScriptSite, IActiveScriptSite, IActiveScriptSiteWindow> {
public:
    explicit ScriptSite(Page* page) noexcept : page_(page) {}
    void Detach() noexcept { page_ = nullptr; }

    // IActiveScriptSite
    STDMETHODIMP GetLCID(LCID* lcid) noexcept override { return E_NOTIMPL; }  // the engine's default
    STDMETHODIMP GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** info) noexcept override;
    STDMETHODIMP GetDocVersionString(BSTR* version) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP OnScriptTerminate(const VARIANT*, const EXCEPINFO*) noexcept override { return S_OK; }
    STDMETHODIMP OnStateChange(SCRIPTSTATE) noexcept override { return S_OK; }
    STDMETHODIMP OnScriptError(IActiveScriptError* error) noexcept override;
    STDMETHODIMP OnEnterScript() noexcept override { return S_OK; }
    STDMETHODIMP OnLeaveScript() noexcept override { return S_OK; }

    // IActiveScriptSiteWindow
    STDMETHODIMP GetWindow(HWND* out) noexcept override;
    STDMETHODIMP EnableModeless(BOOL) noexcept override { return S_OK; }

private:
    Page* page_;
};

}  // namespace pagehost
