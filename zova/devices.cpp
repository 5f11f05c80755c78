#include "zova/devices.h"

#include <array>

#include "comfw/hresult.h"
#include "comfw/safeArray.h"
#include "comfw/variant.h"

namespace zova::console {
namespace {

std::wstring Flag(bool b) { return b ? L"true" : L"false"; }
std::wstring Unsigned(ULONG v) { return std::to_wstring(v); }

HRESULT StringVector(const std::wstring* texts, ULONG count, VARIANT* out) noexcept {
    if (!out) return E_POINTER;
    comfw::SafeArray array;
    COMFW_RETURN_IF_FAILED(comfw::SafeArray::Variants(count, array));
    for (ULONG i = 0; i < count; ++i) {
        BSTR s = ::SysAllocStringLen(texts[i].data(), static_cast<UINT>(texts[i].size()));
        if (!s) return E_OUTOFMEMORY;
        const comfw::Variant element = comfw::Variant::OwnBstr(s);
        COMFW_RETURN_IF_FAILED(array.put_variant(static_cast<LONG>(i), element.get()));
    }
    ::VariantInit(out);
    out->vt = VT_ARRAY | VT_VARIANT;
    out->parray = array.detach();
    return S_OK;
}

}  // namespace

std::vector<VirtualDevice> InitialVirtualDevices() {
    return {
        {L"floppy-0", kDeviceFloppy, kDeviceDisconnected, false, L"Floppy drive 1", true, kBackingFile, L"", L""},
        {L"cdrom-0", kDeviceCdrom, kDeviceDisconnected, false, L"CD/DVD drive 1", true, kBackingFile, L"", L""},
        {L"usb-0", kDeviceUsb, kDeviceDisconnected, false, L"USB controller", true, kBackingPhysical, L"", L""},
    };
}

std::vector<PhysicalDevice> InitialPhysicalDevices() {
    return {
        {L"client-cdrom-d", kDeviceCdrom, kDeviceDisconnected, false, L"CD-ROM drive (D:)", L"D:\\", 0, false, 0},
        {L"client-usb-1", kDeviceUsb, kDeviceDisconnected, false, L"USB flash drive",
         L"\\\\?\\usb#vid_1d6b&pid_0104#0001", 1024, false, 4 | 8},
        {L"client-usb-2", kDeviceUsb, kDeviceDisconnected, false, L"USB smart card reader",
         L"\\\\?\\usb#vid_1d6b&pid_0105#0002", 4096, true, 0x80000000u | 2},
    };
}

template <class Device>
HRESULT DeviceKeys(const std::vector<Device>& devices, ULONG mask, VARIANT* out) noexcept {
    try {
        std::vector<std::wstring> keys;
        for (const Device& d : devices) {
            if (d.type & mask) keys.push_back(d.key);
        }
        return StringVector(keys.data(), static_cast<ULONG>(keys.size()), out);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}
template HRESULT DeviceKeys(const std::vector<VirtualDevice>&, ULONG, VARIANT*) noexcept;
template HRESULT DeviceKeys(const std::vector<PhysicalDevice>&, ULONG, VARIANT*) noexcept;

HRESULT DetailsOf(const VirtualDevice& d, VARIANT* out) noexcept {
    try {
        const std::array<std::wstring, 9> f{d.key, Unsigned(d.type), Unsigned(d.state), Flag(d.connectedByMe),
                                            d.name, Flag(d.clientBacking), Unsigned(d.backing), d.backingKey,
                                            d.hostname};
        return StringVector(f.data(), 9, out);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT DetailsOf(const PhysicalDevice& d, VARIANT* out) noexcept {
    try {
        const std::array<std::wstring, 9> f{d.key, Unsigned(d.type), Unsigned(d.state), Flag(d.connectedByMe),
                                            d.name, d.path, Unsigned(d.usbFamilies), Flag(d.usbSharable),
                                            Unsigned(d.usbSpeeds)};
        return StringVector(f.data(), 9, out);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace zova::console
