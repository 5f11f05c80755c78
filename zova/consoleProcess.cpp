#include "zova/consoleProcess.h"

#include "comfw/hresult.h"
#include "zova/consoleHost.h"
#include "zova/vmControl.h"

namespace zova::console {

STDMETHODIMP ConsoleProcess::CreateControl(LONG window, LONG left, LONG top, LONG right, LONG bottom,
                                           IDispatch** control) noexcept {
    return MakeControl(false, window, RECT{left, top, right, bottom}, control);
}

STDMETHODIMP ConsoleProcess::AttachControl(LONG window, LONG left, LONG top, LONG right, LONG bottom,
                                           IDispatch** control) noexcept {
    return MakeControl(true, window, RECT{left, top, right, bottom}, control);
}

STDMETHODIMP ConsoleProcess::GetFeatureFlags(ULONG* flags) noexcept {
    COMFW_RETURN_IF_NULL(flags);
    *flags = host_.options().features;
    return S_OK;
}

HRESULT ConsoleProcess::MakeControl(bool attach, LONG window, const RECT& rect, IDispatch** control) noexcept {
    COMFW_RETURN_IF_NULL(control);
    *control = nullptr;
    comfw::ComPtr<VMControl> made;
    COMFW_RETURN_IF_FAILED(VMControl::Make(made, host_, attach));
    // The client's window belongs to another process; its handle keeps to 32 bits.
    const HWND parent = reinterpret_cast<HWND>(static_cast<LONG_PTR>(window));
    COMFW_RETURN_IF_FAILED(made->CreateIn(parent, rect));
    return made->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(control));
}

}  // namespace zova::console
