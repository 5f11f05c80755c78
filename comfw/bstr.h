// Owner of one BSTR. A null BSTR is a valid, empty-but-distinct value.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <cwchar>
#include <string>
#include <utility>

namespace comfw {

class Bstr {
public:
    Bstr() noexcept = default;
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    Bstr(Bstr&& other) noexcept : s_(std::exchange(other.s_, nullptr)) {}
    Bstr& operator=(Bstr&& other) noexcept { Bstr(std::move(other)).swap(*this); return *this; }
    ~Bstr() { reset(); }

    // A copy of the text up to its first NUL; a null source stays null.
    // Returns E_OUTOFMEMORY when the copy could not be made.
    static HRESULT FromText(const wchar_t* text, Bstr& out) noexcept {
        out.reset();
        if (!text) return S_OK;
        out.s_ = ::SysAllocString(text);
        return out.s_ ? S_OK : E_OUTOFMEMORY;
    }
    static HRESULT FromString(const std::wstring& text, Bstr& out) noexcept {
        out.reset();
        out.s_ = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return out.s_ ? S_OK : E_OUTOFMEMORY;
    }
    // A copy of all of `source`, its stored byte length kept (embedded NULs
    // and an odd byte count included); a null source stays null.
    static HRESULT CopyOf(BSTR source, Bstr& out) noexcept {
        out.reset();
        if (!source) return S_OK;
        out.s_ = ::SysAllocStringByteLen(reinterpret_cast<const char*>(source), ::SysStringByteLen(source));
        return out.s_ ? S_OK : E_OUTOFMEMORY;
    }
    static Bstr Attach(BSTR s) noexcept { Bstr b; b.s_ = s; return b; }

    // A fresh copy for an out-parameter (length kept, null stays null).
    HRESULT copy_to(BSTR* out) const noexcept {
        if (!out) return E_POINTER;
        *out = nullptr;
        Bstr copy;
        const HRESULT hr = CopyOf(s_, copy);
        if (SUCCEEDED(hr)) *out = copy.detach();
        return hr;
    }
    // True when the whole string, up to its stored length, equals `text`.
    bool equals(const wchar_t* text) const noexcept {
        const size_t n = ::wcslen(text);
        return s_ && ::SysStringLen(s_) == n && ::wmemcmp(s_, text, n) == 0;
    }

    BSTR get() const noexcept { return s_; }
    bool is_null() const noexcept { return s_ == nullptr; }
    UINT length() const noexcept { return ::SysStringLen(s_); }
    std::wstring str() const { return s_ ? std::wstring(s_, ::SysStringLen(s_)) : std::wstring(); }

    BSTR* put() noexcept { reset(); return &s_; }
    BSTR detach() noexcept { return std::exchange(s_, nullptr); }
    void reset() noexcept { if (BSTR old = std::exchange(s_, nullptr)) ::SysFreeString(old); }
    void swap(Bstr& other) noexcept { std::swap(s_, other.s_); }

private:
    BSTR s_ = nullptr;
};

// The text of a BSTR as a page gave it, up to its first NUL; null is empty.
inline std::wstring TextOf(BSTR s) { return s ? std::wstring(s) : std::wstring(); }

}  // namespace comfw
