// Embedding support of comfw: a probe control made of the OLE control mixins,
// hosted by a hand-written container that checks the call order a browser
// relies on, and by the platform's own ATL container.
#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>
#include <olectl.h>
#include <objsafe.h>
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "comfw/bstr.h"
#include "comfw/oleControl.h"
#include "comfw/variant.h"
#include "tests/oleControlProbe.h"

using comfw::ComPtr;

namespace {

// What the container and the control saw, in order.
std::vector<std::string> g_journal;
void Note(const std::string& what) { g_journal.push_back(what); }
size_t Position(const std::string& what) {
    return static_cast<size_t>(std::find(g_journal.begin(), g_journal.end(), what) - g_journal.begin());
}
bool Saw(const std::string& what) { return Position(what) < g_journal.size(); }
size_t Count(const std::string& what) {
    return static_cast<size_t>(std::count(g_journal.begin(), g_journal.end(), what));
}

constexpr COLORREF kProbeColor = RGB(0, 128, 255);
constexpr DWORD kRegisteredMiscStatus = 131473;

// The control under test: every embedding mixin, the shared base, and hooks
// that record what reaches them.
class ProbeControl
    : public comfw::ComObject<ProbeControl,
                              comfw::DispatchFromTypeLib<IOleControlProbe>,
                              comfw::ViewObjectExImpl<ProbeControl>,
                              comfw::OleInPlaceObjectWindowlessImpl<ProbeControl>,
                              comfw::OleInPlaceActiveObjectImpl<ProbeControl>,
                              comfw::OleControlImpl<ProbeControl>,
                              comfw::OleObjectImpl<ProbeControl>,
                              comfw::PersistStreamInitImpl<ProbeControl>,
                              comfw::SpecifyPropertyPagesImpl<ProbeControl>,
                              comfw::QuickActivateImpl<ProbeControl>,
                              comfw::PersistStorageImpl<ProbeControl>,
                              comfw::DataObjectImpl<ProbeControl>,
                              comfw::ProvideClassInfo2Impl<&CLSID_OleControlProbe, &DIID__IOleControlProbeEvents>,
                              comfw::ConnectionPointContainerImpl<&DIID__IOleControlProbeEvents>,
                              comfw::ObjectSafetyImpl<ProbeControl>,
                              comfw::PersistPropertyBagImpl<ProbeControl>>,
      public comfw::OleControlBase<ProbeControl> {
public:
    static int alive;
    ProbeControl() { ++alive; }
    ~ProbeControl() override { --alive; }

    static const CLSID& class_id() noexcept { return CLSID_OleControlProbe; }
    static comfw::PropertyMap<ProbeControl> property_map() noexcept;

    STDMETHODIMP get_width(LONG* value) noexcept override {
        if (!value) return E_POINTER;
        *value = extent().cx;
        return S_OK;
    }

    LRESULT OnControlMessage(UINT msg, WPARAM wp, LPARAM lp, bool& handled) noexcept {
        switch (msg) {
        case WM_DESTROY:
            Note("WM_DESTROY");
            handled = true;
            return 0;
        case WM_SIZE:
            sizes.push_back(SIZE{LOWORD(lp), HIWORD(lp)});
            handled = true;
            return 0;
        case WM_ERASEBKGND: {
            RECT r{};
            ::GetClientRect(hwnd(), &r);
            ::FillRect(reinterpret_cast<HDC>(wp), &r, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
            handled = true;
            return 1;
        }
        default:
            return 0;
        }
    }
    HRESULT OnDraw(HDC dc, const RECT& bounds) noexcept {
        ++draws;
        lastBounds = bounds;
        HBRUSH brush = ::CreateSolidBrush(kProbeColor);
        ::FillRect(dc, &bounds, brush);
        ::DeleteObject(brush);
        return S_OK;
    }
    void OnAmbientChanged(DISPID id) noexcept { ambientChanges.push_back(id); }

    int draws = 0;
    RECT lastBounds{};
    std::vector<SIZE> sizes;
    std::vector<DISPID> ambientChanges;
};
int ProbeControl::alive = 0;

// The two extent entries, noting whether the client site was already set
// when a value was loaded.
constexpr auto kWidth = comfw::ExtentWidthProperty<ProbeControl>(L"_cx");
constexpr auto kHeight = comfw::ExtentHeightProperty<ProbeControl>(L"_cy");
HRESULT PutWidth(ProbeControl& c, const VARIANT& v) {
    Note(c.client_site() ? "load _cx with site" : "load _cx without site");
    return kWidth.put(c, v);
}
comfw::PropertyMap<ProbeControl> ProbeControl::property_map() noexcept {
    static const comfw::PropertyEntry<ProbeControl> entries[] = {
        {L"_cx", VT_UI4, kWidth.get, &PutWidth}, kHeight};
    return comfw::PropertyMap<ProbeControl>(entries);
}

// ---- The hand-written container ----

class Frame final : public comfw::ComObject<Frame, IOleInPlaceFrame> {
public:
    HWND window = nullptr;
    ComPtr<IOleInPlaceActiveObject> active;

    STDMETHODIMP GetWindow(HWND* w) noexcept override { *w = window; return S_OK; }
    STDMETHODIMP ContextSensitiveHelp(BOOL) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetBorder(LPRECT) noexcept override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) noexcept override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) noexcept override { return S_OK; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) noexcept override {
        Note(object ? "frame: active object set" : "frame: active object cleared");
        active = ComPtr<IOleInPlaceActiveObject>(object);
        return S_OK;
    }
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) noexcept override { return S_OK; }
    STDMETHODIMP RemoveMenus(HMENU) noexcept override { return S_OK; }
    STDMETHODIMP SetStatusText(LPCOLESTR) noexcept override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) noexcept override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) noexcept override { return S_FALSE; }
};

