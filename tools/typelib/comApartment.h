// The tools' single-threaded apartment, for the length of main.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace tlbtool {

struct ComApartment {
    HRESULT status = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ComApartment() = default;
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (SUCCEEDED(status)) ::CoUninitialize();
    }
};

}  // namespace tlbtool
