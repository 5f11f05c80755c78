// VelmoraRemoteConsoleTypeLib 5.1: Velmora Remote Console Type Library.
// Declarations for page script, generated from the type library by the build
// (tools/typelib); do not edit.
/// <reference lib="scripthost" />

/** _IVelmoraEmbeddedRemoteConsoleEvents Interface */
interface _IVelmoraEmbeddedRemoteConsoleEvents {
    /** Delivers a human readable notification message (dispid 1) */
    onMessage(msgType: ZOVA_MessageType, message: string): void;
    /** Indicates that the VM connection changed (dispid 2) */
    onConnectionStateChange(cs: ZOVA_ConnectionState, host: string, datacenter: string, vmId: string, userRequested: boolean, reason: string): void;
    /** The input grab state changed (dispid 3) */
    onGrabStateChange(grabState: ZOVA_GrabState): void;
    /** The guest window size changed (dispid 4) */
    onScreenSizeChange(width: number, height: number): void;
    /** Fullscreen to windowed transition or vice versa (dispid 5) */
    onFullscreenChange(fullscreen: boolean): void;
    /** Indicates a change in state for a device, with details. (dispid 6) */
    onDeviceStateChange(deviceState: ZOVA_DeviceState, hostname: string, datacenter: string, vmId: string, virtualDeviceKey: string, physicalClientDeviceKey: string, userRequested: boolean, reason: string): void;
    /** Indicates a change to one ore more of the virtual devices. (dispid 7) */
    onVirtualDevicesChange(): void;
    /** Indicates a change to one ore more of the physical client devices. (dispid 8) */
    onPhysicalClientDevicesChange(): void;
}

/**
 * ZOVA_MessageType
 * - ZOVA_MESSAGE_INFO = 1: Informational message.
 * - ZOVA_MESSAGE_WARNING = 2: Warning message.
 * - ZOVA_MESSAGE_ERROR = 3: Error message.
 * - ZOVA_MESSAGE_HINT = 4: Hint message.
 */
type ZOVA_MessageType = 1 | 2 | 3 | 4;

/**
 * ZOVA_ConnectionState
 * - ZOVA_CS_DISCONNECTED = 1: ZOVA is not connected to any VM.
 * - ZOVA_CS_CONNECTED = 2: ZOVA is connected to a remote VM.
 */
type ZOVA_ConnectionState = 1 | 2;

/**
 * ZOVA_GrabState
 * - ZOVA_GS_GRABBED = 1: ZOVA's guest window is grabbed.
 * - ZOVA_GS_UNGRABBED_HARD = 2: ZOVA's guest window is hard-ungrabbed.
 * - ZOVA_GS_UNGRABBED_SOFT = 3: ZOVA's guest window is soft-ungrabbed.
 */
type ZOVA_GrabState = 1 | 2 | 3;

/**
 * ZOVA_DeviceState
 * - ZOVA_DS_DISCONNECTED = 1: Device is not currently connected.
 * - ZOVA_DS_CONNECTED = 2: Device is connected.
 */
type ZOVA_DeviceState = 1 | 2;

/**
 * VM Remote Console Class.
 * Its events are the handlers of _IVelmoraEmbeddedRemoteConsoleEvents.
 */
interface VelmoraEmbeddedRemoteConsole extends IVelmoraEmbeddedRemoteConsole {}

