// The one way the control calls the console's objects: IDispatch::Invoke by
// dispid with IID_NULL, LOCALE_USER_DEFAULT and DISPATCH_METHOD, positional
// arguments only (given here in call order, passed last-first), no exception
// information. A result of another type than expected is DISP_E_TYPEMISMATCH;
// a null object is E_POINTER.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <array>

#include "comfw/variant.h"

namespace zova {

namespace detail {
HRESULT InvokeConsole(IDispatch* object, DISPID id, VARIANTARG* lastFirst, UINT count, VARIANT* result) noexcept;
}

// Calls an operation whose result, if any, is ignored.
template <class... Args>
HRESULT CallConsole(IDispatch* object, DISPID id, const Args&... args) noexcept {
    std::array<VARIANTARG, sizeof...(Args) + 1> lastFirst{};
    size_t i = sizeof...(Args);
    ((lastFirst[--i] = args.get()), ...);
    comfw::Variant ignored;
    return detail::InvokeConsole(object, id, sizeof...(Args) ? lastFirst.data() : nullptr,
                                 static_cast<UINT>(sizeof...(Args)), ignored.ptr());
}

// Calls an operation whose result, of any type, goes straight into `result`
// (which the caller has initialised).
template <class... Args>
HRESULT CallConsoleInto(IDispatch* object, DISPID id, VARIANT* result, const Args&... args) noexcept {
    std::array<VARIANTARG, sizeof...(Args) + 1> lastFirst{};
    size_t i = sizeof...(Args);
    ((lastFirst[--i] = args.get()), ...);
    return detail::InvokeConsole(object, id, sizeof...(Args) ? lastFirst.data() : nullptr,
                                 static_cast<UINT>(sizeof...(Args)), result);
}

// Calls an operation and takes its result, which must have the type `expected`.
// On failure `result` is empty.
template <class... Args>
HRESULT CallConsoleFor(IDispatch* object, DISPID id, VARTYPE expected, comfw::Variant& result,
                       const Args&... args) noexcept {
    result.clear();
    std::array<VARIANTARG, sizeof...(Args) + 1> lastFirst{};
    size_t i = sizeof...(Args);
    ((lastFirst[--i] = args.get()), ...);
    const HRESULT hr = detail::InvokeConsole(object, id, sizeof...(Args) ? lastFirst.data() : nullptr,
                                             static_cast<UINT>(sizeof...(Args)), result.ptr());
    if (FAILED(hr)) {
        result.clear();
        return hr;
    }
    if (result.vt() != expected) {
        result.clear();
        return DISP_E_TYPEMISMATCH;
    }
    return hr;
}

}  // namespace zova
