// The COM framework: identity and counting, aggregation, owners, connection
// point slots and window binding.
#include <gtest/gtest.h>

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include "comfw/bstr.h"
#include "comfw/classFactory.h"
#include "comfw/comObject.h"
#include "comfw/connectionPoint.h"
#include "comfw/variant.h"
#include "comfw/window.h"

using comfw::ComPtr;

namespace {

// An object with two interfaces, one of which implies a base interface.
class Probe : public comfw::ComObject<Probe, IPersistStreamInit, IOleWindow> {
public:
    static int alive;
    Probe() { ++alive; }
    ~Probe() override { --alive; }
    STDMETHODIMP GetClassID(CLSID*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP IsDirty() noexcept override { return S_FALSE; }
    STDMETHODIMP Load(IStream*) noexcept override { return S_OK; }
    STDMETHODIMP Save(IStream*, BOOL) noexcept override { return S_OK; }
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP InitNew() noexcept override { return S_OK; }
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

// A page-side sink that counts references and answers a chosen event IID.
class SinkProbe final : public IDispatch {
public:
    explicit SinkProbe(REFIID answers) : iid_(answers) {}
    ULONG refs = 0;
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override {
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, iid_)) { *ppv = this; AddRef(); return S_OK; }
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() noexcept override { return --refs; }
    STDMETHODIMP GetTypeInfoCount(UINT*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) noexcept override {
        return S_OK;
    }
private:
    IID iid_;
};

// {6A1F3C2E-0B7D-4E55-9C41-2D8E7A90B311}
const IID kEventsIid = {0x6a1f3c2e, 0x0b7d, 0x4e55, {0x9c, 0x41, 0x2d, 0x8e, 0x7a, 0x90, 0xb3, 0x11}};

class Container : public comfw::ComObject<Container, comfw::ConnectionPointContainerImpl<&kEventsIid>> {};

}  // namespace

TEST(ComObject, QueryInterfaceKeepsIdentityAndCounts) {
    ComPtr<Probe> probe;
    ASSERT_EQ(S_OK, Probe::Make(probe));
    EXPECT_EQ(1u, probe->ref_count());

    ComPtr<IUnknown> viaPersist, viaWindow;
    ComPtr<IPersistStreamInit> persist;
    ASSERT_EQ(S_OK, probe.query(persist));
    ComPtr<IOleWindow> window;
    ASSERT_EQ(S_OK, probe.query(window));
    ASSERT_EQ(S_OK, persist->QueryInterface(IID_IUnknown, viaPersist.put_void()));
    ASSERT_EQ(S_OK, window->QueryInterface(IID_IUnknown, viaWindow.put_void()));
    EXPECT_EQ(viaPersist.get(), viaWindow.get());
    EXPECT_EQ(5u, probe->ref_count());

    // A base interface is answered through the interface that derives from it.
    ComPtr<IPersist> base;
    ASSERT_EQ(S_OK, probe.query(base));
    EXPECT_EQ(static_cast<IPersist*>(persist.get()), base.get());
}

TEST(ComObject, UnknownInterfaceNullsTheOutputAndDestroysAtZero) {
    {
        ComPtr<Probe> probe;
        ASSERT_EQ(S_OK, Probe::Make(probe));
        void* out = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(E_NOINTERFACE, probe->QueryInterface(IID_IDispatch, &out));
        EXPECT_EQ(nullptr, out);
        EXPECT_EQ(E_POINTER, probe->QueryInterface(IID_IUnknown, nullptr));
        EXPECT_EQ(1, Probe::alive);
    }
    EXPECT_EQ(0, Probe::alive);
}

TEST(ComObject, ClassFactoryAggregatesWithDelegatingUnknown) {
    ComPtr<comfw::ClassFactory<Probe>> factory;
    ASSERT_EQ(S_OK, comfw::ClassFactory<Probe>::Make(factory));

    Outer outer;
    void* p = nullptr;
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(&outer, IID_IPersist, &p));
    EXPECT_EQ(nullptr, p);
    ASSERT_EQ(S_OK, factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)));
    ASSERT_EQ(1, Probe::alive);

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

TEST(Owners, PutReleasesOldValueAndDetachHandsOver) {
    comfw::Bstr text;
    ASSERT_EQ(S_OK, comfw::Bstr::FromText(L"first", text));
    BSTR* slot = text.put();
    EXPECT_EQ(nullptr, *slot);  // the old string is gone before the address is handed out
    *slot = SysAllocString(L"second");
    EXPECT_EQ(L"second", text.str());
    BSTR raw = text.detach();
    EXPECT_TRUE(text.is_null());
    SysFreeString(raw);

    comfw::Bstr nul;
    ASSERT_EQ(S_OK, comfw::Bstr::FromText(nullptr, nul));
    EXPECT_TRUE(nul.is_null());

    comfw::Variant v = comfw::Variant::OwnBstr(SysAllocString(L"x"));
    EXPECT_EQ(VT_BSTR, v.vt());
    EXPECT_EQ(VT_EMPTY, v.put()->vt);

    ComPtr<Probe> probe;
    ASSERT_EQ(S_OK, Probe::Make(probe));
    {
        comfw::Variant holder = comfw::Variant::Dispatch(nullptr);
        ComPtr<IPersist> persist;
        ASSERT_EQ(S_OK, probe.query(persist));
        EXPECT_EQ(2u, probe->ref_count());
        persist.put();  // releases before handing out the slot
        EXPECT_EQ(1u, probe->ref_count());
    }
}