/** Velmora Remote Console Interface */
interface IVelmoraEmbeddedRemoteConsole {
    /** Retrieves component version string (dispid 101) */
    getVersion(): string;
    /** Is IE running in a protected mode? (dispid 102) */
    isInProtectedMode(): boolean;
    /** Launches and initializes a new ZOVA instance (dispid 104) */
    startup(modes: number, messageMode: ZOVA_MessageMode, advancedConfiguration: string): string;
    /** Attaches this ActiveX to an existing ZOVA process (dispid 105) */
    attach(id: string): void;
    /** Shuts down a zova instance (dispid 106) */
    shutdown(): void;
    /** Connects the ZOVA instance to a VM on a remote host. (dispid 107) */
    connect(hostname: string, sslThumbprint: string, allowSSLErrors: boolean, cloneSessionTicket: string, username: string, password: string, moid: string, datacenter: string, vmDataStorePath: string): void;
    /** Disconnect console from the remote Virtual Machine (dispid 108) */
    disconnect(): void;
    /** Release input from the remote console (dispid 109) */
    setInputRelease(release: boolean): void;
    /** Get the list of virtual devices. (dispid 120) */
    getVirtualDevices(devTypeMask: number): any;
    /** Get the details for the specified virtual device on the VM. (dispid 121) */
    getVirtualDeviceDetails(deviceKey: string): IVirtualDeviceDetails;
    /** Get the list of physical client devices. (dispid 122) */
    getPhysicalClientDevices(devTypeMask: number): any;
    /** Get the details for the specified physical devices on the client machine. (dispid 123) */
    getPhysicalClientDeviceDetails(deviceKey: string): IPhysicalClientDeviceDetails;
    /** Connect the device to remote virtual machine (dispid 124) */
    connectDevice(virtualDeviceKey: string, physicalClientDeviceKey: string, backing: ZOVA_DeviceBacking): void;
    /** Disconnect the device from the remote virtual machine. (dispid 125) */
    disconnectDevice(key: string): void;
    /** Change the size of the guest console (dispid 110) */
    setScreenSize(width: number, height: number): void;
    /** Get width of the Virtual Machine container window. (dispid 111) */
    screenWidth(): number;
    /** Get the height of the Virtual Machine container window. (dispid 112) */
    screenHeight(): number;
    /** Send Ctrl_Alt_Delete key sequence to the guest (dispid 113) */
    sendCAD(): void;
    /** Tell the virtual machine to enter or exit the fullscreen mode (dispid 118) */
    setFullscreen(fullscreen: boolean): void;
    /** Get whether or not ZOVA is in fullscreen mode (dispid 119) */
    getFullscreen(): boolean;
    /** Gets the grab state of the input (dispid 114) */
    getGrabState(): ZOVA_GrabState;
    /** Grabs keyboard/mouse input (dispid 115) */
    grabInput(): void;
    /** Ungrab keyboard/mouse input (dispid 116) */
    ungrabInput(): void;
    /** Retrieves the connection state (dispid 117) */
    getConnectionState(): ZOVA_ConnectionState;
    /** Returns true if it is safe to call startup (dispid 103) */
    isReadyToStart(): boolean;
    /** Mode constants (dispid 126) */
    readonly ZOVA_Mode: ZOVA_ModeDictionary;
    /** Message mode constants (dispid 127) */
    readonly ZOVA_MessageMode: ZOVA_MessageModeDictionary;
    /** Connection state constants (dispid 128) */
    readonly ZOVA_ConnectionState: ZOVA_ConnectionStateDictionary;
    /** Message type constants (dispid 129) */
    readonly ZOVA_MessageType: ZOVA_MessageTypeDictionary;
    /** Grab state constants (dispid 130) */
    readonly ZOVA_GrabState: ZOVA_GrabStateDictionary;
    /** Device type constants (dispid 131) */
    readonly ZOVA_DeviceType: ZOVA_DeviceTypeDictionary;
    /** Device backing constants (dispid 132) */
    readonly ZOVA_DeviceBacking: ZOVA_DeviceBackingDictionary;
    /** Device state constants (dispid 133) */
    readonly ZOVA_DeviceState: ZOVA_DeviceStateDictionary;
    /** USB device family constants (dispid 134) */
    readonly ZOVA_USBDeviceFamily: ZOVA_USBDeviceFamilyDictionary;
    /** USB device speed constants (dispid 135) */
    readonly ZOVA_USBDeviceSpeed: ZOVA_USBDeviceSpeedDictionary;
}

/**
 * ZOVA_MessageMode
 * - ZOVA_DIALOG_MESSAGES = 1: ZOVA that displays messages in its own native dialogs.
 * - ZOVA_EVENT_MESSAGES = 2: ZOVA that uses events to notify the consumer application of messages.
 * - ZOVA_NO_MESSAGES = 3: ZOVA that suppresses all messages.
 */
type ZOVA_MessageMode = 1 | 2 | 3;

/** Virtual Device Details Interface */
interface IVirtualDeviceDetails {
    /** Device key (dispid 0x60020000) */
    readonly key: string;
    /** Device type (dispid 0x60020001) */
    readonly type: ZOVA_DeviceType;
    /** Device state (dispid 0x60020002) */
    readonly state: ZOVA_DeviceState;
    /** Was the device connected by this process? (dispid 0x60020003) */
    readonly connectedByMe: boolean;
    /** Human readable device name (dispid 0x60020004) */
    readonly name: string;
    /** Is the virtual device configured to have a client backing? (dispid 0x60020005) */
    readonly clientBacking: boolean;
    /** Device backing (dispid 0x60020006) */
    readonly backing: ZOVA_DeviceBacking;
    /** Physical client device key that is backing the virtual device (dispid 0x60020007) */
    readonly backingKey: string;
    /** Name of the host on which the device backing exists (dispid 0x60020008) */
    readonly hostname: string;
}

