// The COM framework: identity and counting, aggregation, owners, connection
// point slots. Window binding is exercised by the embedding tests' control.
#include <gtest/gtest.h>

#include "comfw/bstr.h"
#include "comfw/classFactory.h"
#include "comfw/comObject.h"
#include "comfw/connectionPoint.h"
#include "comfw/dispatch.h"
#include "comfw/variant.h"

using comfw::ComPtr;

// An event dispinterface of the tests' own, so that a sink can answer it.
struct IProbeEvents : IDispatch {};
__CRT_UUID_DECL(IProbeEvents, 0x6a1f3c2e, 0x0b7d, 0x4e55, 0x9c, 0x41, 0x2d, 0x8e, 0x7a, 0x90, 0xb3, 0x11)

namespace {

// An object with two interfaces, one of which implies a base interface.
class Probe : public comfw::ComObject<Probe, IProvideClassInfo2, IOleWindow> {
public:
    static int alive;
    Probe() { ++alive; }
    ~Probe() override { --alive; }
    STDMETHODIMP GetClassInfo(ITypeInfo**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetGUID(DWORD, GUID*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetWindow(HWND*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP ContextSensitiveHelp(BOOL) noexcept override { return S_OK; }
};
int Probe::alive = 0;

// A minimal outer object that aggregates a Probe.
class Outer final : public IUnknown {
public:
    ULONG refs = 1;
    IUnknown* inner = nullptr;
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override {
        if (IsEqualIID(riid, IID_IUnknown)) { *ppv = this; AddRef(); return S_OK; }
        return inner->QueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() noexcept override { return --refs; }
};

class Sink : public comfw::ComObject<Sink, comfw::DispatchByIdOnly<IProbeEvents>> {
public:
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) noexcept override { return S_OK; }
};

const IID kEventsIid = __uuidof(IProbeEvents);
class Container : public comfw::ComObject<Container, comfw::ConnectionPointContainerImpl<&kEventsIid>> {};

}  // namespace

TEST(ComObject, QueryInterfaceKeepsIdentityCountsAndDestroysAtZero) {
    {
        ComPtr<Probe> probe;
        ASSERT_EQ(S_OK, Probe::Make(probe));
        ComPtr<IUnknown> viaInfo, viaWindow;
        ComPtr<IProvideClassInfo2> info;
        ComPtr<IOleWindow> window;
        ASSERT_EQ(S_OK, probe.query(info));
        ASSERT_EQ(S_OK, probe.query(window));
        ASSERT_EQ(S_OK, info->QueryInterface(IID_IUnknown, viaInfo.put_void()));
        ASSERT_EQ(S_OK, window->QueryInterface(IID_IUnknown, viaWindow.put_void()));
        EXPECT_EQ(viaInfo.get(), viaWindow.get());
        EXPECT_EQ(5u, probe->ref_count());

        // A base interface is answered through the interface that derives from it.
        ComPtr<IProvideClassInfo> base;
        ASSERT_EQ(S_OK, probe.query(base));
        EXPECT_EQ(static_cast<IProvideClassInfo*>(info.get()), base.get());

        void* out = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(E_NOINTERFACE, probe->QueryInterface(IID_IDispatch, &out));
        EXPECT_EQ(nullptr, out);
        EXPECT_EQ(E_POINTER, probe->QueryInterface(IID_IUnknown, nullptr));
        window.put();  // an owner releases before handing out its slot
        EXPECT_EQ(5u, probe->ref_count());
        EXPECT_EQ(1, Probe::alive);
    }
    EXPECT_EQ(0, Probe::alive);
}

TEST(ComObject, ClassFactoryAggregatesWithDelegatingUnknown) {
    ComPtr<comfw::ClassFactory<Probe>> factory;
    ASSERT_EQ(S_OK, comfw::ClassFactory<Probe>::Make(factory));
    Outer outer;
    void* p = nullptr;
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(&outer, IID_IOleWindow, &p));
    EXPECT_EQ(nullptr, p);
    ASSERT_EQ(S_OK, factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)));

