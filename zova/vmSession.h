// The one virtual machine session that a console process simulates. Every VM
// control of the process is a view of it, so a client that attaches to a
// console left running finds the session as the earlier client left it.
#pragma once

#include <windows.h>
#include <string>
#include <vector>

#include "comfw/variant.h"
#include "zova/devices.h"

namespace zova::console {

constexpr ULONG kDisconnected = 1, kConnected = 2;
constexpr ULONG kGrabbed = 1, kUngrabbedHard = 2, kUngrabbedSoft = 3;
constexpr ULONG kMessageInfo = 1, kMessageError = 3;
// The arguments of Connect, in call order.
constexpr size_t kConnectArgCount = 10;

struct VmSession {
    ULONG connectionState = kDisconnected;
    std::wstring host, datacenter, moid, user, proxy;
    LONG screenWidth = 1024, screenHeight = 768;
    bool fullscreen = false;
    ULONG grabState = kUngrabbedHard;
    bool inputRelease = false;
    ULONG cadCount = 0;
    std::vector<VirtualDevice> virtualDevices = InitialVirtualDevices();
    std::vector<PhysicalDevice> physicalDevices = InitialPhysicalDevices();
    // Copies of the last Connect's arguments as they arrived (empty before).
    std::vector<comfw::Variant> lastConnectArgs;

    VirtualDevice* FindVirtual(const std::wstring& key) noexcept {
        for (VirtualDevice& d : virtualDevices) if (d.key == key) return &d;
        return nullptr;
    }
    PhysicalDevice* FindPhysical(const std::wstring& key) noexcept {
        for (PhysicalDevice& d : physicalDevices) if (d.key == key) return &d;
        return nullptr;
    }
};

}  // namespace zova::console
