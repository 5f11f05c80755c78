// The "host" named item: the page's way to print, wait, end, size the window
// and manage controls. Its dispatch comes from the type library embedded in
// pagehost.exe (pagehost.idl).
#pragma once

#include <windows.h>

#include "comfw/comObject.h"
#include "comfw/dispatch.h"
#include "pagehost.h"

namespace pagehost {

class Page;

class HostObject final : public comfw::ComObject<HostObject, comfw::DispatchFromTypeLib<IPageHost>> {
public:
    explicit HostObject(Page* page) noexcept : page_(page) {}
    void Detach() noexcept { page_ = nullptr; }

    // echo() with no arguments: OLE Automation's vararg call refuses an empty
    // argument list under Wine (DISP_E_BADPARAMCOUNT), so the host takes it.
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excep, UINT* argErr) noexcept override;

    STDMETHODIMP echo(SAFEARRAY* words) noexcept override;
    STDMETHODIMP sleep(LONG milliseconds) noexcept override;
    STDMETHODIMP exit(LONG status) noexcept override;
    STDMETHODIMP resize(LONG width, LONG height) noexcept override;
    STDMETHODIMP destroy(BSTR id) noexcept override;
    STDMETHODIMP createControl(BSTR id, BSTR progIdOrClsid, VARIANT width, VARIANT height,
                               IDispatch** control) noexcept override;
    STDMETHODIMP get_args(VARIANT* words) noexcept override;
    STDMETHODIMP screenshot(VARIANT path) noexcept override;

private:
    Page* page_;
};

}  // namespace pagehost
