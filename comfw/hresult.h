// Failures that report themselves, in the spirit of WIL's result macros. Each
// macro evaluates its expression exactly once and returns from the enclosing
// function on failure. These carry no log line; the plug-in's reporting
// versions, which write the line a failure prescribes, are in
// pluginlog/logResult.h.
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

// The status an interface boundary returns for the exception in flight, with
// its cause written to the debugger output (never to the plug-in log):
// std::bad_alloc and std::length_error give E_OUTOFMEMORY, any other
// std::exception E_FAIL, anything else E_UNEXPECTED. Call only from a catch
// block.
HRESULT ResultFromCaughtException(const char* file, int line, const char* function) noexcept;

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

// Returns `hr` when `condition` holds.
#define COMFW_RETURN_HR_IF(hr, condition)                              \
    do {                                                               \
        if (condition) return ::comfw::AsHresult(hr);                  \
    } while (0)

// Returns the last error as an HRESULT when the Win32 call gives FALSE.
#define COMFW_RETURN_IF_WIN32_BOOL_FALSE(expr)                         \
    do {                                                               \
        if (!(expr)) return ::comfw::LastErrorHresult();               \
    } while (0)

// Returns the last error as an HRESULT when the Win32 call gives null.
#define COMFW_RETURN_LAST_ERROR_IF_NULL(expr)                          \
    do {                                                               \
        if ((expr) == nullptr) return ::comfw::LastErrorHresult();     \
    } while (0)

// Closes a try block at an interface boundary: no exception crosses it.
//   try { ... } COMFW_CATCH_RETURN()
#define COMFW_CATCH_RETURN()                                                          \
    catch (...) {                                                                     \
        return ::comfw::ResultFromCaughtException(__FILE__, __LINE__, __func__);      \
    }

// The same boundary for a function with nothing to return: the cause goes to
// the debugger output and the function goes on after the try block.
#define COMFW_CATCH_LOG()                                                             \
    catch (...) {                                                                     \
        (void)::comfw::ResultFromCaughtException(__FILE__, __LINE__, __func__);      \
    }
