// HRESULT helpers: evaluate the expression once, accept nothing but an HRESULT.
#pragma once

#include <windows.h>
#include <type_traits>

namespace comfw {

template <class T>
constexpr HRESULT AsHresult(T value) noexcept {
    static_assert(std::is_same_v<T, HRESULT>, "expected an HRESULT");
    return value;
}

// The HRESULT of a failed Win32 call, from its last error (E_FAIL if none).
inline HRESULT LastErrorHresult() noexcept {
    const DWORD error = ::GetLastError();
    return error == 0 ? E_FAIL : HRESULT_FROM_WIN32(error);
}

}  // namespace comfw

#define COMFW_RETURN_IF_FAILED(expr)                                   \
    do {                                                               \
        const HRESULT comfw_hr_ = ::comfw::AsHresult(expr);            \
        if (FAILED(comfw_hr_)) return comfw_hr_;                       \
    } while (0)

#define COMFW_RETURN_IF_NULL(ptr)                                      \
    do {                                                               \
        if ((ptr) == nullptr) return E_POINTER;                        \
    } while (0)
