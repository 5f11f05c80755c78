// comfw's embedding support on a probe control made of its OLE control mixins, hosted by a hand-written container
// that checks the call order a browser relies on; persistence and the object model on the same probe.
#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>
#include <olectl.h>
#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "comfw/bstr.h"
#include "comfw/classFactory.h"
#include "comfw/oleControl.h"
#include "comfw/scopeExit.h"
#include "comfw/uniqueAny.h"
#include "comfw/variant.h"
#include "tests/consoleTestSupport.h"
#include "tests/oleControlProbe.h"

using comfw::ComPtr;
using zova::test::Made;
using zova::test::PropertyBagProbe;

namespace {

// What the container and the control saw, in order, and the stubs the test lets be called.
std::vector<std::string> g_seen;
std::set<std::string> g_expected;
void Note(const std::string& what) { g_seen.push_back(what); }
size_t Position(const std::string& what) { return std::find(g_seen.begin(), g_seen.end(), what) - g_seen.begin(); }
size_t Count(const std::string& what) { return std::count(g_seen.begin(), g_seen.end(), what); }
void Expect(std::initializer_list<const char*> stubs) { g_expected.insert(stubs.begin(), stubs.end()); }
// A strict stub's call: it fails the test unless expected, and is noted as seen.
HRESULT Stub(const std::string& name, HRESULT answer = S_OK) {
    if (!g_expected.count(name)) ADD_FAILURE() << "unexpected call " << name;
    Note(name);
    return answer;
}
// One whose result is a null object.
template <class T>
HRESULT Stub(const std::string& name, HRESULT answer, T** out) {
    *out = nullptr;
    return Stub(name, answer);
}

constexpr COLORREF kProbeColor = RGB(0, 128, 255);
constexpr DWORD kRegisteredMiscStatus = 131473;

template <class I>
ComPtr<I> Query(IUnknown* object) {
    ComPtr<I> p;
    object->QueryInterface(__uuidof(I), p.put_void());
    return p;
}

class ProbeControl
    : public comfw::ComObject<
          ProbeControl, comfw::DispatchFromTypeLib<IOleControlProbe>, comfw::ViewObjectExImpl<ProbeControl>,
          comfw::OleInPlaceObjectWindowlessImpl<ProbeControl>, comfw::OleInPlaceActiveObjectImpl<ProbeControl>,
          comfw::OleControlImpl<ProbeControl>, comfw::OleObjectImpl<ProbeControl>,
          comfw::PersistStreamInitImpl<ProbeControl>, comfw::SpecifyPropertyPagesImpl<ProbeControl>,
          comfw::QuickActivateImpl<ProbeControl>, comfw::PersistStorageImpl<ProbeControl>,
          comfw::DataObjectImpl<ProbeControl>,
          comfw::ProvideClassInfo2Impl<&CLSID_OleControlProbe, &DIID__IOleControlProbeEvents>,
          comfw::ConnectionPointContainerImpl<&DIID__IOleControlProbeEvents>, comfw::ObjectSafetyImpl<ProbeControl>,
          comfw::PersistPropertyBagImpl<ProbeControl>>,
      public comfw::OleControlBase<ProbeControl> {
public:
    static int alive;
    ProbeControl() { ++alive; }
    ~ProbeControl() override { --alive; }
    static const CLSID& class_id() noexcept { return CLSID_OleControlProbe; }
    static comfw::PropertyMap<ProbeControl> property_map() noexcept {
        static const comfw::PropertyEntry<ProbeControl> entries[] = {
            comfw::ExtentWidthProperty<ProbeControl>(L"_cx"), comfw::ExtentHeightProperty<ProbeControl>(L"_cy")};
        return comfw::PropertyMap<ProbeControl>(entries);
    }

    LRESULT OnControlMessage(UINT msg, WPARAM, LPARAM, bool& handled) noexcept {
        if (msg == WM_DESTROY) Note("WM_DESTROY");
        handled = msg == WM_DESTROY;
        return 0;
    }
    HRESULT OnDraw(HDC dc, const RECT& bounds) noexcept {
        lastBounds = bounds;
        const comfw::unique_hbrush brush(::CreateSolidBrush(kProbeColor));
        ::FillRect(dc, &bounds, brush.get());
        return S_OK;
    }

    RECT lastBounds{};
};
int ProbeControl::alive = 0;

class Site final : public comfw::ComObject<Site, IOleClientSite, IOleInPlaceSite, IOleControlSite, IOleInPlaceFrame> {
public:
    HWND parent = nullptr;
    RECT pos{10, 20, 210, 140}, clip{0, 0, 400, 300};
    ComPtr<IOleInPlaceActiveObject> active;