class Site final : public comfw::ComObject<Site, IOleClientSite, IOleInPlaceSite, IOleControlSite,
                                           comfw::DispatchByIdOnly<IDispatch>> {
public:
    HWND parent = nullptr;
    RECT pos{};
    RECT clip{};
    ComPtr<Frame> frame;

    // IOleClientSite
    STDMETHODIMP SaveObject() noexcept override { Note("SaveObject"); return S_OK; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** m) noexcept override { *m = nullptr; return E_NOTIMPL; }
    STDMETHODIMP GetContainer(IOleContainer** c) noexcept override { *c = nullptr; return E_NOINTERFACE; }
    STDMETHODIMP ShowObject() noexcept override { Note("ShowObject"); return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) noexcept override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() noexcept override { return E_NOTIMPL; }
    // IOleWindow, IOleInPlaceSite
    STDMETHODIMP GetWindow(HWND* w) noexcept override { *w = parent; return S_OK; }
    STDMETHODIMP ContextSensitiveHelp(BOOL) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP CanInPlaceActivate() noexcept override { Note("CanInPlaceActivate"); return S_OK; }
    STDMETHODIMP OnInPlaceActivate() noexcept override { Note("OnInPlaceActivate"); return S_OK; }
    STDMETHODIMP OnUIActivate() noexcept override { Note("OnUIActivate"); return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** f, IOleInPlaceUIWindow** doc, LPRECT p, LPRECT c,
                                  LPOLEINPLACEFRAMEINFO info) noexcept override {
        Note("GetWindowContext");
        *f = frame.get();
        if (*f) (*f)->AddRef();
        *doc = nullptr;
        *p = pos;
        *c = clip;
        info->fMDIApp = FALSE;
        info->hwndFrame = parent;
        info->haccel = nullptr;
        info->cAccelEntries = 0;
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) noexcept override { Note("OnUIDeactivate"); return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() noexcept override { Note("OnInPlaceDeactivate"); return S_OK; }
    STDMETHODIMP DiscardUndoState() noexcept override { return S_OK; }
    STDMETHODIMP DeactivateAndUndo() noexcept override { return S_OK; }
    STDMETHODIMP OnPosRectChange(LPCRECT) noexcept override { return S_OK; }
    // IOleControlSite
    STDMETHODIMP OnControlInfoChanged() noexcept override { return S_OK; }
    STDMETHODIMP LockInPlaceActive(BOOL) noexcept override { return S_OK; }
    STDMETHODIMP GetExtendedControl(IDispatch** d) noexcept override { *d = nullptr; return E_NOTIMPL; }
    STDMETHODIMP TransformCoords(POINTL*, POINTF*, DWORD) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAccelerator(MSG*, DWORD) noexcept override { return S_FALSE; }
    STDMETHODIMP OnFocus(BOOL got) noexcept override { Note(got ? "OnFocus(TRUE)" : "OnFocus(FALSE)"); return S_OK; }
    STDMETHODIMP ShowPropertyFrame() noexcept override { return E_NOTIMPL; }
    // IDispatch: the ambient properties.
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                        UINT*) noexcept override {
        Note("ambient " + std::to_string(id));
        if (id == DISPID_AMBIENT_USERMODE) {
            result->vt = VT_BOOL;
            result->boolVal = VARIANT_FALSE;  // design mode: QuickActivate says otherwise below
            return S_OK;
        }
        return DISP_E_MEMBERNOTFOUND;
    }
};

// Also what QuickActivate hands over (IAdviseSinkEx).
class AdviseSinkProbe final : public comfw::ComObject<AdviseSinkProbe, IAdviseSinkEx> {
public:
    int viewChanges = 0, dataChanges = 0, saves = 0, closes = 0;
    DWORD lastTymed = TYMED_NULL;
    STDMETHODIMP_(void) OnDataChange(FORMATETC*, STGMEDIUM* medium) noexcept override {
        ++dataChanges;
        lastTymed = medium ? medium->tymed : static_cast<DWORD>(TYMED_NULL);
    }
    STDMETHODIMP_(void) OnViewChange(DWORD, LONG) noexcept override { ++viewChanges; }
    STDMETHODIMP_(void) OnRename(IMoniker*) noexcept override {}
    STDMETHODIMP_(void) OnSave() noexcept override { ++saves; }
    STDMETHODIMP_(void) OnClose() noexcept override { ++closes; }
    STDMETHODIMP_(void) OnViewStatusChange(DWORD) noexcept override {}
};

// A page-side event sink that answers the probe's event dispinterface.
class EventSinkProbe final : public IDispatch {
public:
    ULONG refs = 1;
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override {
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) &&
            !IsEqualIID(riid, DIID__IOleControlProbeEvents))
            return E_NOINTERFACE;
        *ppv = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() noexcept override { return --refs; }
    STDMETHODIMP GetTypeInfoCount(UINT*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) noexcept override {
        return S_OK;
    }
};

class PropertyBagProbe final : public comfw::ComObject<PropertyBagProbe, IPropertyBag> {
public:
    std::map<std::wstring, comfw::Variant> values;
    std::vector<std::wstring> reads;
    STDMETHODIMP Read(LPCOLESTR name, VARIANT* value, IErrorLog*) noexcept override {
        reads.push_back(name);
        auto it = values.find(name);
        if (it == values.end()) return E_INVALIDARG;
        return ::VariantCopy(value, const_cast<VARIANT*>(&it->second.get()));
    }
    STDMETHODIMP Write(LPCOLESTR name, VARIANT* value) noexcept override {
        return values[name].copy_from(*value);
    }
    void Set(const wchar_t* name, const wchar_t* text) {
        values[name] = comfw::Variant::OwnBstr(::SysAllocString(text));
    }
};

class ErrorLogProbe final : public comfw::ComObject<ErrorLogProbe, IErrorLog> {
public:
    std::vector<std::pair<std::wstring, SCODE>> errors;
    STDMETHODIMP AddError(LPCOLESTR name, EXCEPINFO* info) noexcept override {
        errors.emplace_back(name, info ? info->scode : S_OK);
        return S_OK;
    }
};

// The probe's class entries, as a registration would write them: the
// miscellaneous status, one verb, the user type names and the data format.
class ProbeClassRegistration : public ::testing::Environment {
public:
    void SetUp() override {
        wchar_t clsid[40];
        ::StringFromGUID2(CLSID_OleControlProbe, clsid, 40);
        key_ = std::wstring(L"Software\\Classes\\CLSID\\") + clsid;
        Set(L"", L"Ole Control Probe");
        Set(L"MiscStatus", L"0");
        Set(L"MiscStatus\\1", std::to_wstring(kRegisteredMiscStatus));
        Set(L"AuxUserType\\2", L"Probe");
        Set(L"Verb\\0", L"&Activate,0,2");
        Set(L"DataFormats\\GetSet\\0", L"3,1,32,1");
    }
    void TearDown() override { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, key_.c_str()); }

private:
    void Set(const std::wstring& sub, const std::wstring& value) {
        const std::wstring path = sub.empty() ? key_ : key_ + L"\\" + sub;
        HKEY k = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE,
                                                   nullptr, &k, nullptr));
        ::RegSetValueExW(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        ::RegCloseKey(k);
    }
    std::wstring key_;
};
const auto* const g_registration = ::testing::AddGlobalTestEnvironment(new ProbeClassRegistration);

