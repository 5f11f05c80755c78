#include "axplugin/pageEvents.h"

#include <array>

#include "comfw/bstr.h"
#include "comfw/comPtr.h"
#include "comfw/variant.h"

namespace zova {
namespace {

// One argument of an event, owning its string copy.
comfw::Variant Arg(uint32_t v) noexcept { return comfw::Variant::UI4(v); }
comfw::Variant Arg(int32_t v) noexcept { return comfw::Variant::I4(v); }
comfw::Variant Arg(bool v) noexcept { return comfw::Variant::Bool(v); }

// A BSTR copy keeps embedded NULs and the byte length; null stays null.
bool ArgCopy(BSTR s, comfw::Variant& out) noexcept {
    comfw::Bstr copy;
    if (FAILED(comfw::Bstr::CopyOf(s, copy))) return false;
    out = comfw::Variant::OwnBstr(copy.detach());
    return true;
}

template <size_t N>
HRESULT FireArgs(const comfw::ConnectionPoint& point, DISPID id, std::array<comfw::Variant, N>& inOrder) noexcept {
    std::array<VARIANTARG, N + 1> lastFirst{};
    for (size_t i = 0; i < N; ++i) lastFirst[N - 1 - i] = inOrder[i].get();
    return FireToSinks(point, id, N ? lastFirst.data() : nullptr, static_cast<UINT>(N));
}

}  // namespace

HRESULT FireToSinks(const comfw::ConnectionPoint& point, DISPID id, VARIANTARG* lastFirst, UINT count) noexcept {
    HRESULT result = S_OK;
    const size_t bound = point.slot_count();
    for (size_t i = 0; i < bound; ++i) {
        comfw::ComPtr<IUnknown> sink(point.slot(i));
        if (!sink) continue;
        // The slot holds the sink's event interface, a dispinterface.
        auto* dispatch = static_cast<IDispatch*>(sink.get());
        DISPPARAMS params{lastFirst, nullptr, count, 0};
        result = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                                  nullptr);
    }
    return result;
}

HRESULT CProxy_IVelmoraRemoteConsoleEvents::Fire_onMessage(uint32_t msgType, BSTR message) noexcept {
    std::array<comfw::Variant, 2> args{Arg(msgType), {}};
    if (!ArgCopy(message, args[1])) return E_OUTOFMEMORY;
    return FireArgs(point_, kPageOnMessage, args);
}

HRESULT CProxy_IVelmoraRemoteConsoleEvents::Fire_onConnectionStateChange(uint32_t cs, BSTR host, BSTR datacenter,
                                                                          BSTR vmId, bool userRequested,
                                                                          BSTR reason) noexcept {
    std::array<comfw::Variant, 6> args{Arg(cs), {}, {}, {}, Arg(userRequested), {}};
    if (!ArgCopy(host, args[1]) || !ArgCopy(datacenter, args[2]) || !ArgCopy(vmId, args[3]) ||
        !ArgCopy(reason, args[5]))
        return E_OUTOFMEMORY;
    return FireArgs(point_, kPageOnConnectionStateChange, args);
}

HRESULT CProxy_IVelmoraRemoteConsoleEvents::Fire_onGrabStateChange(uint32_t grabState) noexcept {
    std::array<comfw::Variant, 1> args{Arg(grabState)};
    return FireArgs(point_, kPageOnGrabStateChange, args);
}

HRESULT CProxy_IVelmoraRemoteConsoleEvents::Fire_onScreenSizeChange(int32_t width, int32_t height) noexcept {
    std::array<comfw::Variant, 2> args{Arg(width), Arg(height)};
    return FireArgs(point_, kPageOnScreenSizeChange, args);
}

HRESULT CProxy_IVelmoraRemoteConsoleEvents::Fire_onFullscreenChange(bool fullscreen) noexcept {
    std::array<comfw::Variant, 1> args{Arg(fullscreen)};
    return FireArgs(point_, kPageOnFullscreenChange, args);
}

HRESULT CProxy_IVelmoraRemoteConsoleEvents::Fire_onDeviceStateChange(uint32_t deviceState, BSTR hostname,
                                                                      BSTR datacenter, BSTR vmId,
                                                                      BSTR virtualDeviceKey,
                                                                      BSTR physicalClientDeviceKey,
                                                                      bool userRequested, BSTR reason) noexcept {
    std::array<comfw::Variant, 8> args{Arg(deviceState), {}, {}, {}, {}, {}, Arg(userRequested), {}};
    if (!ArgCopy(hostname, args[1]) || !ArgCopy(datacenter, args[2]) || !ArgCopy(vmId, args[3]) ||
        !ArgCopy(virtualDeviceKey, args[4]) || !ArgCopy(physicalClientDeviceKey, args[5]) ||
        !ArgCopy(reason, args[7]))
        return E_OUTOFMEMORY;
    return FireArgs(point_, kPageOnDeviceStateChange, args);
}

HRESULT CProxy_IVelmoraRemoteConsoleEvents::Fire_onVirtualDevicesChange() noexcept {
    std::array<comfw::Variant, 0> args{};
    return FireArgs(point_, kPageOnVirtualDevicesChange, args);
}

HRESULT CProxy_IVelmoraRemoteConsoleEvents::Fire_onPhysicalClientDevicesChange() noexcept {
    std::array<comfw::Variant, 0> args{};
    return FireArgs(point_, kPageOnPhysicalClientDevicesChange, args);
}

}  // namespace zova
