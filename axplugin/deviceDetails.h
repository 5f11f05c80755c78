// Scriptable, read-only details of one device, filled once from the nine
// strings of the console's details array and never changed afterwards.
#pragma once

#include <windows.h>
#include <cstdint>

#include "axplugin/velmoraRemoteConsole.h"
#include "comfw/bstr.h"
#include "comfw/comObject.h"
#include "comfw/dispatch.h"
#include "comfw/safeArray.h"

namespace zova {

// The details array the console returns: one dimension, bounds 0..8,
// every element a VT_BSTR.
constexpr LONG kDetailsUpperBound = 8;

// Reads the details array's elements as their field types.
class DetailsReader {
public:
    explicit DetailsReader(const comfw::SafeArray& a) noexcept : array_(a) {}
    HRESULT Text(LONG i, comfw::Bstr& out) noexcept;
    HRESULT Number(LONG i, uint32_t& out) noexcept;  // unsigned decimal, lexical_cast rules
    HRESULT Flag(LONG i, bool& out) noexcept;        // true exactly for "true"

private:
    const comfw::SafeArray& array_;
};

// The first five fields, which both kinds of device have (elements 0..4).
struct CommonDetails {
    comfw::Bstr key;
    uint32_t type = 1;
    uint32_t state = 1;
    bool connectedByMe = false;
    comfw::Bstr name;

    HRESULT Read(DetailsReader& r) noexcept;
};

// The dispatch and the getters of the common fields, for either interface.
template <class Iface>
class DeviceDetailsBase : public comfw::DispatchFromTypeLib<Iface> {
public:
    STDMETHODIMP get_key(BSTR* v) noexcept override;
    STDMETHODIMP get_type(ZOVA_DeviceType* v) noexcept override;
    STDMETHODIMP get_state(ZOVA_DeviceState* v) noexcept override;
    STDMETHODIMP get_connectedByMe(VARIANT_BOOL* v) noexcept override;
    STDMETHODIMP get_name(BSTR* v) noexcept override;

protected:
    CommonDetails common_;
};

class CVirtualDeviceDetails final
    : public comfw::ComObject<CVirtualDeviceDetails, DeviceDetailsBase<IVirtualDeviceDetails>> {
public:
    // Fills every field, or fails (E_FAIL) on an element that is not a string
    // or a number that does not convert; nothing is half set on failure.
    HRESULT Fill(const comfw::SafeArray& details) noexcept;

    STDMETHODIMP get_clientBacking(VARIANT_BOOL* v) noexcept override;
    STDMETHODIMP get_backing(ZOVA_DeviceBacking* v) noexcept override;
    STDMETHODIMP get_backingKey(BSTR* v) noexcept override;
    STDMETHODIMP get_hostname(BSTR* v) noexcept override;

private:
    bool clientBacking_ = false;
    uint32_t backing_ = 1;
    comfw::Bstr backingKey_;
    comfw::Bstr hostname_;
};

class CPhysicalClientDeviceDetails final
    : public comfw::ComObject<CPhysicalClientDeviceDetails, DeviceDetailsBase<IPhysicalClientDeviceDetails>> {
public:
    HRESULT Fill(const comfw::SafeArray& details) noexcept;

    STDMETHODIMP get_path(BSTR* v) noexcept override;
    STDMETHODIMP get_usbFamilies(UINT* v) noexcept override;
    STDMETHODIMP get_usbSharable(VARIANT_BOOL* v) noexcept override;
    STDMETHODIMP get_usbSpeeds(UINT* v) noexcept override;

private:
    comfw::Bstr path_;
    uint32_t usbFamilies_ = 0;
    bool usbSharable_ = false;
    uint32_t usbSpeeds_ = 0;
};

}  // namespace zova