// A visible top-level window for the containers to put the control in.
class HostWindow {
public:
    HostWindow(int width, int height) {
        static ATOM atom = [] {
            WNDCLASSW wc{};
            wc.lpfnWndProc = ::DefWindowProcW;
            wc.hInstance = ::GetModuleHandleW(nullptr);
            wc.lpszClassName = L"OleControlTestHost";
            return ::RegisterClassW(&wc);
        }();
        hwnd_ = ::CreateWindowExW(0, MAKEINTATOM(atom), L"host", WS_OVERLAPPED | WS_VISIBLE, 0, 0, width, height,
                                  nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    }
    ~HostWindow() { if (::IsWindow(hwnd_)) ::DestroyWindow(hwnd_); }
    HWND get() const { return hwnd_; }

private:
    HWND hwnd_;
};

// A child window's rectangle in its parent's client coordinates.
RECT RectInParent(HWND child) {
    RECT r{};
    ::GetWindowRect(child, &r);
    ::MapWindowPoints(HWND_DESKTOP, ::GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void PumpMessages() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

template <class I>
ComPtr<I> Query(IUnknown* object) {
    ComPtr<I> p;
    object->QueryInterface(__uuidof(I), p.put_void());
    return p;
}

bool SameObject(IUnknown* a, IUnknown* b) {
    ComPtr<IUnknown> ua = Query<IUnknown>(a), ub = Query<IUnknown>(b);
    return ua.get() == ub.get();
}

// A stream holding a saved probe of the given extent.
ComPtr<IStream> SavedProbe(LONG cx, LONG cy) {
    ComPtr<ProbeControl> source;
    ProbeControl::Make(source);
    source->set_extent(SIZEL{cx, cy});
    ComPtr<IStream> stream;
    ::CreateStreamOnHGlobal(nullptr, TRUE, stream.put());
    Query<IPersistStreamInit>(source->identity())->Save(stream.get(), TRUE);
    const LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    return stream;
}

class HandWrittenContainer : public ::testing::Test {
protected:
    void SetUp() override {
        g_journal.clear();
        ASSERT_TRUE(host.get());
        ASSERT_EQ(S_OK, Frame::Make(frame));
        ASSERT_EQ(S_OK, Site::Make(site));
        ASSERT_EQ(S_OK, ProbeControl::Make(probe));
        frame->window = host.get();
        site->parent = host.get();
        site->frame = frame;
        site->pos = RECT{10, 20, 210, 140};
        site->clip = RECT{0, 0, 400, 300};
        object = Query<IOleObject>(probe->identity());
        ASSERT_TRUE(object);
    }
    void TearDown() override {
        if (object) {
            object->Close(OLECLOSE_NOSAVE);
            object->SetClientSite(nullptr);
        }
        object.reset();
        site->frame.reset();
        // Every reference the control took on the container's objects is back.
        EXPECT_EQ(1u, site->ref_count());
        EXPECT_EQ(1u, frame->ref_count());
        EXPECT_EQ(1u, probe->ref_count());
        probe.reset();
        EXPECT_EQ(0, ProbeControl::alive);
    }
    // What a container that honours OLEMISC_SETCLIENTSITEFIRST does.
    void SiteLoadAndActivate(LONG verb) {
        ASSERT_EQ(S_OK, object->SetClientSite(site.get()));
        ASSERT_EQ(S_OK, Query<IPersistStreamInit>(object.get())->Load(SavedProbe(5000, 2500).get()));
        ASSERT_EQ(S_OK, object->DoVerb(verb, nullptr, site.get(), 0, host.get(), &site->pos));
        ASSERT_TRUE(probe->hwnd());
    }

    HostWindow host{400, 300};
    ComPtr<Frame> frame;
    ComPtr<Site> site;
    ComPtr<ProbeControl> probe;
    ComPtr<IOleObject> object;
};

}  // namespace

TEST_F(HandWrittenContainer, SitesLoadsActivatesMovesAndCloses) {
    DWORD misc = 0;
    ASSERT_EQ(S_OK, object->GetMiscStatus(DVASPECT_CONTENT, &misc));
    EXPECT_EQ(kRegisteredMiscStatus, misc);
    ASSERT_TRUE(misc & OLEMISC_SETCLIENTSITEFIRST);
    SiteLoadAndActivate(OLEIVERB_INPLACEACTIVATE);

    // The site was set before the properties loaded, and the values arrived.
    EXPECT_TRUE(Saw("load _cx with site"));
    EXPECT_FALSE(Saw("load _cx without site"));
    EXPECT_EQ(5000, probe->extent().cx);
    EXPECT_EQ(2500, probe->extent().cy);

    // The site agreed, was told, gave its window context; ShowObject comes last
    // and in-place activation alone does not make the control UI-active.
    EXPECT_LT(Position("CanInPlaceActivate"), Position("OnInPlaceActivate"));
    EXPECT_LT(Position("OnInPlaceActivate"), Position("GetWindowContext"));
    EXPECT_LT(Position("GetWindowContext"), Position("ShowObject"));
    EXPECT_FALSE(Saw("OnUIActivate"));
    EXPECT_TRUE(probe->in_place_active());

    // The window: a child of the site's window, at the site's rectangle, with
    // exactly the control style, under a generated class name.
    const HWND child = probe->hwnd();
    EXPECT_EQ(host.get(), ::GetParent(child));
    EXPECT_EQ(0x56000000u, static_cast<DWORD>(::GetWindowLongW(child, GWL_STYLE)));
    EXPECT_EQ(0u, static_cast<DWORD>(::GetWindowLongW(child, GWL_EXSTYLE)));
    const RECT placed = RectInParent(child);
    EXPECT_TRUE(::EqualRect(&placed, &site->pos));
    wchar_t className[64] = {};
    ::GetClassNameW(child, className, 64);
    EXPECT_EQ(0, wcsncmp(className, L"comfw:", 6)) << className;

    HWND fromObject = nullptr, fromActive = nullptr;
    EXPECT_EQ(S_OK, Query<IOleInPlaceObject>(object.get())->GetWindow(&fromObject));
    EXPECT_EQ(S_OK, Query<IOleInPlaceActiveObject>(object.get())->GetWindow(&fromActive));
    EXPECT_EQ(child, fromObject);
    EXPECT_EQ(child, fromActive);

    // SetObjectRects moves it; the control's own WM_SIZE handling sees the size.
    const RECT moved{30, 40, 130, 90};
    ASSERT_EQ(S_OK, Query<IOleInPlaceObject>(object.get())->SetObjectRects(&moved, &site->clip));
    const RECT now = RectInParent(child);
    EXPECT_TRUE(::EqualRect(&now, &moved));
    ASSERT_FALSE(probe->sizes.empty());
    EXPECT_EQ(100, probe->sizes.back().cx);
    EXPECT_EQ(50, probe->sizes.back().cy);

    // Close destroys the window (the control's hook sees WM_DESTROY first),
    // tells the site and the advise sinks.
    ComPtr<AdviseSinkProbe> sink;
    AdviseSinkProbe::Make(sink);
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, object->Advise(sink.get(), &cookie));
    ASSERT_EQ(S_OK, object->Close(OLECLOSE_NOSAVE));
    EXPECT_FALSE(::IsWindow(child));
    EXPECT_EQ(nullptr, probe->hwnd());
    EXPECT_FALSE(probe->in_place_active());
    EXPECT_LT(Position("WM_DESTROY"), Position("OnInPlaceDeactivate"));
    EXPECT_EQ(1, sink->closes);
    EXPECT_FALSE(Saw("SaveObject"));
    EXPECT_EQ(S_OK, object->Unadvise(cookie));
    EXPECT_EQ(1u, sink->ref_count());
}

TEST_F(HandWrittenContainer, UiActivationGoesThroughSiteAndFrame) {
    SiteLoadAndActivate(OLEIVERB_UIACTIVATE);
    EXPECT_LT(Position("OnInPlaceActivate"), Position("OnUIActivate"));
    EXPECT_LT(Position("OnUIActivate"), Position("ShowObject"));
    ASSERT_TRUE(frame->active);
    EXPECT_TRUE(SameObject(frame->active.get(), probe->identity()));
    EXPECT_TRUE(probe->ui_active());

    // A second request finds it active already.
    ASSERT_EQ(S_OK, object->DoVerb(OLEIVERB_UIACTIVATE, nullptr, site.get(), 0, host.get(), &site->pos));
    EXPECT_EQ(1u, Count("OnUIActivate"));

    ASSERT_EQ(S_OK, Query<IOleInPlaceObject>(object.get())->UIDeactivate());
    EXPECT_TRUE(Saw("OnUIDeactivate"));
    EXPECT_FALSE(frame->active);
    EXPECT_FALSE(probe->ui_active());
    EXPECT_TRUE(probe->in_place_active());

    // A mouse click on the window makes it UI-active again.
    ::SendMessageW(probe->hwnd(), WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(host.get()),
                   MAKELPARAM(HTCLIENT, WM_LBUTTONDOWN));
    EXPECT_EQ(2u, Count("OnUIActivate"));
    EXPECT_TRUE(probe->ui_active());

    // Deactivation in place leaves UI activity first and destroys the window.
    ASSERT_EQ(S_OK, Query<IOleInPlaceObject>(object.get())->InPlaceDeactivate());
    EXPECT_EQ(2u, Count("OnUIDeactivate"));
    EXPECT_LT(Position("WM_DESTROY"), Position("OnInPlaceDeactivate"));
    EXPECT_EQ(nullptr, probe->hwnd());
    EXPECT_FALSE(frame->active);

    // The site is still known: activation makes a new window.
    ASSERT_EQ(S_OK, object->DoVerb(OLEIVERB_SHOW, nullptr, site.get(), 0, host.get(), &site->pos));
    EXPECT_TRUE(::IsWindow(probe->hwnd()));
}

TEST_F(HandWrittenContainer, VerbsBeyondActivation) {
    SiteLoadAndActivate(OLEIVERB_PRIMARY);
    EXPECT_FALSE(Saw("OnUIActivate"));

    ASSERT_EQ(S_OK, object->DoVerb(OLEIVERB_HIDE, nullptr, site.get(), 0, host.get(), &site->pos));
    EXPECT_FALSE(::IsWindowVisible(probe->hwnd()));
    ASSERT_EQ(S_OK, object->DoVerb(OLEIVERB_SHOW, nullptr, site.get(), 0, host.get(), &site->pos));
    EXPECT_TRUE(::IsWindowVisible(probe->hwnd()));

    EXPECT_EQ(OLEOBJ_S_INVALIDVERB, object->DoVerb(7, nullptr, site.get(), 0, host.get(), &site->pos));
    EXPECT_EQ(E_NOTIMPL, object->DoVerb(OLEIVERB_OPEN, nullptr, site.get(), 0, host.get(), &site->pos));
    EXPECT_EQ(E_NOTIMPL, object->DoVerb(-42, nullptr, site.get(), 0, host.get(), &site->pos));
}

TEST_F(HandWrittenContainer, CloseLetsTheSiteSaveADirtyControl) {
    SiteLoadAndActivate(OLEIVERB_INPLACEACTIVATE);
    ComPtr<AdviseSinkProbe> sink;
    AdviseSinkProbe::Make(sink);
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, object->Advise(sink.get(), &cookie));
    SIZEL bigger{6000, 3000};
    ASSERT_EQ(S_OK, object->SetExtent(DVASPECT_CONTENT, &bigger));
    EXPECT_EQ(S_OK, Query<IPersistStreamInit>(object.get())->IsDirty());

