// Owner of one SAFEARRAY, destroyed with SafeArrayDestroy.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <utility>

namespace comfw {

class SafeArray {
public:
    SafeArray() noexcept = default;
    SafeArray(const SafeArray&) = delete;
    SafeArray& operator=(const SafeArray&) = delete;
    SafeArray(SafeArray&& other) noexcept : a_(std::exchange(other.a_, nullptr)) {}
    SafeArray& operator=(SafeArray&& other) noexcept { SafeArray(std::move(other)).swap(*this); return *this; }
    ~SafeArray() { reset(); }

    // A one-dimensional array of VARIANTs with lower bound 0.
    static HRESULT Variants(ULONG count, SafeArray& out) noexcept {
        out.reset();
        out.a_ = ::SafeArrayCreateVector(VT_VARIANT, 0, count);
        return out.a_ ? S_OK : E_OUTOFMEMORY;
    }
    static HRESULT CopyOf(SAFEARRAY* src, SafeArray& out) noexcept {
        out.reset();
        return ::SafeArrayCopy(src, &out.a_);
    }

    SAFEARRAY* get() const noexcept { return a_; }
    SAFEARRAY** put() noexcept { reset(); return &a_; }
    SAFEARRAY* detach() noexcept { return std::exchange(a_, nullptr); }
    void reset() noexcept { if (SAFEARRAY* old = std::exchange(a_, nullptr)) ::SafeArrayDestroy(old); }
    void swap(SafeArray& other) noexcept { std::swap(a_, other.a_); }

    UINT dims() const noexcept { return a_ ? ::SafeArrayGetDim(a_) : 0; }
    HRESULT bounds(LONG& lower, LONG& upper) const noexcept {
        HRESULT hr = ::SafeArrayGetLBound(a_, 1, &lower);
        if (SUCCEEDED(hr)) hr = ::SafeArrayGetUBound(a_, 1, &upper);
        return hr;
    }
    // Copies element i of a one-dimensional array of VARIANTs into out; any
    // other array fails with DISP_E_BADVARTYPE, out empty. (SafeArrayGetElement
    // reads one index per dimension and writes an element of the array's own
    // type: a string or a number would land in out's type field.)
    HRESULT get_variant(LONG i, VARIANT& out) const noexcept {
        ::VariantInit(&out);
        VARTYPE vt = VT_EMPTY;
        if (dims() != 1 || FAILED(::SafeArrayGetVartype(a_, &vt)) || vt != VT_VARIANT) return DISP_E_BADVARTYPE;
        return ::SafeArrayGetElement(a_, &i, &out);
    }
    HRESULT put_variant(LONG i, const VARIANT& value) noexcept {
        return ::SafeArrayPutElement(a_, &i, const_cast<VARIANT*>(&value));
    }

private:
    SAFEARRAY* a_ = nullptr;
};

}  // namespace comfw
