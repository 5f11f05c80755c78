// Dispatch ids of the console's two automation objects. They are the whole
// contract with the console process: it is called by id alone.
#pragma once

#include <windows.h>

namespace zova::console {

// The console process object, bound from the running object table.
enum ProcessDispid : DISPID {
    kCreateControl = 0,
    kAttachControl = 1,
    kGetFeatureFlags = 3,
};

// The VM control that the console process object makes.
enum VMControlDispid : DISPID {
    kConnect = 101,
    kDisconnect = 102,
    kGetConnectionState = 103,
    kGetHWND = 104,
    kGetFullscreen = 105,
    kSetFullscreen = 106,
    kSetScreenSize = 107,
    kGetScreenWidth = 108,
    kGetScreenHeight = 109,
    kGrabInput = 110,
    kUngrabInput = 111,
    kGetGrabState = 112,
    kSetInputRelease = 113,
    kAdvise = 114,
    kDelete = 115,
    kGetVirtualDevices = 116,
    kGetVirtualDeviceDetails = 117,
    kGetPhysicalClientDevices = 118,
    kGetPhysicalClientDeviceDetails = 119,
    kSendCAD = 120,
    kUnadvise = 121,
    kConnectDevice = 122,
    kDisconnectDevice = 123,
};

// Event numbers with which the console calls the control's event sink.
enum EventDispid : DISPID {
    kOnMessage = 0,
    kOnConnectionStateChange = 1,
    kOnGrabStateChange = 2,
    kOnScreenSizeChange = 3,
    kOnFullscreenChange = 4,
    kOnDeviceStateChange = 5,
    kOnVirtualDevicesChange = 6,
    kOnPhysicalClientDevicesChange = 7,
};

}  // namespace zova::console