    ASSERT_EQ(S_OK, object->Close(OLECLOSE_SAVEIFDIRTY));
    EXPECT_TRUE(Saw("SaveObject"));
    EXPECT_EQ(1, sink->saves);
    EXPECT_EQ(1, sink->closes);
    object->Unadvise(cookie);
}

TEST_F(HandWrittenContainer, FocusIsReportedToTheControlSite) {
    SiteLoadAndActivate(OLEIVERB_INPLACEACTIVATE);
    ::SendMessageW(probe->hwnd(), WM_SETFOCUS, 0, 0);
    EXPECT_TRUE(Saw("OnUIActivate"));  // focus makes an in-place control UI-active
    EXPECT_TRUE(Saw("OnFocus(TRUE)"));
    ::SendMessageW(probe->hwnd(), WM_KILLFOCUS, 0, 0);
    EXPECT_TRUE(Saw("OnFocus(FALSE)"));
}

TEST_F(HandWrittenContainer, ViewDrawsThroughTheHookAndNotifies) {
    SiteLoadAndActivate(OLEIVERB_INPLACEACTIVATE);

    // WM_PAINT of the window.
    ::RedrawWindow(probe->hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    ASSERT_GT(probe->draws, 0);
    RECT client{};
    ::GetClientRect(probe->hwnd(), &client);
    EXPECT_TRUE(::EqualRect(&client, &probe->lastBounds));

    // IViewObject::Draw into a bitmap.
    HDC screen = ::GetDC(nullptr);
    HDC dc = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, 32, 32);
    ::ReleaseDC(nullptr, screen);
    HGDIOBJ old = ::SelectObject(dc, bitmap);
    ComPtr<IViewObjectEx> view = Query<IViewObjectEx>(object.get());
    const RECTL bounds{0, 0, 32, 32};
    ASSERT_EQ(S_OK, view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0));
    EXPECT_EQ(kProbeColor, ::GetPixel(dc, 16, 16));
    EXPECT_EQ(DV_E_DVASPECT, view->Draw(DVASPECT_ICON, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0));

    // IDataObject: the content as a metafile picture of the control's extent.
    ComPtr<IDataObject> data = Query<IDataObject>(object.get());
    FORMATETC format{CF_METAFILEPICT, nullptr, DVASPECT_CONTENT, -1, TYMED_MFPICT};
    STGMEDIUM medium{};
    ASSERT_EQ(S_OK, data->GetData(&format, &medium));
    ASSERT_EQ(static_cast<DWORD>(TYMED_MFPICT), medium.tymed);
    auto* pict = static_cast<METAFILEPICT*>(::GlobalLock(medium.hMetaFilePict));
    EXPECT_EQ(MM_ANISOTROPIC, pict->mm);
    EXPECT_EQ(probe->extent().cx, pict->xExt);
    EXPECT_EQ(probe->extent().cy, pict->yExt);
    ::FillRect(dc, reinterpret_cast<const RECT*>(&bounds), static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    ::SetMapMode(dc, MM_ANISOTROPIC);
    ::SetViewportExtEx(dc, 32, 32, nullptr);
    EXPECT_TRUE(::PlayMetaFile(dc, pict->hMF));
    ::SetMapMode(dc, MM_TEXT);
    EXPECT_EQ(kProbeColor, ::GetPixel(dc, 16, 16));
    ::GlobalUnlock(medium.hMetaFilePict);
    ::ReleaseStgMedium(&medium);
    ::SelectObject(dc, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(dc);

    EXPECT_EQ(S_OK, data->QueryGetData(&format));
    FORMATETC text{CF_TEXT, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    EXPECT_EQ(DV_E_FORMATETC, data->QueryGetData(&text));
    FORMATETC wrongMedium{CF_METAFILEPICT, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    EXPECT_EQ(DV_E_TYMED, data->QueryGetData(&wrongMedium));
    FORMATETC icon{CF_METAFILEPICT, nullptr, DVASPECT_ICON, -1, TYMED_MFPICT};
    EXPECT_EQ(DV_E_DVASPECT, data->QueryGetData(&icon));

    // A new extent reaches the view sink and the data sink (with a rendering).
    ComPtr<AdviseSinkProbe> sink;
    AdviseSinkProbe::Make(sink);
    ASSERT_EQ(S_OK, view->SetAdvise(DVASPECT_CONTENT, 0, sink.get()));
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, data->DAdvise(&format, 0, sink.get(), &cookie));
    SIZEL bigger{7000, 3500};
    ASSERT_EQ(S_OK, object->SetExtent(DVASPECT_CONTENT, &bigger));
    EXPECT_EQ(1, sink->viewChanges);
    EXPECT_EQ(1, sink->dataChanges);
    EXPECT_EQ(static_cast<DWORD>(TYMED_MFPICT), sink->lastTymed);
    DWORD aspects = 0;
    ComPtr<IAdviseSink> current;
    ASSERT_EQ(S_OK, view->GetAdvise(&aspects, nullptr, current.put()));
    EXPECT_EQ(static_cast<DWORD>(DVASPECT_CONTENT), aspects);
    EXPECT_EQ(static_cast<IAdviseSink*>(sink.get()), current.get());
    current.reset();
    ComPtr<IEnumSTATDATA> advises;
    ASSERT_EQ(S_OK, data->EnumDAdvise(advises.put()));
    STATDATA stat{};
    ULONG fetched = 0;
    ASSERT_EQ(S_OK, advises->Next(1, &stat, &fetched));
    EXPECT_EQ(cookie, stat.dwConnection);
    if (stat.pAdvSink) stat.pAdvSink->Release();
    advises.reset();
    EXPECT_EQ(S_OK, data->DUnadvise(cookie));
    EXPECT_EQ(S_OK, view->SetAdvise(DVASPECT_CONTENT, 0, nullptr));
    EXPECT_EQ(1u, sink->ref_count());
}

TEST_F(HandWrittenContainer, ViewGeometryAndHitTesting) {
    SIZEL extent{4000, 2000};
    ASSERT_EQ(S_OK, object->SetExtent(DVASPECT_CONTENT, &extent));
    SIZEL got{};
    EXPECT_EQ(S_OK, object->GetExtent(DVASPECT_CONTENT, &got));
    EXPECT_EQ(4000, got.cx);
    EXPECT_EQ(DV_E_DVASPECT, object->SetExtent(DVASPECT_ICON, &extent));

    ComPtr<IViewObjectEx> view = Query<IViewObjectEx>(object.get());
    SIZEL viewExtent{};
    ASSERT_EQ(S_OK, view->GetExtent(DVASPECT_CONTENT, -1, nullptr, &viewExtent));
    EXPECT_EQ(2000, viewExtent.cy);
    RECTL rect{};
    ASSERT_EQ(S_OK, view->GetRect(DVASPECT_CONTENT, &rect));
    EXPECT_EQ(0, rect.left);
    EXPECT_EQ(4000, rect.right);
    EXPECT_EQ(2000, rect.bottom);
    EXPECT_EQ(S_OK, view->GetRect(DVASPECT_OPAQUE, &rect));
    EXPECT_EQ(DV_E_DVASPECT, view->GetRect(DVASPECT_TRANSPARENT, &rect));
    DWORD status = 0;
    ASSERT_EQ(S_OK, view->GetViewStatus(&status));
    EXPECT_TRUE(status & VIEWSTATUS_OPAQUE);

    const RECT bounds{10, 10, 110, 60};
    DWORD hit = 0;
    ASSERT_EQ(S_OK, view->QueryHitPoint(DVASPECT_CONTENT, &bounds, POINT{50, 30}, 0, &hit));
    EXPECT_EQ(static_cast<DWORD>(HITRESULT_HIT), hit);
    ASSERT_EQ(S_OK, view->QueryHitPoint(DVASPECT_CONTENT, &bounds, POINT{5, 30}, 0, &hit));
    EXPECT_EQ(static_cast<DWORD>(HITRESULT_OUTSIDE), hit);
    const RECT overlapping{100, 50, 200, 100}, apart{200, 200, 300, 300};
    ASSERT_EQ(S_OK, view->QueryHitRect(DVASPECT_CONTENT, &bounds, &overlapping, 0, &hit));
    EXPECT_EQ(static_cast<DWORD>(HITRESULT_HIT), hit);
    ASSERT_EQ(S_OK, view->QueryHitRect(DVASPECT_CONTENT, &bounds, &apart, 0, &hit));
    EXPECT_EQ(static_cast<DWORD>(HITRESULT_OUTSIDE), hit);

    DVEXTENTINFO info{sizeof(info), DVEXTENT_CONTENT, {0, 0}};
    SIZEL natural{};
    ASSERT_EQ(S_OK, view->GetNaturalExtent(DVASPECT_CONTENT, -1, nullptr, nullptr, &info, &natural));
    EXPECT_EQ(4000, natural.cx);
}

TEST_F(HandWrittenContainer, AnswersFromTheClassRegistration) {
    CLSID user{};
    ASSERT_EQ(S_OK, object->GetUserClassID(&user));
    EXPECT_TRUE(IsEqualCLSID(CLSID_OleControlProbe, user));

    LPOLESTR shortName = nullptr;
    ASSERT_EQ(S_OK, object->GetUserType(USERCLASSTYPE_SHORT, &shortName));
    EXPECT_STREQ(L"Probe", shortName);
    ::CoTaskMemFree(shortName);

    ComPtr<IEnumOLEVERB> verbs;
    ASSERT_EQ(S_OK, object->EnumVerbs(verbs.put()));
    OLEVERB verb{};
    ULONG fetched = 0;
    ASSERT_EQ(S_OK, verbs->Next(1, &verb, &fetched));
    EXPECT_EQ(0, verb.lVerb);
    EXPECT_STREQ(L"&Activate", verb.lpszVerbName);
    ::CoTaskMemFree(verb.lpszVerbName);

    // Whatever OLE reads for the class's formats is the control's answer.
    ComPtr<IEnumFORMATETC> formats, registered;
    const HRESULT hr = Query<IDataObject>(object.get())->EnumFormatEtc(DATADIR_GET, formats.put());
    EXPECT_EQ(::OleRegEnumFormatEtc(CLSID_OleControlProbe, DATADIR_GET, registered.put()), hr);

    // Linking, clipboard and palettes are not part of a control of this kind.
    ComPtr<IMoniker> moniker;
    EXPECT_EQ(E_NOTIMPL, object->GetMoniker(OLEGETMONIKER_ONLYIFTHERE, OLEWHICHMK_OBJFULL, moniker.put()));
    EXPECT_EQ(E_NOTIMPL, object->SetMoniker(OLEWHICHMK_OBJFULL, nullptr));
    ComPtr<IDataObject> clip;
    EXPECT_EQ(E_NOTIMPL, object->GetClipboardData(0, clip.put()));
    EXPECT_EQ(E_NOTIMPL, object->InitFromData(nullptr, TRUE, 0));
    EXPECT_EQ(E_NOTIMPL, object->SetColorScheme(nullptr));
    EXPECT_EQ(S_OK, object->IsUpToDate());
    EXPECT_EQ(OLE_E_NOCONNECTION, object->Unadvise(1));
}

TEST_F(HandWrittenContainer, ControlNotificationsAndAmbients) {
    ASSERT_EQ(S_OK, object->SetClientSite(site.get()));
    ComPtr<IOleControl> control = Query<IOleControl>(object.get());
    CONTROLINFO info{sizeof(info)};
    ASSERT_EQ(S_OK, control->GetControlInfo(&info));
    EXPECT_EQ(0, info.cAccel);
    EXPECT_EQ(nullptr, info.hAccel);

    VARIANT mode;
    ASSERT_EQ(S_OK, probe->ambient(DISPID_AMBIENT_USERMODE, &mode));
    EXPECT_EQ(VT_BOOL, mode.vt);
    EXPECT_EQ(VARIANT_FALSE, mode.boolVal);
    EXPECT_TRUE(Saw("ambient " + std::to_string(DISPID_AMBIENT_USERMODE)));

    ASSERT_EQ(S_OK, control->OnAmbientPropertyChange(DISPID_AMBIENT_BACKCOLOR));
    ASSERT_EQ(1u, probe->ambientChanges.size());
    EXPECT_EQ(DISPID_AMBIENT_BACKCOLOR, probe->ambientChanges[0]);

    EXPECT_FALSE(probe->events_frozen());
    control->FreezeEvents(TRUE);
    control->FreezeEvents(TRUE);
    control->FreezeEvents(FALSE);
    EXPECT_TRUE(probe->events_frozen());
    control->FreezeEvents(FALSE);
    EXPECT_FALSE(probe->events_frozen());

    ComPtr<IOleInPlaceActiveObject> active = Query<IOleInPlaceActiveObject>(object.get());
    MSG msg{};
    EXPECT_EQ(S_FALSE, active->TranslateAccelerator(&msg));
    ComPtr<IOleInPlaceObjectWindowless> windowless = Query<IOleInPlaceObjectWindowless>(object.get());
    LRESULT result = 1;
    EXPECT_EQ(S_FALSE, windowless->OnWindowMessage(WM_LBUTTONDOWN, 0, 0, &result));
    ComPtr<IDropTarget> drop;
    EXPECT_EQ(E_NOTIMPL, windowless->GetDropTarget(drop.put()));
}

TEST_F(HandWrittenContainer, QuickActivateDeliversSiteSinksAndAmbients) {
    ComPtr<AdviseSinkProbe> viewSink;
    AdviseSinkProbe::Make(viewSink);
    EventSinkProbe events;
    QACONTAINER container{};
    container.cbSize = sizeof(container);
    container.pClientSite = site.get();
    container.pAdviseSink = viewSink.get();
    container.pUnkEventSink = &events;
    container.dwAmbientFlags = QACONTAINER_USERMODE;
    container.colorBack = RGB(1, 2, 3);
    QACONTROL control{};
    control.cbSize = sizeof(control);
    ComPtr<IQuickActivate> quick = Query<IQuickActivate>(object.get());
    ASSERT_EQ(S_OK, quick->QuickActivate(&container, &control));

    EXPECT_EQ(static_cast<IOleClientSite*>(site.get()), probe->client_site());
    EXPECT_EQ(static_cast<IAdviseSink*>(viewSink.get()), probe->view_sink());
    EXPECT_EQ(kRegisteredMiscStatus, control.dwMiscStatus);
    EXPECT_EQ(ProbeControl::kViewStatus, control.dwViewStatus);
    EXPECT_NE(0u, control.dwEventCookie);
    EXPECT_EQ(0u, control.dwPropNotifyCookie);  // the probe has no property notifications
    EXPECT_EQ(2u, events.refs);                  // the connection point holds the sink

    // Ambients come from the quick values, not the site, until they change.
    VARIANT v;
    ASSERT_EQ(S_OK, probe->ambient(DISPID_AMBIENT_USERMODE, &v));
    EXPECT_EQ(VARIANT_TRUE, v.boolVal);
    ASSERT_EQ(S_OK, probe->ambient(DISPID_AMBIENT_BACKCOLOR, &v));
    EXPECT_EQ(static_cast<LONG>(RGB(1, 2, 3)), v.lVal);
    EXPECT_FALSE(Saw("ambient " + std::to_string(DISPID_AMBIENT_USERMODE)));
    Query<IOleControl>(object.get())->OnAmbientPropertyChange(DISPID_UNKNOWN);
    ASSERT_EQ(S_OK, probe->ambient(DISPID_AMBIENT_USERMODE, &v));
    EXPECT_EQ(VARIANT_FALSE, v.boolVal);

    SIZEL content{1234, 567}, back{};
    ASSERT_EQ(S_OK, quick->SetContentExtent(&content));
    ASSERT_EQ(S_OK, quick->GetContentExtent(&back));
    EXPECT_EQ(1234, back.cx);
    EXPECT_EQ(567, back.cy);

    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(S_OK, Query<IConnectionPointContainer>(object.get())
                        ->FindConnectionPoint(DIID__IOleControlProbeEvents, point.put()));
    EXPECT_EQ(S_OK, point->Unadvise(control.dwEventCookie));
    point.reset();
    EXPECT_EQ(1u, events.refs);
    Query<IViewObject>(object.get())->SetAdvise(DVASPECT_CONTENT, 0, nullptr);
    EXPECT_EQ(1u, viewSink->ref_count());

    QACONTROL small{};
    small.cbSize = sizeof(small) - 4;
    EXPECT_EQ(E_INVALIDARG, quick->QuickActivate(&container, &small));
}

// ---- Persistence of the property map ----

class Persistence : public ::testing::Test {
protected:
    void SetUp() override {
        g_journal.clear();
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

TEST_F(Persistence, StreamRoundTripsAndClearsDirty) {
    ComPtr<IPersistStreamInit> out = Query<IPersistStreamInit>(saved->identity());
    EXPECT_EQ(S_OK, out->IsDirty());
    ComPtr<IStream> stream;
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
    EXPECT_EQ(3210, loaded->extent().cx);
    EXPECT_EQ(1234, loaded->extent().cy);
    CLSID clsid{};
    ASSERT_EQ(S_OK, in->GetClassID(&clsid));
    EXPECT_TRUE(IsEqualCLSID(CLSID_OleControlProbe, clsid));

    // Bytes that are not a saved property map are refused.
    ComPtr<IStream> junk;
    ::CreateStreamOnHGlobal(nullptr, TRUE, junk.put());
    const char text[] = "not a property map at all";
    junk->Write(text, sizeof(text), nullptr);
    junk->Seek(zero, STREAM_SEEK_SET, nullptr);
    EXPECT_EQ(STG_E_INVALIDHEADER, in->Load(junk.get()));
    // A truncated one too.
    ComPtr<IStream> shortStream;
    ::CreateStreamOnHGlobal(nullptr, TRUE, shortStream.put());
    ULARGE_INTEGER half{};
    half.QuadPart = end.QuadPart - 3;
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    stream->CopyTo(shortStream.get(), half, nullptr, nullptr);
    shortStream->Seek(zero, STREAM_SEEK_SET, nullptr);
    EXPECT_EQ(STG_E_READFAULT, in->Load(shortStream.get()));
}

TEST_F(Persistence, StorageRoundTripsThroughItsContentsStream) {
    ComPtr<IStorage> storage;
    ASSERT_EQ(S_OK, ::StgCreateDocfile(nullptr,
                                       STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_DELETEONRELEASE, 0,
                                       storage.put()));
    ComPtr<IPersistStorage> out = Query<IPersistStorage>(saved->identity());
    ASSERT_EQ(S_OK, out->Save(storage.get(), TRUE));
    EXPECT_EQ(S_OK, out->SaveCompleted(nullptr));
    EXPECT_EQ(S_FALSE, out->IsDirty());

    ComPtr<IStream> contents;
    EXPECT_EQ(S_OK, storage->OpenStream(L"Contents", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, contents.put()));
    contents.reset();

    ASSERT_EQ(S_OK, Query<IPersistStorage>(loaded->identity())->Load(storage.get()));
    EXPECT_EQ(3210, loaded->extent().cx);
    EXPECT_EQ(1234, loaded->extent().cy);

    ComPtr<IStorage> empty;
    ::StgCreateDocfile(nullptr, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_DELETEONRELEASE, 0,
                       empty.put());
    EXPECT_EQ(STG_E_FILENOTFOUND, Query<IPersistStorage>(loaded->identity())->Load(empty.get()));
}

TEST_F(Persistence, PropertyBagSavesTheMapAndLoadsOnlyIt) {
    ComPtr<PropertyBagProbe> bag;
    PropertyBagProbe::Make(bag);
    ASSERT_EQ(S_OK, Query<IPersistPropertyBag>(saved->identity())->Save(bag.get(), TRUE, TRUE));
    ASSERT_EQ(2u, bag->values.size());
    EXPECT_EQ(VT_UI4, bag->values[L"_cx"].vt());
    EXPECT_EQ(3210u, bag->values[L"_cx"].get().ulVal);
    EXPECT_EQ(1234u, bag->values[L"_cy"].get().ulVal);

    // Page parameters arrive as text: converted to the entry's type. Other
    // parameters are never even asked for.
    ComPtr<PropertyBagProbe> page;
    PropertyBagProbe::Make(page);
    page->Set(L"_cx", L"4321");
    page->Set(L"_cy", L"876");
    page->Set(L"color", L"red");
    ComPtr<ErrorLogProbe> log;
    ErrorLogProbe::Make(log);
    ComPtr<IPersistPropertyBag> in = Query<IPersistPropertyBag>(loaded->identity());
    ASSERT_EQ(S_OK, in->Load(page.get(), log.get()));
    EXPECT_EQ(4321, loaded->extent().cx);
    EXPECT_EQ(876, loaded->extent().cy);
    EXPECT_EQ((std::vector<std::wstring>{L"_cx", L"_cy"}), page->reads);
    EXPECT_TRUE(log->errors.empty());

    // A value that does not convert keeps the old one and goes to the log;
    // a missing one keeps the old one silently.
    ComPtr<PropertyBagProbe> bad;
    PropertyBagProbe::Make(bad);
    bad->Set(L"_cx", L"wide");
    ASSERT_EQ(S_OK, in->Load(bad.get(), log.get()));
    EXPECT_EQ(4321, loaded->extent().cx);
    EXPECT_EQ(876, loaded->extent().cy);
    ASSERT_EQ(1u, log->errors.size());
    EXPECT_EQ(L"_cx", log->errors[0].first);
    EXPECT_EQ(DISP_E_TYPEMISMATCH, log->errors[0].second);
}

// ---- What the control says about itself ----

TEST(ControlInformation, ObjectSafetyCodes) {
    ComPtr<ProbeControl> probe;
    ProbeControl::Make(probe);
    ComPtr<IObjectSafety> safety = Query<IObjectSafety>(probe->identity());
    DWORD supported = 99, enabled = 99;
    EXPECT_EQ(E_POINTER, safety->GetInterfaceSafetyOptions(IID_IDispatch, nullptr, &enabled));
    EXPECT_EQ(E_POINTER, safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, nullptr));

    ASSERT_EQ(S_OK, safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled));
    EXPECT_EQ(3u, supported);
    EXPECT_EQ(0u, enabled);
    EXPECT_EQ(S_OK, safety->SetInterfaceSafetyOptions(IID_IDispatch, 3, 3));
    ASSERT_EQ(S_OK, safety->GetInterfaceSafetyOptions(IID_IPersistPropertyBag, &supported, &enabled));
    EXPECT_EQ(3u, enabled);  // one set of options for the object
    EXPECT_EQ(S_OK, safety->SetInterfaceSafetyOptions(IID_IDispatch, 1, 0));
    safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled);
    EXPECT_EQ(2u, enabled);

    EXPECT_EQ(E_FAIL, safety->SetInterfaceSafetyOptions(IID_IDispatch, 4, 4));
    EXPECT_EQ(E_FAIL, safety->SetInterfaceSafetyOptions(IID_IDispatch, 7, 1));
    safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled);
    EXPECT_EQ(2u, enabled);

    EXPECT_EQ(E_NOINTERFACE, safety->SetInterfaceSafetyOptions(IID_IOleLink, 1, 1));
    supported = enabled = 99;
    EXPECT_EQ(E_NOINTERFACE, safety->GetInterfaceSafetyOptions(IID_IOleLink, &supported, &enabled));
    EXPECT_EQ(0u, supported);
    EXPECT_EQ(0u, enabled);
    safety.reset();
    EXPECT_EQ(1u, probe->ref_count());
}

