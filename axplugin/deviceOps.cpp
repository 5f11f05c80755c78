// Removable device operations. Listing, connecting and disconnecting go to
// the console's VM control; the client machine's devices are guarded.
#include "axplugin/deviceDetails.h"
#include "axplugin/environmentProbes.h"
#include "axplugin/consoleArgs.h"
#include "axplugin/zovaEmbeddedCtl.h"
#include "comfw/bstr.h"
#include "comfw/variant.h"
#include "pluginlog/logResult.h"
#include "win32/plugin/consoleCall.h"
#include "zova/consoleContract.h"

namespace zova {

using comfw::Variant;

// The client machine's devices: inside the browser the site must be allowed
// first, before any argument is looked at or the console is needed.
bool ZOVAEmbeddedCtl::ClientDevicesAllowed() noexcept { return !IsIExploreProcess() || CheckSiteAccess(); }

STDMETHODIMP ZOVAEmbeddedCtl::getVirtualDevices(UINT devTypeMask, VARIANT* result) noexcept {
    return ScriptCall(L"getVirtualDevices", [&]() noexcept -> HRESULT {
        if (!result) return E_POINTER;
        if (!HasVMControl()) return E_FAIL;
        return CallConsoleInto(vmControl_.get(), ZOVA_DISPID_GET_VIRTUAL_DEVICES, result, Variant::UI4(devTypeMask));
    });
}

STDMETHODIMP ZOVAEmbeddedCtl::getPhysicalClientDevices(UINT devTypeMask, VARIANT* result) noexcept {
    return ScriptCall(L"getPhysicalClientDevices", [&]() noexcept -> HRESULT {
        if (!ClientDevicesAllowed()) return E_ACCESSDENIED;
        if (!result) return E_POINTER;
        if (!HasVMControl()) return E_FAIL;
        return CallConsoleInto(vmControl_.get(), ZOVA_DISPID_GET_PHYSICAL_CLIENT_DEVICES, result, Variant::UI4(devTypeMask));
    });
}

STDMETHODIMP ZOVAEmbeddedCtl::connectDevice(BSTR virtualDeviceKey, BSTR physicalClientDeviceKey,
                                            ZOVA_DeviceBacking backing) noexcept {
    return ScriptCall(L"connectDevice", [&]() noexcept -> HRESULT {
        if (!ClientDevicesAllowed()) return E_ACCESSDENIED;
        if (!HasVMControl()) return E_FAIL;
        Variant virtualKey, physicalKey;
        HRESULT hr;
        if (FAILED(hr = StringArg(virtualDeviceKey, virtualKey)) ||
            FAILED(hr = StringArg(physicalClientDeviceKey, physicalKey)))
            return hr;
        return CallConsole(vmControl_.get(), ZOVA_DISPID_CONNECT_DEVICE, virtualKey, physicalKey,
                           Variant::UI4(static_cast<ULONG>(backing)));
    });
}

STDMETHODIMP ZOVAEmbeddedCtl::disconnectDevice(BSTR key) noexcept {
    return ScriptCall(L"disconnectDevice", [&]() noexcept -> HRESULT {
        if (!ClientDevicesAllowed()) return E_ACCESSDENIED;
        if (!HasVMControl()) return E_FAIL;
        Variant deviceKey;
        const HRESULT hr = StringArg(key, deviceKey);
        if (FAILED(hr)) return hr;
        return CallConsole(vmControl_.get(), ZOVA_DISPID_DISCONNECT_DEVICE, deviceKey);
    });
}

}  // namespace zova

namespace zova {
namespace {

// Asks the console for one device's details and makes the page's object.
template <class Details, class Iface>
HRESULT MakeDetails(IDispatch* vm, DISPID id, const char* failedTrace, BSTR deviceKey, Iface** ppi) noexcept {
    comfw::Variant key;
    COMFW_RETURN_IF_FAILED(StringArg(deviceKey, key));
    comfw::Variant answer;
    ZOVA_RETURN_IF_FAILED_TRACE(CallConsoleInto(vm, id, answer.ptr(), key), failedTrace);
    ZOVA_RETURN_HR_IF_REPORT(E_FAIL, answer.vt() != (VT_ARRAY | VT_VARIANT), "Unexpected type returned from ZOVA: %d",
                             static_cast<int>(answer.vt()));
    comfw::SafeArray details;
    COMFW_RETURN_IF_FAILED(comfw::SafeArray::CopyOf(answer.get().parray, details));
    LONG lower = 0, upper = -1;
    const UINT dims = details.dims();
    if (dims == 1) details.bounds(lower, upper);
    ZOVA_RETURN_HR_IF_REPORT(E_FAIL, dims != 1 || lower != 0 || upper != kDetailsUpperBound,
                             "Unexpected details size returned from ZOVA: (%d, %d, %d)", static_cast<int>(dims),
                             static_cast<int>(lower), static_cast<int>(upper));
    comfw::ComPtr<Details> object;
    ZOVA_RETURN_IF_FAILED_REPORT(Details::Make(object), "Failed to create device details object: %d");
    COMFW_RETURN_IF_FAILED(object->Fill(details));
    return object->QueryInterface(__uuidof(Iface), reinterpret_cast<void**>(ppi));
}

}  // namespace

STDMETHODIMP ZOVAEmbeddedCtl::getVirtualDeviceDetails(BSTR deviceKey, IVirtualDeviceDetails** ppi) noexcept {
    return ScriptCall(L"getVirtualDeviceDetails", [&]() noexcept -> HRESULT {
        if (!ppi) return E_POINTER;
        *ppi = nullptr;
        if (!HasVMControl()) return E_FAIL;
        return MakeDetails<CVirtualDeviceDetails>(vmControl_.get(), ZOVA_DISPID_GET_VIRTUAL_DEVICE_DETAILS,
                                                  "IVMControl::GetVirtualDeviceDetails failed: %d", deviceKey, ppi);
    });
}

STDMETHODIMP ZOVAEmbeddedCtl::getPhysicalClientDeviceDetails(BSTR deviceKey,
                                                             IPhysicalClientDeviceDetails** ppi) noexcept {
    return ScriptCall(L"getPhysicalClientDeviceDetails", [&]() noexcept -> HRESULT {
        if (!ClientDevicesAllowed()) return E_ACCESSDENIED;
        if (!ppi) return E_POINTER;
        *ppi = nullptr;
        if (!HasVMControl()) return E_FAIL;
        return MakeDetails<CPhysicalClientDeviceDetails>(vmControl_.get(), ZOVA_DISPID_GET_PHYSICAL_CLIENT_DEVICE_DETAILS,
                                                         "IVMControl::GetPhysicalClientDeviceDetails failed: %d",
                                                         deviceKey, ppi);
    });
}

}  // namespace zova
