// Screens written to files for tests that need no display: a window's
// drawing as a 24-bit BMP, the real VM's frame buffer as a binary PPM (the
// format of QEMU's own screendump, for exact comparison).
#pragma once

#include <windows.h>
#include <functional>

#include "zova/rfb/frameBuffer.h"

namespace zova::console {

// Calls `paint` on a memory DC of width x height and writes the result.
HRESULT SaveDrawingAsBmp(LONG width, LONG height, const std::function<void(HDC)>& paint, const wchar_t* path) noexcept;

HRESULT SaveFrameAsPpm(const rfb::FrameBuffer& frame, const wchar_t* path) noexcept;

}  // namespace zova::console
