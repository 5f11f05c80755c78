#include "pagehost/windowObject.h"

#include "comfw/variant.h"
#include "pagehost/page.h"

namespace pagehost {
namespace {

bool Missing(const VARIANT& v) noexcept {
    return v.vt == VT_EMPTY || v.vt == VT_NULL || (v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND);
}

// A number argument as a browser reads it: missing, or not a number, is 0.
LONG NumberArg(const VARIANT& v) noexcept {
    comfw::Variant n;
    if (Missing(v) || FAILED(::VariantChangeType(n.ptr(), const_cast<VARIANT*>(&v), 0, VT_I4))) return 0;
    return n.get().lVal;
}

}  // namespace

HRESULT WindowObject::Start(const VARIANT& handler, const VARIANT& milliseconds, bool repeat, LONG* timer) noexcept {
    if (!timer) return E_POINTER;
    *timer = 0;
    if (!page_) return E_UNEXPECTED;
    // A function object; code in a string, which browsers also take, is refused here.
    if (handler.vt != VT_DISPATCH || !handler.pdispVal) return E_INVALIDARG;
    return page_->StartTimer(handler.pdispVal, NumberArg(milliseconds), repeat, timer);
}

HRESULT WindowObject::Clear(const VARIANT& timer) noexcept {
    if (page_ && !Missing(timer)) page_->StopTimer(NumberArg(timer));
    return S_OK;
}

STDMETHODIMP WindowObject::setTimeout(VARIANT handler, VARIANT milliseconds, LONG* timer) noexcept {
    return Start(handler, milliseconds, false, timer);
}
STDMETHODIMP WindowObject::setInterval(VARIANT handler, VARIANT milliseconds, LONG* timer) noexcept {
    return Start(handler, milliseconds, true, timer);
}
STDMETHODIMP WindowObject::clearTimeout(VARIANT timer) noexcept { return Clear(timer); }
STDMETHODIMP WindowObject::clearInterval(VARIANT timer) noexcept { return Clear(timer); }

STDMETHODIMP WindowObject::alert(VARIANT message) noexcept {
    if (!page_) return E_UNEXPECTED;
    return page_->Alert(message);
}

}  // namespace pagehost
