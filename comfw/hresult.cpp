#include "comfw/hresult.h"

#include <cstdio>
#include <exception>
#include <new>
#include <stdexcept>

namespace comfw {

HRESULT ResultFromCaughtException(const char* file, int line, const char* function) noexcept {
    HRESULT hr = E_UNEXPECTED;
    const char* kind = "unknown exception";
    const char* what = "";
    try {
        throw;
    } catch (const std::bad_alloc& e) {
        hr = E_OUTOFMEMORY, kind = "std::bad_alloc", what = e.what();
    } catch (const std::length_error& e) {
        hr = E_OUTOFMEMORY, kind = "std::length_error", what = e.what();
    } catch (const std::exception& e) {
        hr = E_FAIL, kind = "std::exception", what = e.what();
    } catch (...) {
    }
    char text[512];
    std::snprintf(text, sizeof text, "%s(%d): %s: caught %s (%s), returning 0x%08lX\n", file, line, function, kind,
                  what, static_cast<unsigned long>(hr));
    ::OutputDebugStringA(text);
    return hr;
}

}  // namespace comfw
