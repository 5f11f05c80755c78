// Removable device operations. Listing, connecting and disconnecting go to
// the console's VM control; the client machine's devices are guarded.
#include "axplugin/deviceDetails.h"
#include "axplugin/environmentProbes.h"
#include "axplugin/consoleArgs.h"
#include "axplugin/zovaEmbeddedCtl.h"
#include "comfw/bstr.h"
#include "comfw/variant.h"
#include "pluginlog/pluginLog.h"
#include "win32/plugin/consoleCall.h"
#include "win32/plugin/consoleDispids.h"

namespace zova {
namespace {

using comfw::Variant;

// The client machine's devices: inside the browser they need the site's
// permission. Until a per-site decision can be asked for, the browser is
// refused; other host programs are not guarded.
bool ClientDevicesAllowed() noexcept { return !IsIExploreProcess(); }

}  // namespace

STDMETHODIMP ZOVAEmbeddedCtl::getVirtualDevices(UINT devTypeMask, VARIANT* result) noexcept {
    if (!result) return E_POINTER;
    if (!HasVMControl()) return E_FAIL;
    return CallConsoleInto(vmControl_.get(), console::kGetVirtualDevices, result, Variant::UI4(devTypeMask));
}

STDMETHODIMP ZOVAEmbeddedCtl::getPhysicalClientDevices(UINT devTypeMask, VARIANT* result) noexcept {
    if (!ClientDevicesAllowed()) return E_ACCESSDENIED;
    if (!result) return E_POINTER;
    if (!HasVMControl()) return E_FAIL;
    return CallConsoleInto(vmControl_.get(), console::kGetPhysicalClientDevices, result, Variant::UI4(devTypeMask));
}

STDMETHODIMP ZOVAEmbeddedCtl::connectDevice(BSTR virtualDeviceKey, BSTR physicalClientDeviceKey,
                                            ZOVA_DeviceBacking backing) noexcept {
    if (!ClientDevicesAllowed()) return E_ACCESSDENIED;
    if (!HasVMControl()) return E_FAIL;
    Variant virtualKey, physicalKey;
    HRESULT hr;
    if (FAILED(hr = StringArg(virtualDeviceKey, virtualKey)) ||
        FAILED(hr = StringArg(physicalClientDeviceKey, physicalKey)))
        return hr;
    return CallConsole(vmControl_.get(), console::kConnectDevice, virtualKey, physicalKey,
                       Variant::UI4(static_cast<ULONG>(backing)));
}

STDMETHODIMP ZOVAEmbeddedCtl::disconnectDevice(BSTR key) noexcept {
    if (!ClientDevicesAllowed()) return E_ACCESSDENIED;
    if (!HasVMControl()) return E_FAIL;
    Variant deviceKey;
    const HRESULT hr = StringArg(key, deviceKey);
    if (FAILED(hr)) return hr;
    return CallConsole(vmControl_.get(), console::kDisconnectDevice, deviceKey);
}

}  // namespace zova

namespace zova {
namespace {

// Asks the console for one device's details and makes the page's object.
template <class Details, class Iface>
HRESULT MakeDetails(IDispatch* vm, DISPID id, const char* failedTrace, BSTR deviceKey, Iface** ppi) noexcept {
    comfw::Variant key;
    HRESULT hr = StringArg(deviceKey, key);
    if (FAILED(hr)) return hr;
    comfw::Variant answer;
    hr = CallConsoleInto(vm, id, answer.ptr(), key);
    if (FAILED(hr)) {
        ZOVA_LOG(failedTrace, hr);
        return hr;
    }
    if (answer.vt() != (VT_ARRAY | VT_VARIANT)) {
        ZOVA_REPORT("Unexpected type returned from ZOVA: %d", static_cast<int>(answer.vt()));
        return E_FAIL;
    }
    comfw::SafeArray details;
    hr = comfw::SafeArray::CopyOf(answer.get().parray, details);
    if (FAILED(hr)) return hr;
    LONG lower = 0, upper = -1;
    const UINT dims = details.dims();
    if (dims == 1) details.bounds(lower, upper);
    if (dims != 1 || lower != 0 || upper != kDetailsUpperBound) {
        ZOVA_REPORT("Unexpected details size returned from ZOVA: (%d, %d, %d)", static_cast<int>(dims),
                    static_cast<int>(lower), static_cast<int>(upper));
        return E_FAIL;
    }
    comfw::ComPtr<Details> object;
    hr = Details::Make(object);
    if (FAILED(hr)) {
        ZOVA_REPORT("Failed to create device details object: %d", static_cast<int>(hr));
        return hr;
    }
    hr = object->Fill(details);
    if (FAILED(hr)) return hr;
    return object->QueryInterface(__uuidof(Iface), reinterpret_cast<void**>(ppi));
}

}  // namespace

STDMETHODIMP ZOVAEmbeddedCtl::getVirtualDeviceDetails(BSTR deviceKey, IVirtualDeviceDetails** ppi) noexcept {
    if (!ppi) return E_POINTER;
    *ppi = nullptr;
    if (!HasVMControl()) return E_FAIL;
    return MakeDetails<CVirtualDeviceDetails>(vmControl_.get(), console::kGetVirtualDeviceDetails,
                                              "IVMControl::GetVirtualDeviceDetails failed: %d", deviceKey, ppi);
}

STDMETHODIMP ZOVAEmbeddedCtl::getPhysicalClientDeviceDetails(BSTR deviceKey,
                                                             IPhysicalClientDeviceDetails** ppi) noexcept {
    if (!ClientDevicesAllowed()) return E_ACCESSDENIED;
    if (!ppi) return E_POINTER;
    *ppi = nullptr;
    if (!HasVMControl()) return E_FAIL;
    return MakeDetails<CPhysicalClientDeviceDetails>(vmControl_.get(), console::kGetPhysicalClientDeviceDetails,
                                                     "IVMControl::GetPhysicalClientDeviceDetails failed: %d",
                                                     deviceKey, ppi);
}

}  // namespace zova
