// Printing a window of another process into a device context of this one.
// A device context cannot cross processes, so the caller shares a section of
// memory with the window's process and asks the window, with a registered
// message, to print its client area into a DIB over that section. Under
// Wine's headless driver this is the only way to see a cross-process child
// window's pixels: each process keeps its own copy of a window's surface.
#pragma once

#include <windows.h>

namespace comfw {

// The registered message: wParam is a section handle valid in the window's
// process (32-bit top-down BGRA, width * height * 4 bytes), lParam is
// MAKELPARAM(width, height). The window answers 1 once it has printed.
UINT ForeignPrintMessage() noexcept;

// Caller side: draws `window` (of any process) at (x, y) of `target`.
// Returns false when the window does not answer the message.
bool PrintForeignWindow(HWND window, HDC target, int x, int y) noexcept;

// Window side: answers the message by printing the window's client area
// (WM_PRINTCLIENT to itself) into the shared section. Returns the message's
// result.
LRESULT AnswerForeignPrint(HWND window, WPARAM wp, LPARAM lp) noexcept;

}  // namespace comfw
