// The constant dictionaries: each property read makes a new Scripting.Dictionary
// mapping the names of one set of constants to their numbers, in table order.
#include <iterator>

#include "axplugin/scriptingDictionary.h"
#include "axplugin/zovaEmbeddedCtl.h"
#include "comfw/bstr.h"
#include "comfw/variant.h"
#include "pluginlog/logResult.h"

namespace zova {
namespace {

struct Constant {
    const wchar_t* name;
    LONG value;
};

const Constant kModes[] = {{L"ZOVA_MKS", 2}, {L"ZOVA_DEVICES", 4}};
const Constant kMessageModes[] = {
    {L"ZOVA_DIALOG_MESSAGES", 1}, {L"ZOVA_EVENT_MESSAGES", 2}, {L"ZOVA_NO_MESSAGES", 3}};
const Constant kConnectionStates[] = {{L"ZOVA_CS_DISCONNECTED", 1}, {L"ZOVA_CS_CONNECTED", 2}};
const Constant kMessageTypes[] = {{L"ZOVA_MESSAGE_INFO", 1},
                                  {L"ZOVA_MESSAGE_WARNING", 2},
                                  {L"ZOVA_MESSAGE_ERROR", 3},
                                  {L"ZOVA_MESSAGE_HINT", 4}};
const Constant kGrabStates[] = {
    {L"ZOVA_GS_GRABBED", 1}, {L"ZOVA_GS_UNGRABBED_HARD", 2}, {L"ZOVA_GS_UNGRABBED_SOFT", 3}};
const Constant kDeviceTypes[] = {
    {L"ZOVA_DEVICE_FLOPPY", 1}, {L"ZOVA_DEVICE_CDROM", 2}, {L"ZOVA_DEVICE_USB", 4}, {L"ZOVA_DEVICE_ALL", 7}};
const Constant kDeviceBackings[] = {{L"ZOVA_DB_FILE", 1}, {L"ZOVA_DB_PHYSICAL", 2}};
const Constant kDeviceStates[] = {{L"ZOVA_DS_CONNECTED", 2}, {L"ZOVA_DS_DISCONNECTED", 1}};
const Constant kUsbFamilies[] = {
    {L"ZOVA_USB_FAMILY_VENDOR", 1},        {L"ZOVA_USB_FAMILY_UNKNOWN", 2},
    {L"ZOVA_USB_FAMILY_OTHER", 4},         {L"ZOVA_USB_FAMILY_AUDIO", 8},
    {L"ZOVA_USB_FAMILY_COMM", 16},         {L"ZOVA_USB_FAMILY_HID", 32},
    {L"ZOVA_USB_FAMILY_HID_BOOTABLE", 64}, {L"ZOVA_USB_FAMILY_PHYSICAL", 128},
    {L"ZOVA_USB_FAMILY_IMAGING", 256},     {L"ZOVA_USB_FAMILY_PRINTER", 512},
    {L"ZOVA_USB_FAMILY_STORAGE", 1024},    {L"ZOVA_USB_FAMILY_SMART_CARD", 4096},
    {L"ZOVA_USB_FAMILY_SECURITY", 8192},   {L"ZOVA_USB_FAMILY_VIDEO", 16384},
    {L"ZOVA_USB_FAMILY_WIRELESS", 32768},  {L"ZOVA_USB_FAMILY_BLUETOOTH", 65536},
    {L"ZOVA_USB_FAMILY_WUSB", 131072},     {L"ZOVA_USB_FAMILY_PDA", 262144}};
// The top bit of 32 reads as -2147483648 in a VT_I4 item.
const Constant kUsbSpeeds[] = {{L"ZOVA_USB_SPEED_LOW", 1},
                               {L"ZOVA_USB_SPEED_FULL", 2},
                               {L"ZOVA_USB_SPEED_HIGH", 4},
                               {L"ZOVA_USB_SPEED_SUPER", 8},
                               {L"ZOVA_USB_SPEED_UNKNOWN", static_cast<LONG>(0x80000000u)}};

enum Which { kMode, kMessageMode, kConnectionState, kMessageType, kGrabState, kDeviceType, kDeviceBacking,
             kDeviceState, kUsbFamily, kUsbSpeed };

struct Set {
    const Constant* begin;
    size_t size;
};

template <size_t N>
constexpr Set SetOf(const Constant (&table)[N]) { return Set{table, N}; }

const Set kSets[] = {SetOf(kModes),       SetOf(kMessageModes),   SetOf(kConnectionStates), SetOf(kMessageTypes),
                     SetOf(kGrabStates),  SetOf(kDeviceTypes),    SetOf(kDeviceBackings),   SetOf(kDeviceStates),
                     SetOf(kUsbFamilies), SetOf(kUsbSpeeds)};

}  // namespace

HRESULT ZOVAEmbeddedCtl::ConstantDictionary(int which, VARIANT* retVal) noexcept {
    static const wchar_t* const kNames[] = {
        L"ZOVA_Mode",       L"ZOVA_MessageMode",    L"ZOVA_ConnectionState", L"ZOVA_MessageType",
        L"ZOVA_GrabState",  L"ZOVA_DeviceType",     L"ZOVA_DeviceBacking",   L"ZOVA_DeviceState",
        L"ZOVA_USBDeviceFamily", L"ZOVA_USBDeviceSpeed"};
    return ScriptCall(kNames[which], [&]() noexcept { return MakeConstantDictionary(which, retVal); });
}

HRESULT ZOVAEmbeddedCtl::MakeConstantDictionary(int which, VARIANT* retVal) noexcept {
    comfw::ComPtr<IDictionary> dictionary;
    ZOVA_RETURN_IF_FAILED_REPORT(
        ::CoCreateInstance(CLSID_Dictionary, nullptr, CLSCTX_SERVER, IID_IDictionary, dictionary.put_void()),
        "Failed to create a dictionary object: %d");
    const Set& set = kSets[which];
    for (size_t i = 0; i < set.size; ++i) {
        const Constant& c = set.begin[i];
        comfw::Variant key = comfw::Variant::OwnBstr(::SysAllocString(c.name));
        comfw::Variant item = comfw::Variant::I4(c.value);
        if (!key.get().bstrVal || FAILED(dictionary->Add(key.ptr(), item.ptr())))
            ZOVA_REPORT("Failed to add (%S, %d) to a dictionary", c.name, static_cast<int>(c.value));
    }
    if (!retVal) return E_POINTER;
    COMFW_RETURN_IF_FAILED(::VariantClear(retVal));
    retVal->vt = VT_DISPATCH;
    retVal->pdispVal = dictionary.detach();
    return S_OK;
}

STDMETHODIMP ZOVAEmbeddedCtl::get_ZOVA_Mode(VARIANT* v) noexcept { return ConstantDictionary(kMode, v); }
STDMETHODIMP ZOVAEmbeddedCtl::get_ZOVA_MessageMode(VARIANT* v) noexcept { return ConstantDictionary(kMessageMode, v); }
STDMETHODIMP ZOVAEmbeddedCtl::get_ZOVA_ConnectionState(VARIANT* v) noexcept {
    return ConstantDictionary(kConnectionState, v);
}
STDMETHODIMP ZOVAEmbeddedCtl::get_ZOVA_MessageType(VARIANT* v) noexcept { return ConstantDictionary(kMessageType, v); }
STDMETHODIMP ZOVAEmbeddedCtl::get_ZOVA_GrabState(VARIANT* v) noexcept { return ConstantDictionary(kGrabState, v); }
STDMETHODIMP ZOVAEmbeddedCtl::get_ZOVA_DeviceType(VARIANT* v) noexcept { return ConstantDictionary(kDeviceType, v); }
STDMETHODIMP ZOVAEmbeddedCtl::get_ZOVA_DeviceBacking(VARIANT* v) noexcept {
    return ConstantDictionary(kDeviceBacking, v);
}
STDMETHODIMP ZOVAEmbeddedCtl::get_ZOVA_DeviceState(VARIANT* v) noexcept { return ConstantDictionary(kDeviceState, v); }
STDMETHODIMP ZOVAEmbeddedCtl::get_ZOVA_USBDeviceFamily(VARIANT* v) noexcept {
    return ConstantDictionary(kUsbFamily, v);
}
STDMETHODIMP ZOVAEmbeddedCtl::get_ZOVA_USBDeviceSpeed(VARIANT* v) noexcept { return ConstantDictionary(kUsbSpeed, v); }

}  // namespace zova
