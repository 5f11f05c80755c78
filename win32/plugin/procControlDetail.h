// Pieces shared by the launcher and the binder: the console's two ways of
// making a VM control, and handing it its event sink.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "comfw/comPtr.h"

namespace zova::detail {

// Calls `dispid` (CreateControl or AttachControl) on the console process
// object with the window and the rectangle as 32-bit integers and takes the
// VM control it returns. On failure `vmControl` is empty.
HRESULT MakeVMControl(IDispatch* consoleProcess, DISPID dispid, HWND window, const RECT& rect,
                      comfw::ComPtr<IDispatch>& vmControl) noexcept;

// Advise with the sink as a VT_DISPATCH argument.
HRESULT AdviseSink(IDispatch* vmControl, IDispatch* sink) noexcept;

// A window handle as the console passes it: 32 significant bits, sign-extended.
inline LONG HandleToI4(HWND window) noexcept {
    return static_cast<LONG>(reinterpret_cast<LONG_PTR>(window));
}
inline HWND I4ToHandle(LONG value) noexcept {
    return reinterpret_cast<HWND>(static_cast<LONG_PTR>(value));
}

}  // namespace zova::detail