TEST(ControlInformation, ClassInfoPagesAndDispatchFromTheTypeLibrary) {
    ComPtr<ProbeControl> probe;
    ProbeControl::Make(probe);
    ComPtr<IProvideClassInfo2> info = Query<IProvideClassInfo2>(probe->identity());
    ASSERT_TRUE(info);
    EXPECT_TRUE(Query<IProvideClassInfo>(probe->identity()));

    ComPtr<ITypeInfo> coclass;
    ASSERT_EQ(S_OK, info->GetClassInfo(coclass.put()));
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, coclass->GetTypeAttr(&attr));
    EXPECT_EQ(TKIND_COCLASS, attr->typekind);
    EXPECT_TRUE(IsEqualGUID(CLSID_OleControlProbe, attr->guid));
    coclass->ReleaseTypeAttr(attr);

    GUID events{};
    ASSERT_EQ(S_OK, info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &events));
    EXPECT_TRUE(IsEqualGUID(DIID__IOleControlProbeEvents, events));
    EXPECT_EQ(E_INVALIDARG, info->GetGUID(2, &events));

    CAUUID pages{5, reinterpret_cast<GUID*>(&pages)};
    ASSERT_EQ(S_OK, Query<ISpecifyPropertyPages>(probe->identity())->GetPages(&pages));
    EXPECT_EQ(0u, pages.cElems);
    EXPECT_EQ(nullptr, pages.pElems);

    // The control's own interface still dispatches through the library.
    ComPtr<IDispatch> dispatch = Query<IDispatch>(probe->identity());
    LPOLESTR name = const_cast<LPOLESTR>(L"width");
    DISPID id = 0;
    ASSERT_EQ(S_OK, dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id));
    DISPPARAMS none{};
    VARIANT result;
    ::VariantInit(&result);
    ASSERT_EQ(S_OK, dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result,
                                     nullptr, nullptr));
    EXPECT_EQ(probe->extent().cx, result.lVal);

    info.reset();
    dispatch.reset();
    EXPECT_EQ(1u, probe->ref_count());
}