    // IOleClientSite
    STDMETHODIMP SaveObject() noexcept override { return Stub("SaveObject"); }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** m) noexcept override { return Stub("GetMoniker", E_NOTIMPL, m); }
    STDMETHODIMP GetContainer(IOleContainer** c) noexcept override { return Stub("GetContainer", E_NOINTERFACE, c); }
    STDMETHODIMP ShowObject() noexcept override { return Stub("ShowObject"); }
    STDMETHODIMP OnShowWindow(BOOL) noexcept override { return Stub("OnShowWindow"); }
    STDMETHODIMP RequestNewObjectLayout() noexcept override { return Stub("RequestNewObjectLayout", E_NOTIMPL); }
    // IOleWindow, IOleInPlaceSite
    STDMETHODIMP GetWindow(HWND* w) noexcept override {
        *w = parent;
        return Stub("GetWindow");
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) noexcept override { return Stub("ContextSensitiveHelp", E_NOTIMPL); }
    STDMETHODIMP CanInPlaceActivate() noexcept override { return Stub("CanInPlaceActivate"); }
    STDMETHODIMP OnInPlaceActivate() noexcept override { return Stub("OnInPlaceActivate"); }
    STDMETHODIMP OnUIActivate() noexcept override { return Stub("OnUIActivate"); }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** f, IOleInPlaceUIWindow** doc, LPRECT p, LPRECT c,
                                  LPOLEINPLACEFRAMEINFO info) noexcept override {
        Stub("GetWindowContext");
        EXPECT_EQ(sizeof(OLEINPLACEFRAMEINFO), info->cb);  // the caller says which version it holds
        *f = this;
        AddRef();
        *doc = nullptr;
        *p = pos;
        *c = clip;
        *info = OLEINPLACEFRAMEINFO{sizeof(*info), FALSE, parent, nullptr, 0};
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) noexcept override { return Stub("Scroll", E_NOTIMPL); }
    STDMETHODIMP OnUIDeactivate(BOOL) noexcept override { return Stub("OnUIDeactivate"); }
    STDMETHODIMP OnInPlaceDeactivate() noexcept override { return Stub("OnInPlaceDeactivate"); }
    STDMETHODIMP DiscardUndoState() noexcept override { return Stub("DiscardUndoState"); }
    STDMETHODIMP DeactivateAndUndo() noexcept override { return Stub("DeactivateAndUndo"); }
    STDMETHODIMP OnPosRectChange(LPCRECT) noexcept override { return Stub("OnPosRectChange"); }
    // IOleControlSite
    STDMETHODIMP OnControlInfoChanged() noexcept override { return Stub("OnControlInfoChanged"); }
    STDMETHODIMP LockInPlaceActive(BOOL) noexcept override { return Stub("LockInPlaceActive"); }
    STDMETHODIMP GetExtendedControl(IDispatch** d) noexcept override {
        return Stub("GetExtendedControl", E_NOTIMPL, d);
    }
    STDMETHODIMP TransformCoords(POINTL*, POINTF*, DWORD) noexcept override {
        return Stub("TransformCoords", E_NOTIMPL);
    }
    STDMETHODIMP TranslateAccelerator(MSG*, DWORD) noexcept override { return Stub("SiteAccelerator", S_FALSE); }
    STDMETHODIMP OnFocus(BOOL got) noexcept override { return Stub(got ? "OnFocus_TRUE" : "OnFocus_FALSE"); }
    STDMETHODIMP ShowPropertyFrame() noexcept override { return Stub("ShowPropertyFrame", E_NOTIMPL); }
    // IOleInPlaceUIWindow, IOleInPlaceFrame
    STDMETHODIMP GetBorder(LPRECT) noexcept override { return Stub("GetBorder", INPLACE_E_NOTOOLSPACE); }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) noexcept override {
        return Stub("RequestBorderSpace", INPLACE_E_NOTOOLSPACE);
    }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS space) noexcept override {
        Stub("SetBorderSpace");
        EXPECT_EQ(nullptr, space);  // a control without tools asks for none
        return S_OK;
    }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) noexcept override {
        Stub("SetActiveObject");
        active = ComPtr<IOleInPlaceActiveObject>(object);
        return S_OK;
    }
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) noexcept override { return Stub("InsertMenus", E_NOTIMPL); }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) noexcept override { return Stub("SetMenu"); }
    STDMETHODIMP RemoveMenus(HMENU) noexcept override { return Stub("RemoveMenus"); }
    STDMETHODIMP SetStatusText(LPCOLESTR) noexcept override { return Stub("SetStatusText"); }
    STDMETHODIMP EnableModeless(BOOL) noexcept override { return Stub("EnableModeless"); }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) noexcept override { return Stub("FrameAccelerator", S_FALSE); }
};

