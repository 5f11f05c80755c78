// The simulated virtual machine's removable devices and the client machine's
// physical devices: a small fixed set, with their details in the nine-field
// wire form (a VT_ARRAY|VT_VARIANT vector of nine VT_BSTR; numbers as
// unsigned decimal text, flags "true"/"false").
//
// Virtual devices (key, type, name):
//   "floppy-0" 1 "Floppy drive 1"   backed by a file until connected
//   "cdrom-0"  2 "CD/DVD drive 1"
//   "usb-0"    4 "USB controller"
// Physical client devices (key, type, name):
//   "client-cdrom-d" 2 "CD-ROM drive (D:)"
//   "client-usb-1"   4 "USB flash drive"        (storage, high and super speed)
//   "client-usb-2"   4 "USB smart card reader"  (smart card, sharable, full
//                                                speed plus the unknown bit)
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <string>
#include <vector>

namespace zova::console {

constexpr ULONG kDeviceFloppy = 1, kDeviceCdrom = 2, kDeviceUsb = 4;
constexpr ULONG kDeviceDisconnected = 1, kDeviceConnected = 2;
constexpr ULONG kBackingFile = 1, kBackingPhysical = 2;

struct VirtualDevice {
    std::wstring key;
    ULONG type;
    ULONG state;
    bool connectedByMe;
    std::wstring name;
    bool clientBacking;
    ULONG backing;
    std::wstring backingKey;
    std::wstring hostname;
};

struct PhysicalDevice {
    std::wstring key;
    ULONG type;
    ULONG state;
    bool connectedByMe;
    std::wstring name;
    std::wstring path;
    ULONG usbFamilies;
    bool usbSharable;
    ULONG usbSpeeds;
};

std::vector<VirtualDevice> InitialVirtualDevices();
std::vector<PhysicalDevice> InitialPhysicalDevices();

// The keys of the devices whose type is in `mask`, in table order, as a
// VT_ARRAY|VT_VARIANT vector of VT_BSTR.
template <class Device>
HRESULT DeviceKeys(const std::vector<Device>& devices, ULONG mask, VARIANT* out) noexcept;

HRESULT DetailsOf(const VirtualDevice& d, VARIANT* out) noexcept;
HRESULT DetailsOf(const PhysicalDevice& d, VARIANT* out) noexcept;

}  // namespace zova::console
