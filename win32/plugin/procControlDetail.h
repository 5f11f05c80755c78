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

// The common end of start and attach: has the bound console process object
// make its VM control (`dispid`, reporting `makeFailure` with the status on
// failure) and advises `sink` on it. On success both references go to the
// caller; on failure all is released, with neither Unadvise nor Delete.
HRESULT EmbedVMControl(comfw::ComPtr<IDispatch> process, DISPID dispid, const char* makeFailure, HWND window,
                       const RECT& rect, IDispatch* sink, comfw::ComPtr<IDispatch>& consoleProcess,
                       comfw::ComPtr<IDispatch>& vmControl) noexcept;

// A window handle as the console passes it: 32 significant bits, sign-extended.
inline LONG HandleToI4(HWND window) noexcept {
    return static_cast<LONG>(reinterpret_cast<LONG_PTR>(window));
}
inline HWND I4ToHandle(LONG value) noexcept {
    return reinterpret_cast<HWND>(static_cast<LONG_PTR>(value));
}

}  // namespace zova::detail