// Also what QuickActivate hands over (IAdviseSinkEx). Notifications are about the content aspect, all of it.
struct AdviseSinkProbe final : comfw::ComObject<AdviseSinkProbe, IAdviseSinkEx> {
    STDMETHODIMP_(void) OnDataChange(FORMATETC*, STGMEDIUM*) noexcept override { Stub("OnDataChange"); }
    STDMETHODIMP_(void) OnViewChange(DWORD aspect, LONG index) noexcept override {
        Stub("OnViewChange");
        EXPECT_EQ(static_cast<DWORD>(DVASPECT_CONTENT), aspect);
        EXPECT_EQ(-1, index);
    }
    STDMETHODIMP_(void) OnRename(IMoniker*) noexcept override { Stub("OnRename"); }
    STDMETHODIMP_(void) OnSave() noexcept override { Stub("OnSave"); }
    STDMETHODIMP_(void) OnClose() noexcept override { Stub("OnClose"); }
    STDMETHODIMP_(void) OnViewStatusChange(DWORD) noexcept override { Stub("OnViewStatusChange"); }
};

// A page-side sink of the probe's events: the probe raises none here.
struct EventSinkProbe final : comfw::ComObject<EventSinkProbe, comfw::DispatchByIdOnly<_IOleControlProbeEvents>> {
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) noexcept override {
        return Stub("EventInvoke");
    }
};

// Comparable forms of sizes and rectangles, printed on failure.
std::pair<LONG, LONG> SizeOf(LONG cx, LONG cy) { return {cx, cy}; }
template <class S> std::pair<LONG, LONG> SizeOf(const S& s) { return {s.cx, s.cy}; }
std::vector<LONG> RectOf(const RECT& r) { return {r.left, r.top, r.right, r.bottom}; }
using zova::test::PlaceInParent;

class HandWrittenContainer : public ::testing::Test {
protected:
    void SetUp() override {
        g_seen.clear();
        g_expected.clear();
        ASSERT_TRUE(host);
        ASSERT_EQ(S_OK, Site::Make(site));
        ASSERT_EQ(S_OK, ProbeControl::Make(probe));
        site->parent = host.get();
        object = Query<IOleObject>(probe->identity());
    }
    void TearDown() override {
        // Whatever state the test left, closing may leave UI activity and in-place activity.
        Expect({"OnUIDeactivate", "SetActiveObject", "OnInPlaceDeactivate", "OnClose"});
        object->Close(OLECLOSE_NOSAVE);
        object->SetClientSite(nullptr);
        object.reset();
        // Every reference the control took on the container's objects is back.
        EXPECT_EQ(1u, site->ref_count());
        EXPECT_EQ(1u, probe->ref_count());
        probe.reset();
        EXPECT_EQ(0, ProbeControl::alive);
    }
    // What a container that honours OLEMISC_SETCLIENTSITEFIRST does: site, the page's parameters, then the verb.
    void SiteLoadAndActivate(LONG verb) {
        Expect({"GetWindow", "CanInPlaceActivate", "OnInPlaceActivate", "GetWindowContext", "ShowObject"});
        if (verb == OLEIVERB_UIACTIVATE) Expect({"OnUIActivate", "SetActiveObject", "SetBorderSpace", "OnFocus_TRUE"});
        ASSERT_EQ(S_OK, object->SetClientSite(site.get()));
        const ComPtr<PropertyBagProbe> page = Made<PropertyBagProbe>();
        page->Set({{L"_cx", L"5000"}, {L"_cy", L"2500"}});
        ASSERT_EQ(S_OK, Query<IPersistPropertyBag>(object.get())->Load(page.get(), page.get()));
        ASSERT_EQ(S_OK, DoVerb(verb));
        ASSERT_TRUE(probe->hwnd());
    }
    HRESULT DoVerb(LONG verb) { return object->DoVerb(verb, nullptr, site.get(), 0, host.get(), &site->pos); }

