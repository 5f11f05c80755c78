// The object the console calls with its events. It queues them (through its
// dispatcher base) and, on the control's thread, fires each one as the page
// event of the same meaning.
#pragma once

#include "axplugin/zovaEmbeddedCtl.h"
#include "win32/plugin/vmControlEventDisp.h"

namespace zova {

class EventSink final : public VMControlEventDisp, public EventSinkOwnerLink {
public:
    EventSink() noexcept = default;
    ~EventSink() override;

    // Set once, right after creation. The sink holds no reference on its
    // control between events; the control cuts it off (DetachOwner) when it
    // is destroyed, after which every event is dropped. For the length of
    // each delivery the sink holds a reference, so that a page handler that
    // releases the control cannot destroy it under the delivery.
    void SetOwner(ZOVAEmbeddedCtl* owner) noexcept;
    void DetachOwner() noexcept override { owner_ = nullptr; }
    ZOVAEmbeddedCtl* owner() const noexcept { return owner_; }

    HRESULT onMessage(uint32_t msgType, BSTR message) noexcept override;
    HRESULT onConnectionStateChange(uint32_t cs, BSTR host, BSTR datacenter, BSTR vmId, bool userRequested,
                                    BSTR reason) noexcept override;
    HRESULT onScreenSizeChange(int32_t width, int32_t height) noexcept override;
    HRESULT onGrabStateChange(uint32_t grabState) noexcept override;
    HRESULT onFullscreenChange(bool fullscreen) noexcept override;
    HRESULT onDeviceStateChange(uint32_t deviceState, BSTR hostname, BSTR datacenter, BSTR vmId,
                                BSTR virtualDeviceKey, BSTR physicalClientDeviceKey, bool userRequested,
                                BSTR reason) noexcept override;
    HRESULT onVirtualDevicesChange() noexcept override;
    HRESULT onPhysicalClientDevicesChange() noexcept override;

private:
    // The control, held for one delivery, or null (after a trace) when it is
    // gone.
    comfw::ComPtr<ZOVAEmbeddedCtl> Live(const char* event) const noexcept;

    ZOVAEmbeddedCtl* owner_ = nullptr;
};

// Makes a sink for `owner` with its dispatcher window.
HRESULT CreateEventSinkFor(ZOVAEmbeddedCtl& owner, comfw::ComPtr<IDispatch>& sink) noexcept;

}  // namespace zova
