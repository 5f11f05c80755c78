// Persistence of a control's property map (oleControlProperties.h) through
// IPersistStreamInit, IPersistStorage (a "Contents" stream in the storage)
// and IPersistPropertyBag. Derived provides property_map() and
// `static const CLSID& class_id() noexcept`.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include "comfw/comPtr.h"
#include "comfw/hresult.h"
#include "comfw/oleControlProperties.h"
#include "comfw/variant.h"

namespace comfw {

// The name of the stream in a storage that holds the property map.
inline constexpr const wchar_t* kContentsStream = L"Contents";

template <class Derived>
class PersistStreamInitImpl : public IPersistStreamInit {
public:
    using Interface = IPersistStreamInit;

    STDMETHODIMP GetClassID(CLSID* clsid) noexcept override {
        if (!clsid) return E_POINTER;
        *clsid = Derived::class_id();
        return S_OK;
    }
    STDMETHODIMP IsDirty() noexcept override { return self().dirty() ? S_OK : S_FALSE; }
    STDMETHODIMP Load(IStream* stream) noexcept override {
        if (!stream) return E_POINTER;
        return LoadPropertiesFromStream(self(), stream);
    }
    STDMETHODIMP Save(IStream* stream, BOOL clearDirty) noexcept override {
        if (!stream) return E_POINTER;
        COMFW_RETURN_IF_FAILED(SavePropertiesToStream(self(), stream));
        if (clearDirty) self().set_dirty(false);
        return S_OK;
    }
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) noexcept override {
        if (!size) return E_POINTER;
        return PropertiesStreamSize(self(), size);
    }
    STDMETHODIMP InitNew() noexcept override {
        self().set_dirty(false);
        return S_OK;
    }

private:
    Derived& self() noexcept { return *static_cast<Derived*>(this); }
};

template <class Derived>
class PersistStorageImpl : public IPersistStorage {
public:
    using Interface = IPersistStorage;

    STDMETHODIMP GetClassID(CLSID* clsid) noexcept override {
        if (!clsid) return E_POINTER;
        *clsid = Derived::class_id();
        return S_OK;
    }
    STDMETHODIMP IsDirty() noexcept override { return self().dirty() ? S_OK : S_FALSE; }
    STDMETHODIMP InitNew(IStorage* storage) noexcept override {
        if (!storage) return E_POINTER;
        self().set_dirty(false);
        return S_OK;
    }
    STDMETHODIMP Load(IStorage* storage) noexcept override {
        if (!storage) return E_POINTER;
        ComPtr<IStream> stream;
        COMFW_RETURN_IF_FAILED(storage->OpenStream(kContentsStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0,
                                                   stream.put()));
        return LoadPropertiesFromStream(self(), stream.get());
    }
    STDMETHODIMP Save(IStorage* storage, BOOL sameAsLoad) noexcept override {
        if (!storage) return E_POINTER;
        ComPtr<IStream> stream;
        COMFW_RETURN_IF_FAILED(storage->CreateStream(
            kContentsStream, STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, stream.put()));
        COMFW_RETURN_IF_FAILED(SavePropertiesToStream(self(), stream.get()));
        if (sameAsLoad) self().set_dirty(false);
        return S_OK;
    }
    // The control keeps no storage open, so there is nothing to let go of
    // or take back.
    STDMETHODIMP SaveCompleted(IStorage*) noexcept override { return S_OK; }
    STDMETHODIMP HandsOffStorage() noexcept override { return S_OK; }

private:
    Derived& self() noexcept { return *static_cast<Derived*>(this); }
};

template <class Derived>
class PersistPropertyBagImpl : public IPersistPropertyBag {
public:
    using Interface = IPersistPropertyBag;

    STDMETHODIMP GetClassID(CLSID* clsid) noexcept override {
        if (!clsid) return E_POINTER;
        *clsid = Derived::class_id();
        return S_OK;
    }
    STDMETHODIMP InitNew() noexcept override {
        self().set_dirty(false);
        return S_OK;
    }
    // Reads every entry of the map that the bag holds, converted to the
    // entry's type. A property the bag lacks keeps its value; one that does
    // not convert keeps its value too and is reported to the error log.
    // Whatever else the bag holds is never asked for.
    STDMETHODIMP Load(IPropertyBag* bag, IErrorLog* errorLog) noexcept override {
        if (!bag) return E_POINTER;
        for (const auto& e : Derived::property_map()) {
            Variant value;
            HRESULT hr = bag->Read(e.name, value.ptr(), errorLog);
            if (FAILED(hr)) continue;
            hr = ::VariantChangeType(value.ptr(), value.ptr(), 0, e.type);
            if (SUCCEEDED(hr)) hr = e.put(self(), value.get());
            if (FAILED(hr) && errorLog) {
                EXCEPINFO info{};
                info.scode = hr;
                errorLog->AddError(e.name, &info);
            }
        }
        return S_OK;
    }
    STDMETHODIMP Save(IPropertyBag* bag, BOOL clearDirty, BOOL) noexcept override {
        if (!bag) return E_POINTER;
        for (const auto& e : Derived::property_map()) {
            Variant value;
            COMFW_RETURN_IF_FAILED(e.get(self(), value.ptr()));
            COMFW_RETURN_IF_FAILED(bag->Write(e.name, value.ptr()));
        }
        if (clearDirty) self().set_dirty(false);
        return S_OK;
    }

private:
    Derived& self() noexcept { return *static_cast<Derived*>(this); }
};

}  // namespace comfw