    comfw::unique_hwnd host{::CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPED | WS_VISIBLE, 0, 0, 400, 300,
                                              nullptr, nullptr, nullptr, nullptr)};
    ComPtr<Site> site;
    ComPtr<ProbeControl> probe;
    ComPtr<IOleObject> object;
};

}  // namespace

TEST_F(HandWrittenContainer, SitesLoadsActivatesAndAnswersVerbs) {
    SiteLoadAndActivate(OLEIVERB_INPLACEACTIVATE);

    // The site agreed, was told, gave its window context, ShowObject last; in-place activation is not UI activation.
    EXPECT_LT(Position("CanInPlaceActivate"), Position("OnInPlaceActivate"));
    EXPECT_LT(Position("OnInPlaceActivate"), Position("GetWindowContext"));
    EXPECT_LT(Position("GetWindowContext"), Position("ShowObject"));
    EXPECT_EQ(0u, Count("OnUIActivate"));
    EXPECT_TRUE(probe->in_place_active());

    // The window: a child of the site's window, at the site's rectangle, with exactly the control style.
    const HWND child = probe->hwnd();
    EXPECT_EQ(host.get(), ::GetParent(child));
    EXPECT_EQ(0x56000000u, static_cast<DWORD>(::GetWindowLongW(child, GWL_STYLE)));
    EXPECT_EQ(RectOf(site->pos), PlaceInParent(child));

    EXPECT_EQ(OLEOBJ_S_INVALIDVERB, DoVerb(7));
    EXPECT_EQ(E_NOTIMPL, DoVerb(OLEIVERB_OPEN));
    ASSERT_EQ(S_OK, DoVerb(OLEIVERB_HIDE));
    EXPECT_FALSE(::IsWindowVisible(child));
    ASSERT_EQ(S_OK, DoVerb(OLEIVERB_SHOW));
    EXPECT_TRUE(::IsWindowVisible(child));

    // A page torn down destroys the container's window first: the control's goes with it and the control lets go.
    host.reset();
    EXPECT_EQ(1u, Count("WM_DESTROY"));
    EXPECT_EQ(nullptr, probe->hwnd());
}

// Close destroys the window (WM_DESTROY reaching the hook first), tells the site and advise sinks, and saves a dirty
// control if asked. (Without saving: TearDown, where SaveObject is not expected though the control is still dirty.)
TEST_F(HandWrittenContainer, CloseDestroysTheWindowAndSavesIfAsked) {
    SiteLoadAndActivate(OLEIVERB_INPLACEACTIVATE);
    const ComPtr<AdviseSinkProbe> sink = Made<AdviseSinkProbe>();
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, object->Advise(sink.get(), &cookie));
    SIZEL bigger{6000, 3000};
    ASSERT_EQ(S_OK, object->SetExtent(DVASPECT_CONTENT, &bigger));

    Expect({"OnInPlaceDeactivate", "OnClose", "SaveObject", "OnSave"});
    ASSERT_EQ(S_OK, object->Close(OLECLOSE_SAVEIFDIRTY));
    EXPECT_EQ(1u, Count("OnInPlaceDeactivate"));
    EXPECT_EQ(nullptr, probe->hwnd());
    EXPECT_FALSE(probe->in_place_active());
    EXPECT_LT(Position("WM_DESTROY"), Position("OnInPlaceDeactivate"));
    EXPECT_EQ(1u, Count("SaveObject"));
    EXPECT_EQ(1u, Count("OnSave"));
    EXPECT_EQ(1u, Count("OnClose"));
    EXPECT_EQ(S_OK, object->Unadvise(cookie));
    EXPECT_EQ(1u, sink->ref_count());
}

