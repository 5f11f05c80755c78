// The property map of a control: the named, typed values that
// IPersistStreamInit, IPersistStorage and IPersistPropertyBag load and save.
// Derived declares it as
//
//   static comfw::PropertyMap<Derived> property_map() noexcept {
//       static const comfw::PropertyEntry<Derived> entries[] = {
//           comfw::ExtentWidthProperty<Derived>(L"_cx"),
//           comfw::ExtentHeightProperty<Derived>(L"_cy")};
//       return comfw::PropertyMap<Derived>(entries);
//   }
//
// An entry's `get` fills an empty VARIANT with a value of the entry's type;
// its `put` receives a value already converted to that type.
//
// Stream format (IPersistStreamInit and the "Contents" stream of
// IPersistStorage), little-endian: DWORD magic 'CFPM', DWORD version 1,
// DWORD record count; each record: DWORD name length in characters, the
// UTF-16 name without terminator, WORD VARTYPE, then the value (fixed-size
// types: their bytes; VT_BSTR: DWORD byte count and the bytes). Loading skips
// records whose name is not in the map.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <objidl.h>
#include <cstddef>
#include <string>

#include "comfw/variant.h"

namespace comfw {

template <class Derived>
struct PropertyEntry {
    const wchar_t* name;
    VARTYPE type;
    HRESULT (*get)(Derived& object, VARIANT* value);
    HRESULT (*put)(Derived& object, const VARIANT& value);
};

template <class Derived>
class PropertyMap {
public:
    template <size_t N>
    explicit PropertyMap(const PropertyEntry<Derived> (&entries)[N]) noexcept : entries_(entries), count_(N) {}
    const PropertyEntry<Derived>* begin() const noexcept { return entries_; }
    const PropertyEntry<Derived>* end() const noexcept { return entries_ + count_; }
    size_t size() const noexcept { return count_; }
    // The entry of that name (compared without case, as page parameters are).
    const PropertyEntry<Derived>* find(const wchar_t* name) const noexcept {
        for (const auto& e : *this)
            if (::CompareStringOrdinal(e.name, -1, name, -1, TRUE) == CSTR_EQUAL) return &e;
        return nullptr;
    }

private:
    const PropertyEntry<Derived>* entries_;
    size_t count_;
};

// The width and height of the control's extent (HIMETRIC) as VT_UI4.
template <class Derived>
constexpr PropertyEntry<Derived> ExtentWidthProperty(const wchar_t* name) noexcept {
    return {name, VT_UI4,
            [](Derived& d, VARIANT* v) { v->vt = VT_UI4; v->ulVal = static_cast<ULONG>(d.extent().cx); return S_OK; },
            [](Derived& d, const VARIANT& v) {
                SIZEL e = d.extent();
                e.cx = static_cast<LONG>(v.ulVal);
                d.set_extent(e);
                return S_OK;
            }};
}
template <class Derived>
constexpr PropertyEntry<Derived> ExtentHeightProperty(const wchar_t* name) noexcept {
    return {name, VT_UI4,
            [](Derived& d, VARIANT* v) { v->vt = VT_UI4; v->ulVal = static_cast<ULONG>(d.extent().cy); return S_OK; },
            [](Derived& d, const VARIANT& v) {
                SIZEL e = d.extent();
                e.cy = static_cast<LONG>(v.ulVal);
                d.set_extent(e);
                return S_OK;
            }};
}

namespace props {

// The pieces of the stream format.
HRESULT WriteHeader(IStream* stream, DWORD count) noexcept;
HRESULT ReadHeader(IStream* stream, DWORD* count) noexcept;
HRESULT WriteRecord(IStream* stream, const wchar_t* name, const VARIANT& value) noexcept;
HRESULT ReadRecord(IStream* stream, std::wstring& name, Variant& value) noexcept;
// Bytes a record takes, or 0 for a type the format cannot hold.
ULONG RecordSize(const wchar_t* name, const VARIANT& value) noexcept;
constexpr ULONG kHeaderSize = 3 * sizeof(DWORD);

}  // namespace props

// Map-wide operations that the three persistence mixins share.
template <class Derived>
HRESULT SavePropertiesToStream(Derived& object, IStream* stream) noexcept {
    const PropertyMap<Derived> map = Derived::property_map();
    HRESULT hr = props::WriteHeader(stream, static_cast<DWORD>(map.size()));
    for (const auto& e : map) {
        if (FAILED(hr)) break;
        Variant value;
        hr = e.get(object, value.ptr());
        if (SUCCEEDED(hr)) hr = props::WriteRecord(stream, e.name, value.get());
    }
    return hr;
}

template <class Derived>
HRESULT LoadPropertiesFromStream(Derived& object, IStream* stream) noexcept {
    const PropertyMap<Derived> map = Derived::property_map();
    DWORD count = 0;
    HRESULT hr = props::ReadHeader(stream, &count);
    for (DWORD i = 0; SUCCEEDED(hr) && i < count; ++i) {
        std::wstring name;
        Variant value;
        hr = props::ReadRecord(stream, name, value);
        if (FAILED(hr)) break;
        const PropertyEntry<Derived>* e = map.find(name.c_str());
        if (!e) continue;
        hr = ::VariantChangeType(value.ptr(), value.ptr(), 0, e->type);
        if (SUCCEEDED(hr)) hr = e->put(object, value.get());
    }
    return hr;
}

template <class Derived>
HRESULT PropertiesStreamSize(Derived& object, ULARGE_INTEGER* size) noexcept {
    const PropertyMap<Derived> map = Derived::property_map();
    ULONGLONG total = props::kHeaderSize;
    for (const auto& e : map) {
        Variant value;
        const HRESULT hr = e.get(object, value.ptr());
        if (FAILED(hr)) return hr;
        const ULONG n = props::RecordSize(e.name, value.get());
        if (n == 0) return DISP_E_BADVARTYPE;
        total += n;
    }
    size->QuadPart = total;
    return S_OK;
}

}  // namespace comfw
