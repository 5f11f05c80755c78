// The page host's probe control. It keeps a record of the container's calls
// (client site, safety options, params, activation, event connection, close)
// and answers script with it, with its document's location, and with events
// fired at once or from its window's message queue.
#include <windows.h>
#include <mshtml.h>
#include <objsafe.h>
#include <olectl.h>
#include <string>

#include "comfw/bstr.h"
#include "comfw/classFactory.h"
#include "comfw/comObject.h"
#include "comfw/connectionPoint.h"
#include "comfw/dispatch.h"
#include "comfw/hresult.h"
#include "comfw/typeLib.h"
#include "comfw/variant.h"
#include "comfw/window.h"
#include "pageProbe.h"

namespace {

constexpr UINT kLaterMessage = WM_APP + 1;
constexpr wchar_t kProgId[] = L"PageHostTest.Probe";

std::wstring Hex(HRESULT hr) {
    wchar_t buf[16];
    swprintf(buf, 16, L"0x%08lx", static_cast<unsigned long>(hr));
    return buf;
}

HRESULT GiveText(const std::wstring& text, BSTR* out) noexcept {
    if (!out) return E_POINTER;
    *out = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

class ProbeControl;

class ProbeWindow : public comfw::Window<ProbeWindow> {
public:
    explicit ProbeWindow(ProbeControl* owner) noexcept : owner_(owner) {}
    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp, bool& handled) noexcept;

private:
    ProbeControl* owner_;
};

class ProbeControl final
    : public comfw::ComObject<ProbeControl, comfw::DispatchFromTypeLib<IPageProbe>, IOleObject, IOleInPlaceObject,
                              IPersistPropertyBag, IProvideClassInfo2,
                              comfw::ConnectionPointContainerImpl<&DIID_DPageProbeEvents>>,
      public IObjectSafety {
public:
    // IObjectSafety is answered by hand: mingw-w64's objsafe.h gives it no
    // __uuidof, which ComObject's interface list needs.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override {
        if (ppv && ::IsEqualIID(riid, IID_IObjectSafety)) {
            *ppv = static_cast<IObjectSafety*>(this);
            AddRef();
            return S_OK;
        }
        return ComObject::QueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return ComObject::AddRef(); }
    STDMETHODIMP_(ULONG) Release() noexcept override { return ComObject::Release(); }

    ProbeControl() noexcept : window_(this) {}
    ~ProbeControl() override {
        if (window_.hwnd()) ::DestroyWindow(window_.hwnd());
    }