TEST_F(HandWrittenContainer, UiActivationGoesThroughSiteAndFrame) {
    SiteLoadAndActivate(OLEIVERB_UIACTIVATE);
    EXPECT_LT(Position("OnInPlaceActivate"), Position("OnUIActivate"));
    EXPECT_LT(Position("OnUIActivate"), Position("ShowObject"));
    ASSERT_TRUE(site->active);
    EXPECT_EQ(probe->identity(), Query<IUnknown>(site->active.get()).get());
    EXPECT_TRUE(probe->ui_active());
    ASSERT_EQ(S_OK, DoVerb(OLEIVERB_UIACTIVATE));  // finds it active already
    EXPECT_EQ(1u, Count("OnUIActivate"));

    ComPtr<IOleInPlaceObject> inPlace = Query<IOleInPlaceObject>(object.get());
    Expect({"OnUIDeactivate", "OnFocus_TRUE", "OnFocus_FALSE"});
    ASSERT_EQ(S_OK, inPlace->UIDeactivate());
    EXPECT_EQ(1u, Count("OnUIDeactivate"));
    EXPECT_FALSE(site->active);
    // A mouse click, or the focus, makes it UI-active again; focus is reported.
    ::SendMessageW(probe->hwnd(), WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(host.get()),
                   MAKELPARAM(HTCLIENT, WM_LBUTTONDOWN));
    EXPECT_EQ(2u, Count("OnUIActivate"));
    EXPECT_TRUE(probe->ui_active());
    ASSERT_EQ(S_OK, inPlace->UIDeactivate());
    ::SendMessageW(probe->hwnd(), WM_SETFOCUS, 0, 0);
    EXPECT_EQ(3u, Count("OnUIActivate"));
    EXPECT_NE(0u, Count("OnFocus_TRUE"));
    ::SendMessageW(probe->hwnd(), WM_KILLFOCUS, 0, 0);
    EXPECT_NE(0u, Count("OnFocus_FALSE"));

    // Deactivating in place leaves UI activity, then destroys the window; the site still known, a verb makes a new one.
    Expect({"OnInPlaceDeactivate"});
    ASSERT_EQ(S_OK, inPlace->InPlaceDeactivate());
    EXPECT_EQ(1u, Count("OnInPlaceDeactivate"));
    EXPECT_EQ(3u, Count("OnUIDeactivate"));
    EXPECT_LT(Position("WM_DESTROY"), Position("OnInPlaceDeactivate"));
    EXPECT_EQ(nullptr, probe->hwnd());
    EXPECT_FALSE(site->active);
    ASSERT_EQ(S_OK, DoVerb(OLEIVERB_SHOW));
    EXPECT_TRUE(::IsWindow(probe->hwnd()));
}

TEST_F(HandWrittenContainer, ViewDrawsThroughTheHookAndNotifiesItsSink) {
    SiteLoadAndActivate(OLEIVERB_INPLACEACTIVATE);
    ::RedrawWindow(probe->hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    RECT client{};
    ::GetClientRect(probe->hwnd(), &client);
    EXPECT_EQ(RectOf(client), RectOf(probe->lastBounds));  // WM_PAINT of the window

    // IViewObject::Draw into a bitmap, as a container prints.
    const comfw::unique_window_dc screen(nullptr);
    const comfw::unique_hdc dc(::CreateCompatibleDC(screen.get()));
    const comfw::unique_hbitmap bitmap(::CreateCompatibleBitmap(screen.get(), 32, 32));
    const HGDIOBJ old = ::SelectObject(dc.get(), bitmap.get());
    ComPtr<IViewObjectEx> view = Query<IViewObjectEx>(object.get());
    const RECTL bounds{0, 0, 32, 32};
    EXPECT_EQ(S_OK,
              view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc.get(), &bounds, nullptr, nullptr, 0));
    EXPECT_EQ(kProbeColor, ::GetPixel(dc.get(), 16, 16));
    ::SelectObject(dc.get(), old);

    // A new extent reaches the view sink.
    const ComPtr<AdviseSinkProbe> sink = Made<AdviseSinkProbe>();
    ASSERT_EQ(S_OK, view->SetAdvise(DVASPECT_CONTENT, 0, sink.get()));
    SIZEL bigger{7000, 3500};
    Expect({"OnViewChange"});
    ASSERT_EQ(S_OK, object->SetExtent(DVASPECT_CONTENT, &bigger));
    EXPECT_EQ(1u, Count("OnViewChange"));
    EXPECT_EQ(S_OK, view->SetAdvise(DVASPECT_CONTENT, 0, nullptr));
    EXPECT_EQ(1u, sink->ref_count());
}

