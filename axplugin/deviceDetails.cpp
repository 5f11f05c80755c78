#include "axplugin/deviceDetails.h"

#include "comfw/variant.h"
#include "pluginlog/logResult.h"

#include <boost/lexical_cast.hpp>
#include <string>

namespace zova {
namespace {

HRESULT CopyOut(const comfw::Bstr& field, BSTR* out) noexcept { return field.copy_to(out); }

template <class T, class U>
HRESULT ValueOut(U value, T* out) noexcept {
    if (!out) return E_POINTER;
    *out = static_cast<T>(value);
    return S_OK;
}

HRESULT FlagOut(bool value, VARIANT_BOOL* out) noexcept {
    if (!out) return E_POINTER;
    *out = value ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

}  // namespace

HRESULT DetailsReader::Text(LONG i, comfw::Bstr& out) noexcept {
    comfw::Variant element;
    COMFW_RETURN_IF_FAILED(array_.get_variant(i, *element.put()));
    ZOVA_RETURN_HR_IF_REPORT(E_FAIL, element.vt() != VT_BSTR,
                             "Unexpected details element %d returned from ZOVA: type %d", static_cast<int>(i),
                             static_cast<int>(element.vt()));
    VARIANT raw;
    element.detach_to(&raw);
    out = comfw::Bstr::Attach(raw.bstrVal);  // takes the element's copy
    return S_OK;
}

HRESULT DetailsReader::Number(LONG i, uint32_t& out) noexcept {
    comfw::Bstr text;
    COMFW_RETURN_IF_FAILED(Text(i, text));
    try {
        // The whole string must convert: an embedded NUL is not a digit.
        out = boost::lexical_cast<uint32_t>(text.str());
        return S_OK;
    } catch (const boost::bad_lexical_cast&) {
        ZOVA_REPORT("Unexpected details element %d returned from ZOVA: not a number", static_cast<int>(i));
        return E_FAIL;
    }
    COMFW_CATCH_RETURN()
}

HRESULT DetailsReader::Flag(LONG i, bool& out) noexcept {
    comfw::Bstr text;
    COMFW_RETURN_IF_FAILED(Text(i, text));
    out = text.equals(L"true");
    return S_OK;
}

HRESULT CommonDetails::Read(DetailsReader& r) noexcept {
    HRESULT hr;
    if (FAILED(hr = r.Text(0, key)) || FAILED(hr = r.Number(1, type)) || FAILED(hr = r.Number(2, state)) ||
        FAILED(hr = r.Flag(3, connectedByMe)) || FAILED(hr = r.Text(4, name)))
        return hr;
    return S_OK;
}

template <class Iface>
STDMETHODIMP DeviceDetailsBase<Iface>::get_key(BSTR* v) noexcept { return CopyOut(common_.key, v); }
template <class Iface>
STDMETHODIMP DeviceDetailsBase<Iface>::get_type(ZOVA_DeviceType* v) noexcept { return ValueOut(common_.type, v); }
template <class Iface>
STDMETHODIMP DeviceDetailsBase<Iface>::get_state(ZOVA_DeviceState* v) noexcept { return ValueOut(common_.state, v); }
template <class Iface>
STDMETHODIMP DeviceDetailsBase<Iface>::get_connectedByMe(VARIANT_BOOL* v) noexcept {
    return FlagOut(common_.connectedByMe, v);
}
template <class Iface>
STDMETHODIMP DeviceDetailsBase<Iface>::get_name(BSTR* v) noexcept { return CopyOut(common_.name, v); }

template class DeviceDetailsBase<IVirtualDeviceDetails>;
template class DeviceDetailsBase<IPhysicalClientDeviceDetails>;

// Both Fill functions read all nine elements into locals first, so that a
// bad element leaves the object as it was.
HRESULT CVirtualDeviceDetails::Fill(const comfw::SafeArray& details) noexcept {
    DetailsReader r(details);
    CommonDetails common;
    comfw::Bstr backingKey, hostname;
    uint32_t backing = 0;
    bool clientBacking = false;
    HRESULT hr;
    if (FAILED(hr = common.Read(r)) || FAILED(hr = r.Flag(5, clientBacking)) || FAILED(hr = r.Number(6, backing)) ||
        FAILED(hr = r.Text(7, backingKey)) || FAILED(hr = r.Text(8, hostname)))
        return hr;
    common_ = std::move(common);
    clientBacking_ = clientBacking;
    backing_ = backing;
    backingKey_ = std::move(backingKey);
    hostname_ = std::move(hostname);
    return S_OK;
}

STDMETHODIMP CVirtualDeviceDetails::get_clientBacking(VARIANT_BOOL* v) noexcept { return FlagOut(clientBacking_, v); }
STDMETHODIMP CVirtualDeviceDetails::get_backing(ZOVA_DeviceBacking* v) noexcept { return ValueOut(backing_, v); }
STDMETHODIMP CVirtualDeviceDetails::get_backingKey(BSTR* v) noexcept { return CopyOut(backingKey_, v); }
STDMETHODIMP CVirtualDeviceDetails::get_hostname(BSTR* v) noexcept { return CopyOut(hostname_, v); }

HRESULT CPhysicalClientDeviceDetails::Fill(const comfw::SafeArray& details) noexcept {
    DetailsReader r(details);
    CommonDetails common;
    comfw::Bstr path;
    uint32_t families = 0, speeds = 0;
    bool sharable = false;
    HRESULT hr;
    if (FAILED(hr = common.Read(r)) || FAILED(hr = r.Text(5, path)) || FAILED(hr = r.Number(6, families)) ||
        FAILED(hr = r.Flag(7, sharable)) || FAILED(hr = r.Number(8, speeds)))
        return hr;
    common_ = std::move(common);
    path_ = std::move(path);
    usbFamilies_ = families;
    usbSharable_ = sharable;
    usbSpeeds_ = speeds;
    return S_OK;
}

STDMETHODIMP CPhysicalClientDeviceDetails::get_path(BSTR* v) noexcept { return CopyOut(path_, v); }
STDMETHODIMP CPhysicalClientDeviceDetails::get_usbFamilies(UINT* v) noexcept { return ValueOut(usbFamilies_, v); }
STDMETHODIMP CPhysicalClientDeviceDetails::get_usbSharable(VARIANT_BOOL* v) noexcept { return FlagOut(usbSharable_, v); }
STDMETHODIMP CPhysicalClientDeviceDetails::get_usbSpeeds(UINT* v) noexcept { return ValueOut(usbSpeeds_, v); }

}  // namespace zova
