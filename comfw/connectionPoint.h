// One connection point for one outgoing dispinterface, and the container that
// offers it. Connected sinks live in slots: 4 at the first connection, doubled
// whenever all are full, never shrunk. A cookie is a slot index plus one.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>
#include <vector>

#include "comfw/comObject.h"

namespace comfw {

class ConnectionPoint final : public IConnectionPoint {
public:
    ConnectionPoint(IConnectionPointContainer* container, REFIID eventIid) noexcept
        : container_(container), iid_(eventIid) {}
    ~ConnectionPoint();
    ConnectionPoint(const ConnectionPoint&) = delete;
    ConnectionPoint& operator=(const ConnectionPoint&) = delete;

    // Its lifetime is the container's.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override;
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return container_->AddRef(); }
    STDMETHODIMP_(ULONG) Release() noexcept override { return container_->Release(); }

    STDMETHODIMP GetConnectionInterface(IID* iid) noexcept override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** out) noexcept override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) noexcept override;
    STDMETHODIMP Unadvise(DWORD cookie) noexcept override;
    STDMETHODIMP EnumConnections(IEnumConnections** out) noexcept override;

    // The firing side: the number of slots now, and the sink in one slot
    // (null for an empty slot or an index at or beyond the number of slots).
    size_t slot_count() const noexcept { return slots_.size(); }
    IUnknown* slot(size_t index) const noexcept { return index < slots_.size() ? slots_[index] : nullptr; }
    const IID& event_iid() const noexcept { return iid_; }

private:
    IConnectionPointContainer* container_;
    IID iid_;
    std::vector<IUnknown*> slots_;
};

// The container side, shared by every instantiation below.
class SingleConnectionPointContainer : public IConnectionPointContainer {
public:
    using Interface = IConnectionPointContainer;

    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** out) noexcept override;
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** out) noexcept override;

    ConnectionPoint& connection_point() noexcept { return point_; }

protected:
    explicit SingleConnectionPointContainer(REFIID eventIid) noexcept : point_(this, eventIid) {}

private:
    ConnectionPoint point_;
};

// Mixin for an object with one connection point for the dispinterface *EventIid.
template <const IID* EventIid>
class ConnectionPointContainerImpl : public SingleConnectionPointContainer {
protected:
    ConnectionPointContainerImpl() noexcept : SingleConnectionPointContainer(*EventIid) {}
};

}  // namespace comfw