    // IPageProbe
    STDMETHODIMP get_origin(BSTR* text) noexcept override {
        std::wstring protocol, hostname, port;
        const std::wstring error = ReadOrigin(protocol, hostname, port);
        return GiveText(error.empty() ? protocol + L"," + hostname + L"," + port : L"error: " + error, text);
    }
    STDMETHODIMP get_href(BSTR* text) noexcept override {
        comfw::ComPtr<IHTMLLocation> location;
        const std::wstring error = LocationOf(location);
        if (!error.empty()) return GiveText(L"error: " + error, text);
        return location->get_href(text);
    }
    STDMETHODIMP get_loaded(BSTR* text) noexcept override { return GiveText(loaded_, text); }
    STDMETHODIMP get_steps(BSTR* text) noexcept override { return GiveText(steps_, text); }
    STDMETHODIMP get_windowState(BSTR* text) noexcept override {
        if (destroyed_) return GiveText(L"destroyed", text);
        if (!window_.hwnd()) return GiveText(L"none", text);
        RECT r{};
        ::GetWindowRect(window_.hwnd(), &r);
        ::MapWindowPoints(nullptr, ::GetParent(window_.hwnd()), reinterpret_cast<POINT*>(&r), 2);
        return GiveText(std::to_wstring(r.left) + L"," + std::to_wstring(r.top) + L"," +
                            std::to_wstring(r.right - r.left) + L"," + std::to_wstring(r.bottom - r.top),
                        text);
    }
    STDMETHODIMP ping(BSTR text, VARIANT value) noexcept override { return Fire(1, text, value); }
    STDMETHODIMP pingLater(BSTR text, VARIANT value) noexcept override {
        if (!window_.hwnd()) return E_UNEXPECTED;
        auto* pending = new (std::nothrow) Pending;
        if (!pending) return E_OUTOFMEMORY;
        pending->text = ::SysAllocString(text);
        ::VariantInit(&pending->value);
        ::VariantCopy(&pending->value, &value);
        ::PostMessageW(window_.hwnd(), kLaterMessage, 0, reinterpret_cast<LPARAM>(pending));
        return S_OK;
    }
    STDMETHODIMP get_userMode(VARIANT_BOOL* value) noexcept override {
        if (!value) return E_POINTER;
        *value = VARIANT_FALSE;
        comfw::ComPtr<IDispatch> ambient;
        if (!site_ || FAILED(site_.query(ambient))) return E_FAIL;
        DISPPARAMS none{};
        comfw::Variant result;
        const HRESULT hr = ambient->Invoke(DISPID_AMBIENT_USERMODE, IID_NULL, 0, DISPATCH_PROPERTYGET, &none,
                                           result.put(), nullptr, nullptr);
        if (FAILED(hr)) return hr;
        *value = result.vt() == VT_BOOL ? result.get().boolVal : VARIANT_FALSE;
        return S_OK;
    }

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* site) noexcept override {
        Step(site ? L"SetClientSite" : L"SetClientSite(null)");
        site_ = comfw::ComPtr<IOleClientSite>(site);
        return S_OK;
    }
    STDMETHODIMP GetClientSite(IOleClientSite** site) noexcept override { return site_.copy_to(site); }
    STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) noexcept override { return S_OK; }
    STDMETHODIMP Close(DWORD) noexcept override {
        Step(L"Close");
        if (window_.hwnd()) InPlaceDeactivate();
        return S_OK;
    }
    STDMETHODIMP SetMoniker(DWORD, IMoniker*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetClipboardData(DWORD, IDataObject**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent, LPCRECT rect) noexcept override {
        Step(L"DoVerb(" + std::to_wstring(verb) + L")");
        if (verb != OLEIVERB_INPLACEACTIVATE && verb != OLEIVERB_SHOW) return OLEOBJ_E_NOVERBS;
        if (window_.hwnd()) return S_OK;
        comfw::ComPtr<IOleInPlaceSite> inPlace;
        comfw::ComPtr<IOleClientSite>(site ? site : site_.get()).query(inPlace);
        if (!inPlace || inPlace->CanInPlaceActivate() != S_OK) return E_FAIL;
        inPlace->OnInPlaceActivate();
        comfw::ComPtr<IOleInPlaceFrame> frame;
        comfw::ComPtr<IOleInPlaceUIWindow> doc;
        RECT pos{}, clip{};
        OLEINPLACEFRAMEINFO info{sizeof(info)};
        HRESULT hr = inPlace->GetWindowContext(frame.put(), doc.put(), &pos, &clip, &info);
        if (FAILED(hr)) return hr;
        if (rect) pos = *rect;
        destroyed_ = false;
        if (!window_.CreateWindowFor(parent, &pos, L"probe", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0))
            return comfw::LastErrorHresult();
        inPlaceSite_ = inPlace;
        return S_OK;
    }
    STDMETHODIMP EnumVerbs(IEnumOLEVERB**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Update() noexcept override { return S_OK; }
    STDMETHODIMP IsUpToDate() noexcept override { return S_OK; }
    STDMETHODIMP GetUserClassID(CLSID* clsid) noexcept override { return GetClassID(clsid); }
    STDMETHODIMP GetUserType(DWORD, LPOLESTR*) noexcept override { return OLE_S_USEREG; }
    STDMETHODIMP SetExtent(DWORD, SIZEL*) noexcept override { return S_OK; }
    STDMETHODIMP GetExtent(DWORD, SIZEL*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Advise(IAdviseSink*, DWORD*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Unadvise(DWORD) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP EnumAdvise(IEnumSTATDATA**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetMiscStatus(DWORD, DWORD* status) noexcept override {
        if (!status) return E_POINTER;
        *status = OLEMISC_SETCLIENTSITEFIRST | OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INSIDEOUT;
        return S_OK;
    }
    STDMETHODIMP SetColorScheme(LOGPALETTE*) noexcept override { return E_NOTIMPL; }

    // IOleWindow / IOleInPlaceObject
    STDMETHODIMP GetWindow(HWND* hwnd) noexcept override {
        if (!hwnd) return E_POINTER;
        *hwnd = window_.hwnd();
        return *hwnd ? S_OK : E_FAIL;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP InPlaceDeactivate() noexcept override {
        Step(L"InPlaceDeactivate");
        if (window_.hwnd()) ::DestroyWindow(window_.hwnd());
        if (inPlaceSite_) {
            comfw::ComPtr<IOleInPlaceSite> site = std::move(inPlaceSite_);
            site->OnInPlaceDeactivate();
        }
        return S_OK;
    }
    STDMETHODIMP UIDeactivate() noexcept override { return S_OK; }
    STDMETHODIMP SetObjectRects(LPCRECT pos, LPCRECT) noexcept override {
        if (!pos) return E_POINTER;
        if (window_.hwnd())
            ::MoveWindow(window_.hwnd(), pos->left, pos->top, pos->right - pos->left, pos->bottom - pos->top, TRUE);
        return S_OK;
    }
    STDMETHODIMP ReactivateAndUndo() noexcept override { return E_NOTIMPL; }

    // IPersist / IPersistPropertyBag
    STDMETHODIMP GetClassID(CLSID* clsid) noexcept override {
        if (!clsid) return E_POINTER;
        *clsid = CLSID_PageProbe;
        return S_OK;
    }
    STDMETHODIMP InitNew() noexcept override {
        Step(L"InitNew");
        return S_OK;
    }
    STDMETHODIMP Load(IPropertyBag* bag, IErrorLog* log) noexcept override {
        Step(L"Load");
        if (!bag) return E_POINTER;
        loaded_.clear();
        // _cx, _cy and count asked for as numbers: the bag must convert its text.
        const std::pair<const wchar_t*, VARTYPE> wanted[] = {
            {L"_cx", VT_I4}, {L"_cy", VT_I4}, {L"label", VT_EMPTY}, {L"count", VT_I4}};
        for (const auto& w : wanted) {
            comfw::Variant value;
            value.ptr()->vt = w.second;
            const HRESULT hr = bag->Read(w.first, value.ptr(), log);
            if (!loaded_.empty()) loaded_ += L";";
            loaded_ += w.first;
            loaded_ += L"=";
            if (hr == E_INVALIDARG) {
                loaded_ += L"-";
            } else if (FAILED(hr)) {
                loaded_ += L"!" + Hex(hr);
            } else {
                comfw::Variant text;
                ::VariantChangeType(text.ptr(), value.ptr(), 0, VT_BSTR);
                loaded_ += comfw::TextOf(text.get().bstrVal) + L"/" + std::to_wstring(value.vt());
            }
        }
        return S_OK;
    }
    STDMETHODIMP Save(IPropertyBag*, BOOL, BOOL) noexcept override { return E_NOTIMPL; }

    // IProvideClassInfo2
    STDMETHODIMP GetClassInfo(ITypeInfo** info) noexcept override {
        return comfw::ModuleTypeInfo(CLSID_PageProbe, info);
    }
    STDMETHODIMP GetGUID(DWORD kind, GUID* guid) noexcept override {
        if (!guid) return E_POINTER;
        if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
        *guid = DIID_DPageProbeEvents;
        return S_OK;
    }

    // IObjectSafety: agrees to everything and remembers what it was asked.
    STDMETHODIMP GetInterfaceSafetyOptions(REFIID, DWORD* supported, DWORD* enabled) noexcept override {
        if (!supported || !enabled) return E_POINTER;
        *supported = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
        *enabled = *supported;
        return S_OK;
    }
    STDMETHODIMP SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD enabled) noexcept override {
        const wchar_t* which = ::IsEqualIID(riid, IID_IDispatch)              ? L"SafeForScripting"
                               : ::IsEqualIID(riid, IID_IPersistPropertyBag) ? L"SafeForData"
                                                                             : L"SafeForOther";
        Step(std::wstring(which) + L"(" + std::to_wstring(mask) + L"/" + std::to_wstring(enabled) + L")");
        return S_OK;
    }

    // Steps the container cannot see: recorded only for the tests.
    void Step(const std::wstring& step) {
        if (!steps_.empty()) steps_ += L" ";
        steps_ += step;
    }
    void OnWindowDestroyed() noexcept { destroyed_ = true; }

    HRESULT Fire(DISPID id, BSTR text, const VARIANT& value) noexcept {
        // Arguments go in reverse order: value is the last one.
        VARIANT args[2];
        args[1].vt = VT_BSTR;
        args[1].bstrVal = text;
        args[0] = value;
        DISPPARAMS params{args, nullptr, 2, 0};
        comfw::ComPtr<ProbeControl> keep(this);
        comfw::ConnectionPoint& point = connection_point();
        for (size_t i = 0; i < point.slot_count(); ++i) {
            IUnknown* sink = point.slot(i);
            comfw::ComPtr<IDispatch> events;
            if (!sink || FAILED(sink->QueryInterface(IID_IDispatch, events.put_void()))) continue;
            events->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
        }
        return S_OK;
    }

    struct Pending {
        BSTR text;
        VARIANT value;
    };

private:
    // The document is found through the client site, as a control in a browser finds it.
    std::wstring LocationOf(comfw::ComPtr<IHTMLLocation>& location) {
        if (!site_) return L"no client site";
        comfw::ComPtr<IOleContainer> container;
        HRESULT hr = site_->GetContainer(container.put());
        if (FAILED(hr)) return L"GetContainer " + Hex(hr);
        comfw::ComPtr<IHTMLDocument2> document;
        hr = container.query(document);
        if (FAILED(hr)) return L"QueryInterface(IHTMLDocument2) " + Hex(hr);
        hr = document->get_location(location.put());
        if (FAILED(hr)) return L"get_location " + Hex(hr);
        return std::wstring();
    }

    std::wstring ReadOrigin(std::wstring& protocol, std::wstring& hostname, std::wstring& port) {
        comfw::ComPtr<IHTMLLocation> location;
        std::wstring error = LocationOf(location);
        if (!error.empty()) return error;
        comfw::Bstr part;
        HRESULT hr = location->get_protocol(part.put());
        if (FAILED(hr)) return L"get_protocol " + Hex(hr);
        protocol = part.str();
        hr = location->get_hostname(part.put());
        if (FAILED(hr)) return L"get_hostname " + Hex(hr);
        hostname = part.str();
        hr = location->get_port(part.put());
        if (FAILED(hr)) return L"get_port " + Hex(hr);
        port = part.str();
        return std::wstring();
    }

    ProbeWindow window_;
    comfw::ComPtr<IOleClientSite> site_;
    comfw::ComPtr<IOleInPlaceSite> inPlaceSite_;
    std::wstring loaded_ = L"(not loaded)";
    std::wstring steps_;
    bool destroyed_ = false;
};

LRESULT ProbeWindow::HandleMessage(UINT msg, WPARAM wp, LPARAM lp, bool& handled) noexcept {
    switch (msg) {
        case WM_PAINT:
        case WM_PRINTCLIENT: {
            handled = true;
            PAINTSTRUCT ps{};
            HDC dc = msg == WM_PAINT ? ::BeginPaint(hwnd(), &ps) : reinterpret_cast<HDC>(wp);
            RECT r{};
            ::GetClientRect(hwnd(), &r);
            HBRUSH brush = ::CreateSolidBrush(RGB(0x33, 0x66, 0xcc));
            ::FillRect(dc, &r, brush);
            ::DeleteObject(brush);
            if (msg == WM_PAINT) ::EndPaint(hwnd(), &ps);
            return 0;
        }
        case kLaterMessage: {
            handled = true;
            auto* pending = reinterpret_cast<ProbeControl::Pending*>(lp);
            owner_->Fire(2, pending->text, pending->value);
            ::SysFreeString(pending->text);
            ::VariantClear(&pending->value);
            delete pending;
            return 0;
        }
        case WM_DESTROY:
            owner_->OnWindowDestroyed();
            return 0;
        default:
            return 0;
    }
}

LONG RegisterKey(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value) {
    HKEY key = nullptr;
    LONG rc = ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    rc = ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
    return rc;
}

std::wstring ClsidText() {
    wchar_t text[40];
    ::StringFromGUID2(CLSID_PageProbe, text, 40);
    return text;
}

}  // namespace

extern "C" HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!::IsEqualCLSID(clsid, CLSID_PageProbe)) return CLASS_E_CLASSNOTAVAILABLE;
    comfw::ComPtr<comfw::ClassFactory<ProbeControl>> factory;
    const HRESULT hr = comfw::ClassFactory<ProbeControl>::Make(factory);
    if (FAILED(hr)) return hr;
    return factory->QueryInterface(riid, ppv);
}

extern "C" HRESULT __stdcall DllCanUnloadNow() { return comfw::Module::LockCount() == 0 ? S_OK : S_FALSE; }

// Registration in HKEY_CLASSES_ROOT: the class, its in-process server with the
// apartment model, and the ProgID.
extern "C" HRESULT __stdcall DllRegisterServer() {
    wchar_t path[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(comfw::Module::Handle(), path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return comfw::LastErrorHresult();
    const std::wstring clsid = L"CLSID\\" + ClsidText();
    LONG rc = RegisterKey(HKEY_CLASSES_ROOT, clsid, nullptr, L"Page host probe control");
    if (rc == ERROR_SUCCESS) rc = RegisterKey(HKEY_CLASSES_ROOT, clsid + L"\\InprocServer32", nullptr, path);
    if (rc == ERROR_SUCCESS)
        rc = RegisterKey(HKEY_CLASSES_ROOT, clsid + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
    if (rc == ERROR_SUCCESS) rc = RegisterKey(HKEY_CLASSES_ROOT, clsid + L"\\ProgID", nullptr, kProgId);
    if (rc == ERROR_SUCCESS) rc = RegisterKey(HKEY_CLASSES_ROOT, std::wstring(kProgId) + L"\\CLSID", nullptr, ClsidText());
    return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc);
}

extern "C" HRESULT __stdcall DllUnregisterServer() {
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + ClsidText()).c_str());
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, kProgId);
    return S_OK;
}
