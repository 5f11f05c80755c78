// Firing of the page events through the control's one connection point.
// Each fire function walks the slots that exist when it starts (a sink that
// connects during the firing is not called, one that disconnects is skipped),
// calls every connected sink by dispid and returns what the last sink called
// returned (S_OK when none is connected).
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <cstdint>

#include "comfw/connectionPoint.h"

namespace zova {

// Page event dispids: the console's event number plus one.
enum PageEventDispid : DISPID {
    kPageOnMessage = 1,
    kPageOnConnectionStateChange = 2,
    kPageOnGrabStateChange = 3,
    kPageOnScreenSizeChange = 4,
    kPageOnFullscreenChange = 5,
    kPageOnDeviceStateChange = 6,
    kPageOnVirtualDevicesChange = 7,
    kPageOnPhysicalClientDevicesChange = 8,
};

// Calls every connected sink with `args` (already last-first). Exposed for
// the fire functions below.
HRESULT FireToSinks(const comfw::ConnectionPoint& point, DISPID id, VARIANTARG* lastFirst, UINT count) noexcept;

// The control's page event source. Strings are borrowed for the call; a null
// string goes out as VT_BSTR with a null pointer.
class CProxy_IVelmoraRemoteConsoleEvents {
public:
    explicit CProxy_IVelmoraRemoteConsoleEvents(const comfw::ConnectionPoint& point) noexcept : point_(point) {}

    HRESULT Fire_onMessage(uint32_t msgType, BSTR message) noexcept;
    HRESULT Fire_onConnectionStateChange(uint32_t cs, BSTR host, BSTR datacenter, BSTR vmId, bool userRequested,
                                         BSTR reason) noexcept;
    HRESULT Fire_onGrabStateChange(uint32_t grabState) noexcept;
    HRESULT Fire_onScreenSizeChange(int32_t width, int32_t height) noexcept;
    HRESULT Fire_onFullscreenChange(bool fullscreen) noexcept;
    HRESULT Fire_onDeviceStateChange(uint32_t deviceState, BSTR hostname, BSTR datacenter, BSTR vmId,
                                     BSTR virtualDeviceKey, BSTR physicalClientDeviceKey, bool userRequested,
                                     BSTR reason) noexcept;
    HRESULT Fire_onVirtualDevicesChange() noexcept;
    HRESULT Fire_onPhysicalClientDevicesChange() noexcept;

private:
    const comfw::ConnectionPoint& point_;
};

}  // namespace zova
