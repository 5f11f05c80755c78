// How page arguments become console arguments: any non-zero VARIANT_BOOL is
// true, and a string is copied up to its first NUL (a null BSTR stays null).
#pragma once

#include "comfw/bstr.h"
#include "comfw/variant.h"

namespace zova {

inline comfw::Variant BoolArg(VARIANT_BOOL value) noexcept { return comfw::Variant::Bool(value != VARIANT_FALSE); }

inline HRESULT StringArg(BSTR value, comfw::Variant& out) noexcept {
    comfw::Bstr copy;
    const HRESULT hr = comfw::Bstr::FromText(value, copy);
    if (FAILED(hr)) return hr;
    out = comfw::Variant::OwnBstr(copy.detach());
    return S_OK;
}

}  // namespace zova