TEST_F(HandWrittenContainer, QuickActivateSetsSiteAndSinksAndAnswersTheStatus) {
    // The probe's miscellaneous status for the content aspect, as a registration would write it.
    wchar_t clsid[40];
    ::StringFromGUID2(CLSID_OleControlProbe, clsid, 40);
    const std::wstring key = std::wstring(L"Software\\Classes\\CLSID\\") + clsid;
    const std::wstring misc = std::to_wstring(kRegisteredMiscStatus);
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, (key + L"\\MiscStatus\\1").c_str(), nullptr, REG_SZ,
                                               misc.c_str(), (misc.size() + 1) * sizeof(wchar_t)));
    const auto unregister = comfw::scope_exit([&] { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str()); });
    const ComPtr<AdviseSinkProbe> viewSink = Made<AdviseSinkProbe>();
    const ComPtr<EventSinkProbe> events = Made<EventSinkProbe>();
    QACONTAINER container{sizeof(container), site.get(), viewSink.get(), nullptr, events->identity(),
                          QACONTAINER_USERMODE, 0, RGB(1, 2, 3)};
    QACONTROL control{sizeof(control)};
    ASSERT_EQ(S_OK, Query<IQuickActivate>(object.get())->QuickActivate(&container, &control));
    EXPECT_EQ(static_cast<IOleClientSite*>(site.get()), probe->client_site());
    EXPECT_EQ(static_cast<IAdviseSink*>(viewSink.get()), probe->view_sink());
    EXPECT_EQ(kRegisteredMiscStatus, control.dwMiscStatus);
    EXPECT_EQ(ProbeControl::kViewStatus, control.dwViewStatus);

    // The event sink is held by the connection point, and its cookie there lets it go.
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(S_OK, Query<IConnectionPointContainer>(object.get())
                        ->FindConnectionPoint(DIID__IOleControlProbeEvents, point.put()));
    EXPECT_EQ(2u, events->ref_count());
    EXPECT_EQ(S_OK, point->Unadvise(control.dwEventCookie));
    EXPECT_EQ(1u, events->ref_count());
}

class Persistence : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, ProbeControl::Make(saved));
        ASSERT_EQ(S_OK, ProbeControl::Make(loaded));
        SIZEL e{3210, 1234};
        Query<IOleObject>(saved->identity())->SetExtent(DVASPECT_CONTENT, &e);
    }
    void TearDown() override {
        saved.reset();
        loaded.reset();
        EXPECT_EQ(0, ProbeControl::alive);
    }
    ComPtr<ProbeControl> saved, loaded;
};

