// The console process object, registered in the running object table: it
// makes VM controls in a client's window and reports the feature flags the
// process was started with.
#pragma once

#include <windows.h>

#include "comfw/comObject.h"
#include "zova/consoleDispatch.h"
#include "zova/consoleContract.h"

namespace zova::console {

class ConsoleHost;

class ConsoleProcess final : public comfw::ComObject<ConsoleProcess, ConsoleDispatch<IZovaConsoleProcess>> {
public:
    explicit ConsoleProcess(ConsoleHost& host) noexcept : host_(host) {}

    STDMETHODIMP CreateControl(LONG window, LONG left, LONG top, LONG right, LONG bottom,
                               IDispatch** control) noexcept override;
    STDMETHODIMP AttachControl(LONG window, LONG left, LONG top, LONG right, LONG bottom,
                               IDispatch** control) noexcept override;
    STDMETHODIMP GetFeatureFlags(ULONG* flags) noexcept override;

private:
    HRESULT MakeControl(bool attach, LONG window, const RECT& rect, IDispatch** control) noexcept;

    ConsoleHost& host_;
};

}  // namespace zova::console