/**
 * ZOVA_DeviceType
 * - ZOVA_DEVICE_FLOPPY = 1: Floppy device.
 * - ZOVA_DEVICE_CDROM = 2: CD-ROM or DVD-ROM device.
 * - ZOVA_DEVICE_USB = 4: USB device.
 */
type ZOVA_DeviceType = 1 | 2 | 4;

/**
 * ZOVA_DeviceBacking
 * - ZOVA_DB_FILE = 1: Virtual device is backed by a file.
 * - ZOVA_DB_PHYSICAL = 2: Virtual device is backed by a physical device.
 */
type ZOVA_DeviceBacking = 1 | 2;

/** Physical Client Device Details Interface */
interface IPhysicalClientDeviceDetails {
    /** Device key (dispid 0x60020000) */
    readonly key: string;
    /** Device type (dispid 0x60020001) */
    readonly type: ZOVA_DeviceType;
    /** Device state (dispid 0x60020002) */
    readonly state: ZOVA_DeviceState;
    /** Was the device connected by this process? (dispid 0x60020003) */
    readonly connectedByMe: boolean;
    /** Human readable device name (dispid 0x60020004) */
    readonly name: string;
    /** Host OS path to the device (dispid 0x60020005) */
    readonly path: string;
    /** [USB devices only] A mask of supported families (dispid 0x60020006) */
    readonly usbFamilies: number;
    /** [USB devices only] Can this USB device be shared? (dispid 0x60020007) */
    readonly usbSharable: boolean;
    /** [USB devices only] A mask of supported USB speeds (dispid 0x60020008) */
    readonly usbSpeeds: number;
}

/**
 * A constant dictionary of the control (a Scripting.Dictionary): constant
 * names to their numbers. Item of a name it does not hold answers undefined
 * and adds that name: ask Exists first when the name comes from elsewhere.
 */
interface ConstantDictionary<Name extends string> {
    readonly Count: number;
    Exists(key: string): boolean;
    Item(key: Name): number;
    /** The names: new VBArray(dictionary.Keys()).toArray() */
    Keys(): SafeArray<Name>;
    /** The numbers, in the names' order. */
    Items(): SafeArray<number>;
}

/** Mode constants: the names the control's ZOVA_Mode dictionary holds. */
type ZOVA_ModeName = "ZOVA_MKS" | "ZOVA_DEVICES";
/** Mode constants: what the control's ZOVA_Mode property answers. */
interface ZOVA_ModeDictionary extends ConstantDictionary<ZOVA_ModeName> {
    Item(key: "ZOVA_MKS"): 2;
    Item(key: "ZOVA_DEVICES"): 4;
    Item(key: ZOVA_ModeName): number;
}

/** Message mode constants: the names the control's ZOVA_MessageMode dictionary holds. */
type ZOVA_MessageModeName = "ZOVA_DIALOG_MESSAGES" | "ZOVA_EVENT_MESSAGES" | "ZOVA_NO_MESSAGES";
/** Message mode constants: what the control's ZOVA_MessageMode property answers. */
interface ZOVA_MessageModeDictionary extends ConstantDictionary<ZOVA_MessageModeName> {
    /** ZOVA that displays messages in its own native dialogs. */
    Item(key: "ZOVA_DIALOG_MESSAGES"): 1;
    /** ZOVA that uses events to notify the consumer application of messages. */
    Item(key: "ZOVA_EVENT_MESSAGES"): 2;
    /** ZOVA that suppresses all messages. */
    Item(key: "ZOVA_NO_MESSAGES"): 3;
    Item(key: ZOVA_MessageModeName): number;
}