// (IPersistStorage writes the same format into its "Contents" stream.)
TEST_F(Persistence, StreamRoundTripClearsDirtyAndRefusesBrokenMaps) {
    ComPtr<IPersistStreamInit> out = Query<IPersistStreamInit>(saved->identity());
    EXPECT_EQ(S_OK, out->IsDirty());
    ComPtr<IStream> stream, junk;
    ASSERT_EQ(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
    ASSERT_EQ(S_OK, out->Save(stream.get(), TRUE));
    EXPECT_EQ(S_FALSE, out->IsDirty());
    ULARGE_INTEGER max{}, end{};
    ASSERT_EQ(S_OK, out->GetSizeMax(&max));
    const LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_CUR, &end);
    EXPECT_EQ(max.QuadPart, end.QuadPart);
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    ComPtr<IPersistStreamInit> in = Query<IPersistStreamInit>(loaded->identity());
    ASSERT_EQ(S_OK, in->Load(stream.get()));
    EXPECT_EQ(SizeOf(3210, 1234), SizeOf(loaded->extent()));
    // Bytes that are not a saved property map are refused, a truncated one too.
    ::CreateStreamOnHGlobal(nullptr, TRUE, junk.put());
    junk->Write("not a property map at all", 26, nullptr);
    junk->Seek(zero, STREAM_SEEK_SET, nullptr);
    EXPECT_EQ(STG_E_INVALIDHEADER, in->Load(junk.get()));
    stream->SetSize(ULARGE_INTEGER{{static_cast<DWORD>(end.QuadPart - 3), 0}});
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    EXPECT_EQ(STG_E_READFAULT, in->Load(stream.get()));
}

TEST_F(Persistence, PropertyBagSavesTheMapAndLoadsOnlyIt) {
    const ComPtr<PropertyBagProbe> bag = Made<PropertyBagProbe>(), page = Made<PropertyBagProbe>();
    ASSERT_EQ(S_OK, Query<IPersistPropertyBag>(saved->identity())->Save(bag.get(), TRUE, TRUE));
    ASSERT_EQ(2u, bag->values.size());
    EXPECT_EQ(3210u, bag->values[L"_cx"].get().ulVal);
    EXPECT_EQ(1234u, bag->values[L"_cy"].get().ulVal);

    // Page parameters come as text, converted to the entry's type; others are never read. One that does not convert
    // (or no unsigned number holds) keeps the old value and goes to the error log, if any; a missing one, silently.
    page->Set({{L"_cx", L"4321"}, {L"_cy", L"876"}, {L"color", L"red"}});
    ComPtr<IPersistPropertyBag> in = Query<IPersistPropertyBag>(loaded->identity());
    ASSERT_EQ(S_OK, in->Load(page.get(), page.get()));
    EXPECT_EQ(SizeOf(4321, 876), SizeOf(loaded->extent()));
    EXPECT_EQ((std::vector<std::wstring>{L"_cx", L"_cy"}), page->reads);
    EXPECT_TRUE(page->errors.empty());
    page->values.clear();
    page->Set({{L"_cx", L"wide"}});
    ASSERT_EQ(S_OK, in->Load(page.get(), page.get()));
    page->Set({{L"_cy", L"-5"}});
    ASSERT_EQ(S_OK, in->Load(page.get(), nullptr));  // as a browser loads the page's params
    EXPECT_EQ(SizeOf(4321, 876), SizeOf(loaded->extent()));
    EXPECT_EQ((std::vector<std::pair<std::wstring, SCODE>>{{L"_cx", DISP_E_TYPEMISMATCH}}), page->errors);
}

namespace {

// A minimal outer object that aggregates a probe.
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

}  // namespace

TEST(ComObject, QueryInterfaceKeepsIdentityCountsAndDestroysAtZero) {
    {
        ComPtr<ProbeControl> probe;
        ASSERT_EQ(S_OK, ProbeControl::Make(probe));
        const ComPtr<IProvideClassInfo2> info = Query<IProvideClassInfo2>(probe->identity());
        ComPtr<IOleWindow> window = Query<IOleWindow>(probe->identity());
        const ComPtr<IUnknown> viaInfo = Query<IUnknown>(info.get()), viaWindow = Query<IUnknown>(window.get());
        ASSERT_TRUE(viaInfo);
        EXPECT_EQ(viaInfo.get(), viaWindow.get());
        EXPECT_EQ(5u, probe->ref_count());

        // A base interface is answered through the interface that derives from it.
        ComPtr<IProvideClassInfo> base;
        ASSERT_EQ(S_OK, probe.query(base));
        EXPECT_EQ(static_cast<IProvideClassInfo*>(info.get()), base.get());

        void* out = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(E_NOINTERFACE, probe->QueryInterface(IID_IPersistFile, &out));
        EXPECT_EQ(nullptr, out);
        EXPECT_EQ(E_POINTER, probe->QueryInterface(IID_IUnknown, nullptr));
        window.put();  // an owner releases before handing out its slot
        EXPECT_EQ(5u, probe->ref_count());
        EXPECT_EQ(1, ProbeControl::alive);
    }
    EXPECT_EQ(0, ProbeControl::alive);
}

