// The "window" named item: timers and alert, as pages written for a browser
// call them. Its dispatch comes from the type library embedded in
// pagehost.exe (pagehost.idl).
#pragma once

#include <windows.h>

#include "comfw/comObject.h"
#include "comfw/dispatch.h"
#include "pagehost.h"

namespace pagehost {

class Page;

class WindowObject final : public comfw::ComObject<WindowObject, comfw::DispatchFromTypeLib<IPageWindow>> {
public:
    explicit WindowObject(Page* page) noexcept : page_(page) {}
    void Detach() noexcept { page_ = nullptr; }

    STDMETHODIMP setTimeout(VARIANT handler, VARIANT milliseconds, LONG* timer) noexcept override;
    STDMETHODIMP setInterval(VARIANT handler, VARIANT milliseconds, LONG* timer) noexcept override;
    STDMETHODIMP clearTimeout(VARIANT timer) noexcept override;
    STDMETHODIMP clearInterval(VARIANT timer) noexcept override;
    STDMETHODIMP alert(VARIANT message) noexcept override;

private:
    HRESULT Start(const VARIANT& handler, const VARIANT& milliseconds, bool repeat, LONG* timer) noexcept;
    HRESULT Clear(const VARIANT& timer) noexcept;

    Page* page_;
};

}  // namespace pagehost