/** Connection state constants: the names the control's ZOVA_ConnectionState dictionary holds. */
type ZOVA_ConnectionStateName = "ZOVA_CS_DISCONNECTED" | "ZOVA_CS_CONNECTED";
/** Connection state constants: what the control's ZOVA_ConnectionState property answers. */
interface ZOVA_ConnectionStateDictionary extends ConstantDictionary<ZOVA_ConnectionStateName> {
    /** ZOVA is not connected to any VM. */
    Item(key: "ZOVA_CS_DISCONNECTED"): 1;
    /** ZOVA is connected to a remote VM. */
    Item(key: "ZOVA_CS_CONNECTED"): 2;
    Item(key: ZOVA_ConnectionStateName): number;
}

/** Message type constants: the names the control's ZOVA_MessageType dictionary holds. */
type ZOVA_MessageTypeName = "ZOVA_MESSAGE_INFO" | "ZOVA_MESSAGE_WARNING" | "ZOVA_MESSAGE_ERROR" | "ZOVA_MESSAGE_HINT";
/** Message type constants: what the control's ZOVA_MessageType property answers. */
interface ZOVA_MessageTypeDictionary extends ConstantDictionary<ZOVA_MessageTypeName> {
    /** Informational message. */
    Item(key: "ZOVA_MESSAGE_INFO"): 1;
    /** Warning message. */
    Item(key: "ZOVA_MESSAGE_WARNING"): 2;
    /** Error message. */
    Item(key: "ZOVA_MESSAGE_ERROR"): 3;
    /** Hint message. */
    Item(key: "ZOVA_MESSAGE_HINT"): 4;
    Item(key: ZOVA_MessageTypeName): number;
}

/** Grab state constants: the names the control's ZOVA_GrabState dictionary holds. */
type ZOVA_GrabStateName = "ZOVA_GS_GRABBED" | "ZOVA_GS_UNGRABBED_HARD" | "ZOVA_GS_UNGRABBED_SOFT";
/** Grab state constants: what the control's ZOVA_GrabState property answers. */
interface ZOVA_GrabStateDictionary extends ConstantDictionary<ZOVA_GrabStateName> {
    /** ZOVA's guest window is grabbed. */
    Item(key: "ZOVA_GS_GRABBED"): 1;
    /** ZOVA's guest window is hard-ungrabbed. */
    Item(key: "ZOVA_GS_UNGRABBED_HARD"): 2;
    /** ZOVA's guest window is soft-ungrabbed. */
    Item(key: "ZOVA_GS_UNGRABBED_SOFT"): 3;
    Item(key: ZOVA_GrabStateName): number;
}

/** Device type constants: the names the control's ZOVA_DeviceType dictionary holds. */
type ZOVA_DeviceTypeName = "ZOVA_DEVICE_FLOPPY" | "ZOVA_DEVICE_CDROM" | "ZOVA_DEVICE_USB" | "ZOVA_DEVICE_ALL";
/** Device type constants: what the control's ZOVA_DeviceType property answers. */
interface ZOVA_DeviceTypeDictionary extends ConstantDictionary<ZOVA_DeviceTypeName> {
    /** Floppy device. */
    Item(key: "ZOVA_DEVICE_FLOPPY"): 1;
    /** CD-ROM or DVD-ROM device. */
    Item(key: "ZOVA_DEVICE_CDROM"): 2;
    /** USB device. */
    Item(key: "ZOVA_DEVICE_USB"): 4;
    Item(key: "ZOVA_DEVICE_ALL"): 7;
    Item(key: ZOVA_DeviceTypeName): number;
}

/** Device backing constants: the names the control's ZOVA_DeviceBacking dictionary holds. */
type ZOVA_DeviceBackingName = "ZOVA_DB_FILE" | "ZOVA_DB_PHYSICAL";
/** Device backing constants: what the control's ZOVA_DeviceBacking property answers. */
interface ZOVA_DeviceBackingDictionary extends ConstantDictionary<ZOVA_DeviceBackingName> {
    /** Virtual device is backed by a file. */
    Item(key: "ZOVA_DB_FILE"): 1;
    /** Virtual device is backed by a physical device. */
    Item(key: "ZOVA_DB_PHYSICAL"): 2;
    Item(key: ZOVA_DeviceBackingName): number;
}

/** Device state constants: the names the control's ZOVA_DeviceState dictionary holds. */
type ZOVA_DeviceStateName = "ZOVA_DS_CONNECTED" | "ZOVA_DS_DISCONNECTED";
/** Device state constants: what the control's ZOVA_DeviceState property answers. */
interface ZOVA_DeviceStateDictionary extends ConstantDictionary<ZOVA_DeviceStateName> {
    /** Device is connected. */
    Item(key: "ZOVA_DS_CONNECTED"): 2;
    /** Device is not currently connected. */
    Item(key: "ZOVA_DS_DISCONNECTED"): 1;
    Item(key: ZOVA_DeviceStateName): number;
}

