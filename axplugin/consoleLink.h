// The control's seams to the console process link. The control calls these
// and nothing else to launch, bind, fit and tear down; tests put fakes in.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <cstdint>
#include <string>

#include "comfw/comPtr.h"

namespace zova {

class ZOVAEmbeddedCtl;

class ConsoleLink {
public:
    virtual ~ConsoleLink() = default;

    // A new event sink owned by `owner`, with its dispatcher window, given out
    // with one reference; or a failing status after its own error report.
    virtual HRESULT CreateEventSink(ZOVAEmbeddedCtl& owner, comfw::ComPtr<IDispatch>& sink) noexcept = 0;
    virtual HRESULT StartConsoleAndCreateControl(const std::wstring& instanceId, UINT modes, int messageMode,
                                                 uint32_t features, HWND parent, const RECT& rect, IDispatch* sink,
                                                 comfw::ComPtr<IDispatch>& consoleProcess,
                                                 comfw::ComPtr<IDispatch>& vmControl) noexcept = 0;
    virtual HRESULT AttachConsoleAndControl(const std::wstring& instanceId, HWND window, const RECT& rect,
                                            IDispatch* sink, comfw::ComPtr<IDispatch>& consoleProcess,
                                            comfw::ComPtr<IDispatch>& vmControl) noexcept = 0;
    virtual void TeardownVMControl(comfw::ComPtr<IDispatch>& consoleProcess,
                                   comfw::ComPtr<IDispatch>& vmControl) noexcept = 0;
    virtual void ResizeVMWindow(HWND window, IDispatch* vmControl) noexcept = 0;
};

// The link that ships: the real launcher, binder and event sink.
ConsoleLink& ProcessConsoleLink() noexcept;

}  // namespace zova
