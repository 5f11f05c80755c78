#include "pagehost/hostObject.h"

#include "comfw/bstr.h"
#include "comfw/variant.h"
#include "pagehost/page.h"

namespace pagehost {
namespace {

// A width or height argument: absent, a number of pixels or a length text.
HRESULT LengthArg(const VARIANT& v, Length& out) noexcept {
    out = Length{};
    if (v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND) return S_OK;  // left out
    if (v.vt == VT_EMPTY) return S_OK;
    if (v.vt == VT_BSTR) {
        try {
            return ParseLength(comfw::TextOf(v.bstrVal), out) ? S_OK : E_INVALIDARG;
        } catch (const std::exception&) {
            return E_OUTOFMEMORY;
        }
    }
    comfw::Variant n;
    const HRESULT hr = ::VariantChangeType(n.ptr(), const_cast<VARIANT*>(&v), 0, VT_I4);
    if (FAILED(hr) || n.get().lVal < 0) return E_INVALIDARG;
    out.given = true;
    out.value = n.get().lVal;
    return S_OK;
}

constexpr DISPID kEchoDispid = 1;  // pagehost.idl

}  // namespace

STDMETHODIMP HostObject::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                VARIANT* result, EXCEPINFO* excep, UINT* argErr) noexcept {
    if (id == kEchoDispid && (flags & DISPATCH_METHOD) && params && params->cArgs == 0) {
        if (result) ::VariantInit(result);
        return echo(nullptr);
    }
    return DispatchFromTypeLib::Invoke(id, riid, lcid, flags, params, result, excep, argErr);
}

STDMETHODIMP HostObject::echo(SAFEARRAY* words) noexcept {
    if (!page_) return kPageEnded;
    return page_->Echo(words);
}

STDMETHODIMP HostObject::sleep(LONG milliseconds) noexcept {
    if (!page_) return kPageEnded;
    return page_->Sleep(milliseconds);
}

STDMETHODIMP HostObject::exit(LONG status) noexcept {
    if (!page_) return kPageEnded;
    return page_->Exit(status);
}

STDMETHODIMP HostObject::resize(LONG width, LONG height) noexcept {
    if (!page_) return kPageEnded;
    return page_->Resize(width, height);
}

STDMETHODIMP HostObject::destroy(BSTR id) noexcept {
    if (!page_) return kPageEnded;
    try {
        return page_->Destroy(comfw::TextOf(id));
    } catch (const std::exception&) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP HostObject::createControl(BSTR id, BSTR progIdOrClsid, VARIANT width, VARIANT height,
                                       IDispatch** control) noexcept {
    if (!control) return E_POINTER;
    *control = nullptr;
    if (!page_) return kPageEnded;
    Length w, h;
    HRESULT hr = LengthArg(width, w);
    if (SUCCEEDED(hr)) hr = LengthArg(height, h);
    if (FAILED(hr)) return hr;
    try {
        return page_->CreateControl(comfw::TextOf(id), comfw::TextOf(progIdOrClsid), w, h, control);
    } catch (const std::exception&) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP HostObject::screenshot(VARIANT path) noexcept {
    if (!page_) return kPageEnded;
    std::wstring target = page_->screenshot_path();
    if (path.vt != VT_ERROR && path.vt != VT_EMPTY) {
        comfw::Variant text;
        if (FAILED(::VariantChangeType(text.ptr(), &path, 0, VT_BSTR)) || !text.get().bstrVal) return E_INVALIDARG;
        target = text.get().bstrVal;
    }
    if (target.empty()) return E_INVALIDARG;
    return page_->SaveScreenshot(target);
}

STDMETHODIMP HostObject::get_args(VARIANT* words) noexcept {
    if (!words) return E_POINTER;
    ::VariantInit(words);
    if (!page_) return kPageEnded;
    return page_->Args(words);
}

}  // namespace pagehost