/** USB device family constants: the names the control's ZOVA_USBDeviceFamily dictionary holds. */
type ZOVA_USBDeviceFamilyName = "ZOVA_USB_FAMILY_VENDOR" | "ZOVA_USB_FAMILY_UNKNOWN" | "ZOVA_USB_FAMILY_OTHER" | "ZOVA_USB_FAMILY_AUDIO" | "ZOVA_USB_FAMILY_COMM" | "ZOVA_USB_FAMILY_HID" | "ZOVA_USB_FAMILY_HID_BOOTABLE" | "ZOVA_USB_FAMILY_PHYSICAL" | "ZOVA_USB_FAMILY_IMAGING" | "ZOVA_USB_FAMILY_PRINTER" | "ZOVA_USB_FAMILY_STORAGE" | "ZOVA_USB_FAMILY_SMART_CARD" | "ZOVA_USB_FAMILY_SECURITY" | "ZOVA_USB_FAMILY_VIDEO" | "ZOVA_USB_FAMILY_WIRELESS" | "ZOVA_USB_FAMILY_BLUETOOTH" | "ZOVA_USB_FAMILY_WUSB" | "ZOVA_USB_FAMILY_PDA";
/** USB device family constants: what the control's ZOVA_USBDeviceFamily property answers. */
interface ZOVA_USBDeviceFamilyDictionary extends ConstantDictionary<ZOVA_USBDeviceFamilyName> {
    Item(key: "ZOVA_USB_FAMILY_VENDOR"): 1;
    Item(key: "ZOVA_USB_FAMILY_UNKNOWN"): 2;
    Item(key: "ZOVA_USB_FAMILY_OTHER"): 4;
    Item(key: "ZOVA_USB_FAMILY_AUDIO"): 8;
    Item(key: "ZOVA_USB_FAMILY_COMM"): 16;
    Item(key: "ZOVA_USB_FAMILY_HID"): 32;
    Item(key: "ZOVA_USB_FAMILY_HID_BOOTABLE"): 64;
    Item(key: "ZOVA_USB_FAMILY_PHYSICAL"): 128;
    Item(key: "ZOVA_USB_FAMILY_IMAGING"): 256;
    Item(key: "ZOVA_USB_FAMILY_PRINTER"): 512;
    Item(key: "ZOVA_USB_FAMILY_STORAGE"): 1024;
    Item(key: "ZOVA_USB_FAMILY_SMART_CARD"): 4096;
    Item(key: "ZOVA_USB_FAMILY_SECURITY"): 8192;
    Item(key: "ZOVA_USB_FAMILY_VIDEO"): 16384;
    Item(key: "ZOVA_USB_FAMILY_WIRELESS"): 32768;
    Item(key: "ZOVA_USB_FAMILY_BLUETOOTH"): 65536;
    Item(key: "ZOVA_USB_FAMILY_WUSB"): 131072;
    Item(key: "ZOVA_USB_FAMILY_PDA"): 262144;
    Item(key: ZOVA_USBDeviceFamilyName): number;
}

/** USB device speed constants: the names the control's ZOVA_USBDeviceSpeed dictionary holds. */
type ZOVA_USBDeviceSpeedName = "ZOVA_USB_SPEED_LOW" | "ZOVA_USB_SPEED_FULL" | "ZOVA_USB_SPEED_HIGH" | "ZOVA_USB_SPEED_SUPER" | "ZOVA_USB_SPEED_UNKNOWN";
/** USB device speed constants: what the control's ZOVA_USBDeviceSpeed property answers. */
interface ZOVA_USBDeviceSpeedDictionary extends ConstantDictionary<ZOVA_USBDeviceSpeedName> {
    Item(key: "ZOVA_USB_SPEED_LOW"): 1;
    Item(key: "ZOVA_USB_SPEED_FULL"): 2;
    Item(key: "ZOVA_USB_SPEED_HIGH"): 4;
    Item(key: "ZOVA_USB_SPEED_SUPER"): 8;
    Item(key: "ZOVA_USB_SPEED_UNKNOWN"): -2147483648;
    Item(key: ZOVA_USBDeviceSpeedName): number;
}
