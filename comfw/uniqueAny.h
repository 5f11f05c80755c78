// One owner for every kind of handle: unique_any<Traits> closes its value with
// the traits' close function unless it holds the traits' invalid value. The
// family below covers the handles the system keeps; a new kind is one traits
// struct. Out-parameter rule as for the other owners: put() closes the old
// value first, detach() gives the value away.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <utility>

namespace comfw {

template <class Traits>
class unique_any {
public:
    using pointer = typename Traits::type;

    unique_any() noexcept = default;
    explicit unique_any(pointer value) noexcept : value_(value) {}
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    unique_any(unique_any&& other) noexcept : value_(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~unique_any() { reset(); }

    pointer get() const noexcept { return value_; }
    bool is_valid() const noexcept { return value_ != Traits::invalid(); }
    explicit operator bool() const noexcept { return is_valid(); }

    void reset(pointer value = Traits::invalid()) noexcept {
        const pointer old = std::exchange(value_, value);
        if (old != Traits::invalid()) Traits::close(old);
    }
    pointer release() noexcept { return std::exchange(value_, Traits::invalid()); }
    pointer detach() noexcept { return release(); }
    pointer* put() noexcept {
        reset();
        return &value_;
    }
    void swap(unique_any& other) noexcept { std::swap(value_, other.value_); }

private:
    pointer value_ = Traits::invalid();
};

namespace handle_traits {

template <class T, auto Close>
struct NullInvalid {
    using type = T;
    static constexpr T invalid() noexcept { return T(); }
    static void close(T value) noexcept { Close(value); }
};

inline void close_handle(HANDLE h) noexcept { ::CloseHandle(h); }
inline void close_file(HANDLE h) noexcept { ::CloseHandle(h); }
inline void delete_dc(HDC dc) noexcept { ::DeleteDC(dc); }
template <class G>
inline void delete_gdi(G object) noexcept { ::DeleteObject(object); }
inline void destroy_window(HWND window) noexcept { ::DestroyWindow(window); }
inline void free_library(HMODULE module) noexcept { ::FreeLibrary(module); }
inline void unmap_view(void* view) noexcept { ::UnmapViewOfFile(view); }
inline void cotaskmem_free(void* p) noexcept { ::CoTaskMemFree(p); }
inline void local_free(void* p) noexcept { ::LocalFree(p); }
inline void reg_close_key(HKEY key) noexcept { ::RegCloseKey(key); }
inline void global_free(void* p) noexcept { ::GlobalFree(p); }

struct FileHandle {
    using type = HANDLE;
    static HANDLE invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) noexcept { ::CloseHandle(h); }
};

}  // namespace handle_traits

// Kernel objects whose failure value is null (events, processes, threads,
// sections); files, whose failure value is INVALID_HANDLE_VALUE.
using unique_handle = unique_any<handle_traits::NullInvalid<HANDLE, handle_traits::close_handle>>;
using unique_file = unique_any<handle_traits::FileHandle>;
// Windows and GDI.
using unique_hwnd = unique_any<handle_traits::NullInvalid<HWND, handle_traits::destroy_window>>;
using unique_hdc = unique_any<handle_traits::NullInvalid<HDC, handle_traits::delete_dc>>;
template <class G>
using unique_gdi = unique_any<handle_traits::NullInvalid<G, handle_traits::delete_gdi<G>>>;
using unique_hbitmap = unique_gdi<HBITMAP>;
using unique_hbrush = unique_gdi<HBRUSH>;
// Registry keys.
using unique_hkey = unique_any<handle_traits::NullInvalid<HKEY, handle_traits::reg_close_key>>;
// Modules, mapped views and memory of the platform's allocators.
using unique_hmodule = unique_any<handle_traits::NullInvalid<HMODULE, handle_traits::free_library>>;
using unique_mapped_view = unique_any<handle_traits::NullInvalid<void*, handle_traits::unmap_view>>;
template <class T>
using unique_cotaskmem = unique_any<handle_traits::NullInvalid<T*, handle_traits::cotaskmem_free>>;
using unique_cotaskmem_string = unique_cotaskmem<wchar_t>;
template <class T>
using unique_hlocal = unique_any<handle_traits::NullInvalid<T*, handle_traits::local_free>>;
template <class T>
using unique_hglobal = unique_any<handle_traits::NullInvalid<T*, handle_traits::global_free>>;

// A screen or window DC from GetDC: released to the window it came from.
class unique_window_dc {
public:
    unique_window_dc() noexcept = default;
    explicit unique_window_dc(HWND window) noexcept : window_(window), dc_(::GetDC(window)) {}
    unique_window_dc(const unique_window_dc&) = delete;
    unique_window_dc& operator=(const unique_window_dc&) = delete;
    ~unique_window_dc() { if (dc_) ::ReleaseDC(window_, dc_); }
    HDC get() const noexcept { return dc_; }
    explicit operator bool() const noexcept { return dc_ != nullptr; }

private:
    HWND window_ = nullptr;
    HDC dc_ = nullptr;
};

}  // namespace comfw
