#include "comfw/connectionPoint.h"

#include <new>

#include "comfw/enumerator.h"

namespace comfw {

ConnectionPoint::~ConnectionPoint() {
    for (IUnknown* sink : slots_) {
        if (sink) sink->Release();
    }
}

STDMETHODIMP ConnectionPoint::QueryInterface(REFIID riid, void** ppv) noexcept {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!::IsEqualIID(riid, IID_IUnknown) && !::IsEqualIID(riid, IID_IConnectionPoint)) return E_NOINTERFACE;
    *ppv = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP ConnectionPoint::GetConnectionInterface(IID* iid) noexcept {
    if (!iid) return E_POINTER;
    *iid = iid_;
    return S_OK;
}

STDMETHODIMP ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** out) noexcept {
    if (!out) return E_POINTER;
    *out = container_;
    container_->AddRef();
    return S_OK;
}

STDMETHODIMP ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) noexcept {
    if (!cookie) return E_POINTER;
    *cookie = 0;
    if (!sink) return E_POINTER;
    IUnknown* events = nullptr;
    const HRESULT hr = sink->QueryInterface(iid_, reinterpret_cast<void**>(&events));
    if (hr == E_NOINTERFACE) return CONNECT_E_CANNOTCONNECT;
    if (FAILED(hr)) return hr;

    size_t index = 0;
    while (index < slots_.size() && slots_[index]) ++index;
    if (index == slots_.size()) {
        try {
            slots_.resize(slots_.empty() ? 4 : slots_.size() * 2, nullptr);
        } catch (const std::bad_alloc&) {
            events->Release();
            return CONNECT_E_ADVISELIMIT;
        }
    }
    slots_[index] = events;
    *cookie = static_cast<DWORD>(index + 1);
    return S_OK;
}

STDMETHODIMP ConnectionPoint::Unadvise(DWORD cookie) noexcept {
    if (cookie == 0 || cookie > slots_.size() || !slots_[cookie - 1]) return CONNECT_E_NOCONNECTION;
    IUnknown* sink = slots_[cookie - 1];
    slots_[cookie - 1] = nullptr;
    sink->Release();
    return S_OK;
}

STDMETHODIMP ConnectionPoint::EnumConnections(IEnumConnections** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    using Enum = Enumerator<IEnumConnections, CONNECTDATA>;
    ComPtr<Enum> e;
    try {
        std::vector<CONNECTDATA> items;
        for (size_t i = 0; i < slots_.size(); ++i) {
            if (slots_[i]) items.push_back(CONNECTDATA{slots_[i], static_cast<DWORD>(i + 1)});
        }
        const HRESULT hr = Enum::Make(e, std::move(items));
        if (FAILED(hr)) return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    *out = e.detach();
    return S_OK;
}

STDMETHODIMP SingleConnectionPointContainer::EnumConnectionPoints(IEnumConnectionPoints** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    using Enum = Enumerator<IEnumConnectionPoints, IConnectionPoint*>;
    ComPtr<Enum> e;
    try {
        const HRESULT hr = Enum::Make(e, std::vector<IConnectionPoint*>{&point_});
        if (FAILED(hr)) return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    *out = e.detach();
    return S_OK;
}

STDMETHODIMP SingleConnectionPointContainer::FindConnectionPoint(REFIID riid, IConnectionPoint** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!::IsEqualIID(riid, point_.event_iid())) return CONNECT_E_NOCONNECTION;
    *out = &point_;
    point_.AddRef();
    return S_OK;
}

}  // namespace comfw
