// ComObject<Derived, Bases...>: reference counting and QueryInterface for an
// object that implements the interfaces in Bases. QueryInterface is a fold over
// the list in its order; every answer carries an added reference and the same
// IUnknown identity. Objects made for an outer object are aggregated: their
// IUnknown delegates to the outer one and the outer one holds the inner
// (non-delegating) IUnknown.
//
// Threading, for every object of the framework: an object lives in the
// single-threaded apartment of the thread that made it, and COM delivers
// every call on it there, the releases of its remote clients included (the
// apartment's stub manager runs on that thread; a client process that dies
// without releasing leaves its references held, it never releases them from
// elsewhere). So the count is a plain integer, not an atomic one.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <oleidl.h>
#include <objsafe.h>
#include <new>
#include <cstddef>
#include <type_traits>
#include <utility>

#include "comfw/comPtr.h"
#include "comfw/module.h"

namespace comfw {

template <class...>
struct TypeList {};

// A list entry is either an interface or an implementation mixin that names
// the interface it implements as `Interface`.
template <class T, class = void>
struct InterfaceOf { using type = T; };
template <class T>
struct InterfaceOf<T, std::void_t<typename T::Interface>> { using type = typename T::Interface; };

// Interfaces that an interface derives from and that QueryInterface answers
// through it.
template <class I>
struct InterfaceBases {
    using type = std::conditional_t<std::is_base_of_v<IDispatch, I> && !std::is_same_v<IDispatch, I>,
                                    TypeList<IDispatch>, TypeList<>>;
};
template <> struct InterfaceBases<IViewObjectEx> { using type = TypeList<IViewObject2, IViewObject>; };
template <> struct InterfaceBases<IViewObject2> { using type = TypeList<IViewObject>; };
template <> struct InterfaceBases<IOleInPlaceObjectWindowless> { using type = TypeList<IOleInPlaceObject, IOleWindow>; };
template <> struct InterfaceBases<IOleInPlaceObject> { using type = TypeList<IOleWindow>; };
template <> struct InterfaceBases<IOleInPlaceActiveObject> { using type = TypeList<IOleWindow>; };
template <> struct InterfaceBases<IPersistStreamInit> { using type = TypeList<IPersist>; };
template <> struct InterfaceBases<IPersistStorage> { using type = TypeList<IPersist>; };
template <> struct InterfaceBases<IPersistPropertyBag> { using type = TypeList<IPersist>; };
template <> struct InterfaceBases<IProvideClassInfo2> { using type = TypeList<IProvideClassInfo>; };
// Container-side interfaces.
template <> struct InterfaceBases<IOleContainer> { using type = TypeList<IParseDisplayName>; };
template <> struct InterfaceBases<IOleInPlaceSite> { using type = TypeList<IOleWindow>; };
template <> struct InterfaceBases<IOleInPlaceSiteEx> { using type = TypeList<IOleInPlaceSite, IOleWindow>; };
template <> struct InterfaceBases<IOleInPlaceUIWindow> { using type = TypeList<IOleWindow>; };
template <> struct InterfaceBases<IOleInPlaceFrame> { using type = TypeList<IOleInPlaceUIWindow, IOleWindow>; };

namespace detail {

template <class I, class Base, class Self>
bool AnswerIf(REFIID riid, Self* self, void** ppv) noexcept {
    if (!::IsEqualIID(riid, __uuidof(I))) return false;
    *ppv = static_cast<I*>(static_cast<Base*>(self));
    return true;
}

template <class Base, class Self, class... Implied>
bool AnswerImplied(REFIID riid, Self* self, void** ppv, TypeList<Implied...>*) noexcept {
    (void)riid; (void)self; (void)ppv;
    return (AnswerIf<Implied, Base>(riid, self, ppv) || ...);
}

template <class Base, class Self>
bool Answer(REFIID riid, Self* self, void** ppv) noexcept {
    using I = typename InterfaceOf<Base>::type;
    using Implied = typename InterfaceBases<I>::type;
    return AnswerIf<I, Base>(riid, self, ppv) ||
           AnswerImplied<Base>(riid, self, ppv, static_cast<Implied*>(nullptr));
}

template <class First, class...>
struct FirstOf { using type = First; };

}  // namespace detail

template <class Derived, class... Bases>
class ComObject : public Bases... {
    static_assert(sizeof...(Bases) > 0, "a COM object implements at least one interface");
    using Primary = typename detail::FirstOf<Bases...>::type;

public:
    // Makes a stand-alone object; `out` holds the only reference.
    template <class... Args>
    static HRESULT Make(ComPtr<Derived>& out, Args&&... args) noexcept {
        out.reset();
        Derived* object = new (std::nothrow) Derived(std::forward<Args>(args)...);
        if (!object) return E_OUTOFMEMORY;
        out = ComPtr<Derived>(object);
        return S_OK;
    }

    // What a class factory does: a stand-alone object queried for riid, or an
    // aggregated one whose inner IUnknown goes to the outer object.
    static HRESULT CreateComInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer && !::IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
        Derived* object = new (std::nothrow) Derived();
        if (!object) return E_OUTOFMEMORY;
        object->outer_ = outer;
        object->InnerAddRef();
        const HRESULT hr = outer ? (object->InnerAddRef(), *ppv = &object->inner_, S_OK)
                                 : object->InnerQueryInterface(riid, ppv);
        object->InnerRelease();
        return hr;
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override {
        return outer_ ? outer_->QueryInterface(riid, ppv) : InnerQueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override {
        return outer_ ? outer_->AddRef() : InnerAddRef();
    }
    STDMETHODIMP_(ULONG) Release() noexcept override {
        return outer_ ? outer_->Release() : InnerRelease();
    }

    // The object's own identity, never the outer one.
    IUnknown* identity() noexcept { return static_cast<IUnknown*>(static_cast<Primary*>(this)); }
    // The controlling IUnknown: the outer object's when aggregated.
    IUnknown* controlling_unknown() noexcept { return outer_ ? outer_ : identity(); }
    ULONG ref_count() const noexcept { return refs_; }

protected:
    ComObject() noexcept { Module::Lock(); }
    virtual ~ComObject() { Module::Unlock(); }
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT InnerQueryInterface(REFIID riid, void** ppv) noexcept {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (::IsEqualIID(riid, IID_IUnknown)) {
            *ppv = outer_ ? static_cast<IUnknown*>(&inner_) : identity();
        } else if (!(detail::Answer<Bases>(riid, this, ppv) || ...)) {
            return E_NOINTERFACE;
        }
        static_cast<IUnknown*>(*ppv)->AddRef();
        return S_OK;
    }
    ULONG InnerAddRef() noexcept { return ++refs_; }
    ULONG InnerRelease() noexcept {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

private:
    // The non-delegating IUnknown that an outer object holds.
    struct Inner final : IUnknown {
        explicit Inner(ComObject* owner) noexcept : owner_(owner) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override { return owner_->InnerQueryInterface(riid, ppv); }
        STDMETHODIMP_(ULONG) AddRef() noexcept override { return owner_->InnerAddRef(); }
        STDMETHODIMP_(ULONG) Release() noexcept override { return owner_->InnerRelease(); }
        ComObject* owner_;
    };

    ULONG refs_ = 0;
    IUnknown* outer_ = nullptr;
    Inner inner_{this};
};

}  // namespace comfw
