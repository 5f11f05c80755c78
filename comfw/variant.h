// Owner of one VARIANT, cleared with VariantClear.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <utility>

namespace comfw {

class Variant {
public:
    Variant() noexcept { ::VariantInit(&v_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    Variant(Variant&& other) noexcept : Variant() { std::swap(v_, other.v_); }
    Variant& operator=(Variant&& other) noexcept { Variant(std::move(other)).swap(*this); return *this; }
    ~Variant() { ::VariantClear(&v_); }

    static Variant I4(LONG value) noexcept { Variant r; r.v_.vt = VT_I4; r.v_.lVal = value; return r; }
    static Variant UI4(ULONG value) noexcept { Variant r; r.v_.vt = VT_UI4; r.v_.ulVal = value; return r; }
    static Variant Bool(bool value) noexcept {
        Variant r; r.v_.vt = VT_BOOL; r.v_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE; return r;
    }
    // Takes ownership of the string (which may be null).
    static Variant OwnBstr(BSTR value) noexcept { Variant r; r.v_.vt = VT_BSTR; r.v_.bstrVal = value; return r; }
    // Holds an added reference.
    static Variant Dispatch(IDispatch* value) noexcept {
        Variant r; r.v_.vt = VT_DISPATCH; r.v_.pdispVal = value; if (value) value->AddRef(); return r;
    }

    HRESULT copy_from(const VARIANT& src) noexcept {
        Variant tmp;
        const HRESULT hr = ::VariantCopy(&tmp.v_, const_cast<VARIANT*>(&src));
        if (SUCCEEDED(hr)) swap(tmp);
        return hr;
    }

    VARTYPE vt() const noexcept { return v_.vt; }
    const VARIANT& get() const noexcept { return v_; }
    VARIANT* operator&() = delete;
    VARIANT* ptr() noexcept { return &v_; }

    // Clears the held value, then hands out the VARIANT for an out-parameter.
    VARIANT* put() noexcept { ::VariantClear(&v_); return &v_; }
    // Moves the value to the caller, who must have cleared or initialised *out.
    void detach_to(VARIANT* out) noexcept { *out = v_; ::VariantInit(&v_); }
    void clear() noexcept { ::VariantClear(&v_); }
    void swap(Variant& other) noexcept { std::swap(v_, other.v_); }

private:
    VARIANT v_;
};

}  // namespace comfw