// ---- The platform's own container ----

TEST(WineAtlContainer, AttachesSizesAndDetaches) {
    using AttachFn = HRESULT(WINAPI*)(IUnknown*, HWND, IUnknown**);
    HMODULE atl = ::LoadLibraryW(L"atl.dll");
    AttachFn attach = atl ? reinterpret_cast<AttachFn>(::GetProcAddress(atl, "AtlAxAttachControl")) : nullptr;
    if (!attach) {
        atl = ::LoadLibraryW(L"atl100.dll");
        attach = atl ? reinterpret_cast<AttachFn>(::GetProcAddress(atl, "AtlAxAttachControl")) : nullptr;
    }
    ASSERT_NE(nullptr, attach);

    g_journal.clear();
    {
        HostWindow host(320, 200);
        RECT client{};
        ::GetClientRect(host.get(), &client);
        ComPtr<ProbeControl> probe;
        ASSERT_EQ(S_OK, ProbeControl::Make(probe));
        ComPtr<IUnknown> container;
        ASSERT_EQ(S_OK, attach(probe->identity(), host.get(), container.put()));

        // Sited, sized from the host's client area and active in place.
        ASSERT_NE(nullptr, probe->client_site());
        // (Wine's host converts with 100 units an inch, not 2540: compare
        // proportions, not values.)
        const SIZEL first = probe->extent();
        EXPECT_NE(2 * 2540, first.cx);
        EXPECT_NEAR(double(first.cx) / client.right, double(first.cy) / client.bottom, 0.02);
        const LONG firstWidth = client.right;
        EXPECT_TRUE(probe->in_place_active());
        const HWND child = probe->hwnd();
        ASSERT_TRUE(child);
        EXPECT_EQ(host.get(), ::GetParent(child));
        EXPECT_EQ(0x56000000u, static_cast<DWORD>(::GetWindowLongW(child, GWL_STYLE)));
        RECT placed = RectInParent(child);
        EXPECT_TRUE(::EqualRect(&placed, &client));

        // The host follows its window's size with SetExtent and SetObjectRects.
        ::MoveWindow(host.get(), 0, 0, 500, 260, TRUE);
        PumpMessages();
        ::GetClientRect(host.get(), &client);
        placed = RectInParent(child);
        EXPECT_TRUE(::EqualRect(&placed, &client));
        EXPECT_NEAR(double(probe->extent().cx) / first.cx, double(client.right) / firstWidth, 0.02);
        ASSERT_FALSE(probe->sizes.empty());
        EXPECT_EQ(client.right, probe->sizes.back().cx);

        // Destroying the host window closes the control and lets it go.
        ::DestroyWindow(host.get());
        EXPECT_TRUE(Saw("WM_DESTROY"));
        EXPECT_FALSE(::IsWindow(child));
        EXPECT_EQ(nullptr, probe->client_site());
        EXPECT_FALSE(probe->in_place_active());
        container.reset();
        EXPECT_EQ(1u, probe->ref_count());
    }
    EXPECT_EQ(0, ProbeControl::alive);
}
