#include "axplugin/eventSink.h"

#include "pluginlog/pluginLog.h"

namespace zova {

EventSink::~EventSink() {
    if (owner_) owner_->ForgetSink(this);
}

void EventSink::SetOwner(ZOVAEmbeddedCtl* owner) noexcept {
    owner_ = owner;
    if (owner_) owner_->AdoptSink(this);
}

comfw::ComPtr<ZOVAEmbeddedCtl> EventSink::Live(const char* event) const noexcept {
    if (!owner_) ZOVA_LOG("Dropping %s: the control is gone", event);
    return comfw::ComPtr<ZOVAEmbeddedCtl>(owner_);
}

HRESULT EventSink::onMessage(uint32_t msgType, BSTR message) noexcept {
    const comfw::ComPtr<ZOVAEmbeddedCtl> control = Live("onMessage");
    return control ? control->Fire_onMessage(msgType, message) : S_OK;
}

HRESULT EventSink::onConnectionStateChange(uint32_t cs, BSTR host, BSTR datacenter, BSTR vmId, bool userRequested,
                                           BSTR reason) noexcept {
    const comfw::ComPtr<ZOVAEmbeddedCtl> control = Live("onConnectionStateChange");
    return control ? control->Fire_onConnectionStateChange(cs, host, datacenter, vmId, userRequested, reason) : S_OK;
}

HRESULT EventSink::onScreenSizeChange(int32_t width, int32_t height) noexcept {
    const comfw::ComPtr<ZOVAEmbeddedCtl> control = Live("onScreenSizeChange");
    if (!control) return S_OK;
    // The console window follows the control's own size, not the guest's.
    control->RefitConsoleWindow();
    return control->Fire_onScreenSizeChange(width, height);
}

HRESULT EventSink::onGrabStateChange(uint32_t grabState) noexcept {
    const comfw::ComPtr<ZOVAEmbeddedCtl> control = Live("onGrabStateChange");
    return control ? control->Fire_onGrabStateChange(grabState) : S_OK;
}

HRESULT EventSink::onFullscreenChange(bool fullscreen) noexcept {
    const comfw::ComPtr<ZOVAEmbeddedCtl> control = Live("onFullscreenChange");
    return control ? control->Fire_onFullscreenChange(fullscreen) : S_OK;
}

HRESULT EventSink::onDeviceStateChange(uint32_t deviceState, BSTR hostname, BSTR datacenter, BSTR vmId,
                                       BSTR virtualDeviceKey, BSTR physicalClientDeviceKey, bool userRequested,
                                       BSTR reason) noexcept {
    const comfw::ComPtr<ZOVAEmbeddedCtl> control = Live("onDeviceStateChange");
    return control ? control->Fire_onDeviceStateChange(deviceState, hostname, datacenter, vmId, virtualDeviceKey,
                                                       physicalClientDeviceKey, userRequested, reason)
                   : S_OK;
}

HRESULT EventSink::onVirtualDevicesChange() noexcept {
    const comfw::ComPtr<ZOVAEmbeddedCtl> control = Live("onVirtualDevicesChange");
    return control ? control->Fire_onVirtualDevicesChange() : S_OK;
}

HRESULT EventSink::onPhysicalClientDevicesChange() noexcept {
    const comfw::ComPtr<ZOVAEmbeddedCtl> control = Live("onPhysicalClientDevicesChange");
    return control ? control->Fire_onPhysicalClientDevicesChange() : S_OK;
}

HRESULT CreateEventSinkFor(ZOVAEmbeddedCtl& owner, comfw::ComPtr<IDispatch>& sink) noexcept {
    comfw::ComPtr<EventSink> object;
    HRESULT hr = VMControlEventDisp::Create(object);
    if (FAILED(hr)) {
        ZOVA_REPORT("CreateInstance failed for event dispatcher: %d", static_cast<int>(hr));
        return hr;
    }
    object->SetOwner(&owner);
    if (!object->CreateDispatcherWindow()) {
        ZOVA_REPORT("Failed to create an event sink window: %d", static_cast<int>(::GetLastError()));
        object->DetachOwner();
        owner.ForgetSink(object.get());
        return E_FAIL;
    }
    return object->QueryInterface(IID_IDispatch, sink.put_void());
}

}  // namespace zova