    // Interfaces of the inner object count on, and answer IUnknown as, the outer.
    IOleWindow* window = nullptr;
    ASSERT_EQ(S_OK, outer.inner->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(&window)));
    EXPECT_EQ(2u, outer.refs);
    IUnknown* identity = nullptr;
    ASSERT_EQ(S_OK, window->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)));
    EXPECT_EQ(static_cast<IUnknown*>(&outer), identity);
    identity->Release();
    window->Release();
    EXPECT_EQ(1u, outer.refs);
    outer.inner->Release();
    EXPECT_EQ(0, Probe::alive);
}

TEST(Owners, BstrAndVariantPutReleaseTheOldValue) {
    comfw::Bstr text;
    ASSERT_EQ(S_OK, comfw::Bstr::FromText(L"first", text));
    BSTR* slot = text.put();
    EXPECT_EQ(nullptr, *slot);  // the old string is gone before the address is handed out
    *slot = SysAllocString(L"second");
    SysFreeString(text.detach());
    EXPECT_TRUE(text.is_null());
    ASSERT_EQ(S_OK, comfw::Bstr::FromText(nullptr, text));
    EXPECT_TRUE(text.is_null());

    comfw::Variant v = comfw::Variant::OwnBstr(SysAllocString(L"x"));
    EXPECT_EQ(VT_EMPTY, v.put()->vt);
}

TEST(ConnectionPoint, SlotsGrowByDoublingCookiesAreIndexPlusOneAndSinksAreReleased) {
    ComPtr<Container> container;
    ASSERT_EQ(S_OK, Container::Make(container));
    ComPtr<IConnectionPoint> point;
    EXPECT_EQ(CONNECT_E_NOCONNECTION, container->FindConnectionPoint(IID_IDispatch, point.put()));
    ASSERT_EQ(S_OK, container->FindConnectionPoint(kEventsIid, point.put()));

    // A sink without the event interface is refused and not kept.
    ComPtr<Probe> wrong;
    ASSERT_EQ(S_OK, Probe::Make(wrong));
    DWORD refused = 99;
    EXPECT_EQ(CONNECT_E_CANNOTCONNECT, point->Advise(wrong->identity(), &refused));
    EXPECT_EQ(0u, refused);
    EXPECT_EQ(1u, wrong->ref_count());

    comfw::ConnectionPoint& cp = container->connection_point();
    ComPtr<Sink> sinks[5];
    for (DWORD i = 0, cookie = 0; i < 5; ++i) {
        ASSERT_EQ(S_OK, Sink::Make(sinks[i]));
        ASSERT_EQ(S_OK, point->Advise(sinks[i]->identity(), &cookie));
        EXPECT_EQ(i + 1, cookie);
        EXPECT_EQ(i < 4 ? 4u : 8u, cp.slot_count());
    }

    // A freed slot is reused first; the array never shrinks.
    ASSERT_EQ(S_OK, point->Unadvise(2));
    EXPECT_EQ(1u, sinks[1]->ref_count());
    EXPECT_EQ(nullptr, cp.slot(1));
    DWORD again = 0;
    ASSERT_EQ(S_OK, point->Advise(sinks[1]->identity(), &again));
    EXPECT_EQ(2u, again);
    EXPECT_EQ(8u, cp.slot_count());
    EXPECT_EQ(nullptr, cp.slot(100));
    for (DWORD bad : {0, 9, 7})  // none, beyond the slots, an empty slot
        EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(bad)) << bad;

    ComPtr<IEnumConnections> connections;
    ASSERT_EQ(S_OK, point->EnumConnections(connections.put()));
    CONNECTDATA data[8] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, connections->Next(8, data, &fetched));
    EXPECT_EQ(5u, fetched);
    for (ULONG i = 0; i < fetched; ++i) data[i].pUnk->Release();
    connections.reset();
    for (DWORD c = 1; c <= 5; ++c) EXPECT_EQ(S_OK, point->Unadvise(c));
    for (auto& s : sinks) EXPECT_EQ(1u, s->ref_count());
}
