// A PNG picture of the host window's client area, painted into memory by the
// page (background, then each control) and written with the platform's WIC
// PNG encoder.
#pragma once

#include <windows.h>
#include <functional>
#include <string>

namespace pagehost {

HRESULT SavePng(SIZE size, const std::function<void(HDC)>& paint, const std::wstring& path) noexcept;

}  // namespace pagehost