TEST(ConnectionPoint, SlotsGrowByDoublingAndCookiesAreIndexPlusOne) {
    ComPtr<Container> container;
    ASSERT_EQ(S_OK, Container::Make(container));
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(S_OK, container->FindConnectionPoint(kEventsIid, point.put()));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, container->FindConnectionPoint(IID_IDispatch, point.put()));
    ASSERT_EQ(S_OK, container->FindConnectionPoint(kEventsIid, point.put()));

    comfw::ConnectionPoint& cp = container->connection_point();
    EXPECT_EQ(0u, cp.slot_count());
    SinkProbe sinks[5] = {SinkProbe(kEventsIid), SinkProbe(kEventsIid), SinkProbe(kEventsIid),
                          SinkProbe(kEventsIid), SinkProbe(kEventsIid)};
    DWORD cookies[5] = {};
    for (int i = 0; i < 4; ++i) ASSERT_EQ(S_OK, point->Advise(&sinks[i], &cookies[i]));
    EXPECT_EQ(4u, cp.slot_count());
    ASSERT_EQ(S_OK, point->Advise(&sinks[4], &cookies[4]));
    EXPECT_EQ(8u, cp.slot_count());
    for (DWORD i = 0; i < 5; ++i) EXPECT_EQ(i + 1, cookies[i]);
    EXPECT_EQ(1u, sinks[0].refs);

    // A freed slot is reused first; the array never shrinks.
    ASSERT_EQ(S_OK, point->Unadvise(2));
    EXPECT_EQ(0u, sinks[1].refs);
    EXPECT_EQ(nullptr, cp.slot(1));
    DWORD again = 0;
    ASSERT_EQ(S_OK, point->Advise(&sinks[1], &again));
    EXPECT_EQ(2u, again);
    EXPECT_EQ(8u, cp.slot_count());
    EXPECT_EQ(nullptr, cp.slot(100));

    EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(0));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(9));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(7));  // an empty slot

    ComPtr<IEnumConnections> connections;
    ASSERT_EQ(S_OK, point->EnumConnections(connections.put()));
    CONNECTDATA data[8] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, connections->Next(8, data, &fetched));
    EXPECT_EQ(5u, fetched);
    for (ULONG i = 0; i < fetched; ++i) data[i].pUnk->Release();
    connections.reset();

    for (DWORD c = 1; c <= 5; ++c) EXPECT_EQ(S_OK, point->Unadvise(c));
    for (auto& s : sinks) EXPECT_EQ(0u, s.refs);
}

TEST(ConnectionPoint, SinkWithoutTheEventInterfaceIsRefused) {
    ComPtr<Container> container;
    ASSERT_EQ(S_OK, Container::Make(container));
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(S_OK, container->FindConnectionPoint(kEventsIid, point.put()));
    SinkProbe wrong(IID_IPersist);
    DWORD cookie = 99;
    EXPECT_EQ(CONNECT_E_CANNOTCONNECT, point->Advise(&wrong, &cookie));
    EXPECT_EQ(0u, cookie);
    EXPECT_EQ(0u, wrong.refs);
}

namespace {
class TestWindow : public comfw::Window<TestWindow> {
public:
    int sizes = 0;
    bool finalSeen = false;
    LRESULT HandleMessage(UINT msg, WPARAM, LPARAM, bool& handled) noexcept {
        if (msg == WM_SIZE) { ++sizes; handled = true; }
        return 0;
    }
    void OnFinalMessage(HWND) noexcept { finalSeen = true; }
};
}  // namespace

TEST(Window, BindsAtCreationAndUnbindsAtFinalMessage) {
    TestWindow w;
    RECT r{0, 0, 100, 50};
    HWND hwnd = w.CreateWindowFor(nullptr, &r, L"probe", WS_OVERLAPPEDWINDOW, 0);
    ASSERT_NE(nullptr, hwnd);
    EXPECT_EQ(hwnd, w.hwnd());
    const int before = w.sizes;
    ::SetWindowPos(hwnd, nullptr, 0, 0, 200, 80, SWP_NOZORDER | SWP_NOMOVE);
    EXPECT_GT(w.sizes, before);
    ::DestroyWindow(hwnd);
    EXPECT_EQ(nullptr, w.hwnd());
    EXPECT_TRUE(w.finalSeen);
}