TEST(ComObject, ClassFactoryAggregatesWithDelegatingUnknown) {
    ComPtr<comfw::ClassFactory<ProbeControl>> factory;
    ASSERT_EQ(S_OK, comfw::ClassFactory<ProbeControl>::Make(factory));
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
    EXPECT_EQ(0, ProbeControl::alive);
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

TEST(ObjectSafety, RecordsOptionsForInterfacesTheControlHas) {
    const ComPtr<ProbeControl> probe = Made<ProbeControl>();
    ComPtr<IObjectSafety> safety;
    ASSERT_EQ(S_OK, probe->QueryInterface(IID_IObjectSafety, safety.put_void()));
    const auto options = [&](REFIID iid) {  // "status supported/enabled"
        DWORD supported = 9, enabled = 9;
        const HRESULT hr = safety->GetInterfaceSafetyOptions(iid, &supported, &enabled);
        return std::to_string(hr) + " " + std::to_string(supported) + "/" + std::to_string(enabled);
    };
    EXPECT_EQ("0 3/0", options(IID_IDispatch));
    EXPECT_EQ(S_OK, safety->SetInterfaceSafetyOptions(IID_IDispatch, 3, 3));
    EXPECT_EQ("0 3/3", options(IID_IDispatch));
    EXPECT_EQ(S_OK, safety->SetInterfaceSafetyOptions(IID_IPersistPropertyBag, 2, 0));
    EXPECT_EQ("0 3/1", options(IID_IDispatch));  // only the masked bits change, for every interface
    EXPECT_EQ(E_FAIL, safety->SetInterfaceSafetyOptions(IID_IDispatch, 7, 3));  // a bit beyond the supported ones
    EXPECT_EQ(E_NOINTERFACE, safety->SetInterfaceSafetyOptions(IID_IPersistFile, 3, 3));
    EXPECT_EQ(std::to_string(E_NOINTERFACE) + " 0/0", options(IID_IPersistFile));
    DWORD enabled = 0;
    EXPECT_EQ(E_POINTER, safety->GetInterfaceSafetyOptions(IID_IDispatch, nullptr, &enabled));
}

// How many slots there are and how far a firing reaches: PageEvents in control_tests.
TEST(ConnectionPoint, CookiesAreIndexPlusOneFreedSlotsComeFirstAndSinksAreReleased) {
    const ComPtr<ProbeControl> probe = Made<ProbeControl>();
    ComPtr<IConnectionPointContainer> container = Query<IConnectionPointContainer>(probe->identity());
    ComPtr<IConnectionPoint> point;
    EXPECT_EQ(CONNECT_E_NOCONNECTION, container->FindConnectionPoint(IID_IDispatch, point.put()));
    ASSERT_EQ(S_OK, container->FindConnectionPoint(DIID__IOleControlProbeEvents, point.put()));

    // A sink without the event interface is refused and not kept.
    const ComPtr<AdviseSinkProbe> wrong = Made<AdviseSinkProbe>();
    DWORD refused = 99;
    EXPECT_EQ(CONNECT_E_CANNOTCONNECT, point->Advise(wrong->identity(), &refused));
    EXPECT_EQ(0u, refused);
    EXPECT_EQ(1u, wrong->ref_count());

    ComPtr<EventSinkProbe> sinks[5];
    for (DWORD i = 0, cookie = 0; i < 5; ++i) {
        sinks[i] = Made<EventSinkProbe>();
        ASSERT_EQ(S_OK, point->Advise(sinks[i]->identity(), &cookie));
        EXPECT_EQ(i + 1, cookie);
    }
    ASSERT_EQ(S_OK, point->Unadvise(2));
    EXPECT_EQ(1u, sinks[1]->ref_count());
    DWORD again = 0;
    ASSERT_EQ(S_OK, point->Advise(sinks[1]->identity(), &again));
    EXPECT_EQ(2u, again);
    for (DWORD bad : {0, 9, 7})  // none, beyond the eight slots, an empty slot
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
