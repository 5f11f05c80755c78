// The page host's probe control, of comfw's control mixins: it records the container's calls that pages check, tells
// script that record, its document's location and its window's place, and fires events at once or from its window.
#include <windows.h>
#include <mshtml.h>
#include <deque>
#include <string>

#include "comfw/bstr.h"
#include "comfw/classFactory.h"
#include "comfw/hresult.h"
#include "comfw/oleControl.h"
#include "comfw/variant.h"
#include "pageProbe.h"

namespace {

constexpr UINT kLaterMessage = WM_APP + 1;
constexpr wchar_t kProgId[] = L"PageHostTest.Probe";

HRESULT GiveText(const std::wstring& text, BSTR* out) noexcept {
    if (!out) return E_POINTER;
    *out = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

class ProbeControl final
    : public comfw::ComObject<ProbeControl, comfw::DispatchFromTypeLib<IPageProbe>, comfw::OleObjectImpl<ProbeControl>,
                              comfw::OleInPlaceObjectWindowlessImpl<ProbeControl>,
                              comfw::PersistPropertyBagImpl<ProbeControl>,
                              comfw::ProvideClassInfo2Impl<&CLSID_PageProbe, &DIID_DPageProbeEvents>,
                              comfw::ConnectionPointContainerImpl<&DIID_DPageProbeEvents>,
                              comfw::ObjectSafetyImpl<ProbeControl>>,
      public comfw::OleControlBase<ProbeControl> {
public:
    static const CLSID& class_id() noexcept { return CLSID_PageProbe; }
    static comfw::PropertyMap<ProbeControl> property_map() noexcept {
        static const comfw::PropertyEntry<ProbeControl> entries[] = {
            comfw::ExtentWidthProperty<ProbeControl>(L"_cx"), comfw::ExtentHeightProperty<ProbeControl>(L"_cy")};
        return comfw::PropertyMap<ProbeControl>(entries);
    }

    // IPageProbe. A failure on the way to the document's location fails the property.
    STDMETHODIMP get_origin(BSTR* text) noexcept override {
        comfw::ComPtr<IHTMLLocation> location;
        comfw::Bstr protocol, hostname, port;
        HRESULT hr = LocationOf(location);
        if (SUCCEEDED(hr)) hr = location->get_protocol(protocol.put());
        if (SUCCEEDED(hr)) hr = location->get_hostname(hostname.put());
        if (SUCCEEDED(hr)) hr = location->get_port(port.put());
        return FAILED(hr) ? hr : GiveText(protocol.str() + L"," + hostname.str() + L"," + port.str(), text);
    }
    STDMETHODIMP get_href(BSTR* text) noexcept override {
        comfw::ComPtr<IHTMLLocation> location;
        const HRESULT hr = LocationOf(location);
        return FAILED(hr) ? hr : location->get_href(text);
    }
    STDMETHODIMP get_loaded(BSTR* text) noexcept override { return GiveText(loaded_, text); }
    STDMETHODIMP get_steps(BSTR* text) noexcept override { return GiveText(steps_, text); }
    STDMETHODIMP get_windowState(BSTR* text) noexcept override {
        if (!hwnd()) return GiveText(destroyed_ ? L"destroyed" : L"none", text);
        RECT r{};
        ::GetWindowRect(hwnd(), &r);
        ::MapWindowPoints(nullptr, ::GetParent(hwnd()), reinterpret_cast<POINT*>(&r), 2);
        return GiveText(std::to_wstring(r.left) + L"," + std::to_wstring(r.top) + L"," +
                        std::to_wstring(r.right - r.left) + L"," + std::to_wstring(r.bottom - r.top), text);
    }
    STDMETHODIMP ping(BSTR text, VARIANT value) noexcept override { return Fire(1, text, value); }
    STDMETHODIMP pingLater(BSTR text, VARIANT value) noexcept override {
        if (!hwnd()) return E_UNEXPECTED;
        try { later_.emplace_back(); } catch (...) { return E_OUTOFMEMORY; }
        HRESULT hr = comfw::Bstr::FromText(text, later_.back().text);
        if (SUCCEEDED(hr)) hr = later_.back().value.copy_from(value);
        if (SUCCEEDED(hr) && !::PostMessageW(hwnd(), kLaterMessage, 0, 0)) hr = comfw::LastErrorHresult();
        if (FAILED(hr)) later_.pop_back();
        return hr;
    }
    STDMETHODIMP get_userMode(VARIANT_BOOL* value) noexcept override {
        if (!value) return E_POINTER;
        comfw::Variant mode;
        const HRESULT hr = ambient(DISPID_AMBIENT_USERMODE, mode.ptr());
        *value = mode.vt() == VT_BOOL ? mode.get().boolVal : VARIANT_FALSE;
        return hr;
    }

    // The container's calls that pages check, recorded before the mixins run them.
    STDMETHODIMP SetClientSite(IOleClientSite* site) noexcept override {
        Step(site ? L"SetClientSite" : L"SetClientSite(null)");
        return OleObjectImpl::SetClientSite(site);
    }
    STDMETHODIMP DoVerb(LONG verb, LPMSG m, IOleClientSite* s, LONG i, HWND w, LPCRECT r) noexcept override {
        Step(L"DoVerb(" + std::to_wstring(verb) + L")");
        return OleObjectImpl::DoVerb(verb, m, s, i, w, r);
    }
    STDMETHODIMP Close(DWORD option) noexcept override { Step(L"Close"); return OleObjectImpl::Close(option); }
    STDMETHODIMP InPlaceDeactivate() noexcept override {
        Step(L"InPlaceDeactivate");
        return OleInPlaceObjectWindowlessImpl::InPlaceDeactivate();
    }
    STDMETHODIMP SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD enabled) noexcept override {
        const wchar_t* which = ::IsEqualIID(riid, IID_IDispatch)              ? L"SafeForScripting"
                               : ::IsEqualIID(riid, IID_IPersistPropertyBag) ? L"SafeForData"
                                                                             : L"SafeForOther";
        Step(std::wstring(which) + L"(" + std::to_wstring(mask) + L"/" + std::to_wstring(enabled) + L")");
        return ObjectSafetyImpl::SetInterfaceSafetyOptions(riid, mask, enabled);
    }
    // Unlike the mixin's untyped reads, asks for _cx, _cy and count as numbers: the page's bag converts text or fails.
    STDMETHODIMP Load(IPropertyBag* bag, IErrorLog* log) noexcept override {
        Step(L"Load");
        if (!bag) return E_POINTER;
        loaded_.clear();
        for (const auto& [name, type] : {std::pair<const wchar_t*, VARTYPE>{L"_cx", VT_I4}, {L"_cy", VT_I4},
                                         {L"label", VT_EMPTY}, {L"count", VT_I4}}) {
            comfw::Variant value, text;
            value.ptr()->vt = type;
            const HRESULT hr = bag->Read(name, value.ptr(), log);
            wchar_t status[16];
            swprintf(status, 16, L"!0x%08lx", static_cast<unsigned long>(hr));
            if (SUCCEEDED(hr)) ::VariantChangeType(text.ptr(), value.ptr(), 0, VT_BSTR);
            loaded_ += (loaded_.empty() ? L"" : L";") + std::wstring(name) + L"=" +
                       (hr == E_INVALIDARG ? L"-"
                        : FAILED(hr)       ? std::wstring(status)
                                           : comfw::TextOf(text.get().bstrVal) + L"/" + std::to_wstring(value.vt()));
        }
        return S_OK;
    }

    // The control window's end, and the events posted to it.
    LRESULT OnControlMessage(UINT msg, WPARAM, LPARAM, bool& handled) noexcept {
        if (msg == WM_DESTROY) destroyed_ = true;
        if (msg == kLaterMessage && !later_.empty()) {
            const Pending pending = std::move(later_.front());
            later_.pop_front();
            Fire(2, pending.text.get(), pending.value.get());
        }
        handled = msg == kLaterMessage;
        return 0;
    }

private:
    struct Pending { comfw::Bstr text; comfw::Variant value; };

    void Step(const std::wstring& step) { steps_ += (steps_.empty() ? L"" : L" ") + step; }

    HRESULT Fire(DISPID id, BSTR text, const VARIANT& value) noexcept {
        VARIANT args[2] = {value};  // in reverse order: value is the last one
        args[1].vt = VT_BSTR;
        args[1].bstrVal = text;
        DISPPARAMS params{args, nullptr, 2, 0};
        comfw::ComPtr<ProbeControl> keep(this);  // a handler may destroy the control
        comfw::ConnectionPoint& point = connection_point();
        for (size_t i = 0; i < point.slot_count(); ++i) {
            comfw::ComPtr<IDispatch> sink;
            if (point.slot(i) && SUCCEEDED(point.slot(i)->QueryInterface(IID_IDispatch, sink.put_void())))
                sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
        }
        return S_OK;
    }

    // The document comes through the client site, as a control in a browser finds it.
    HRESULT LocationOf(comfw::ComPtr<IHTMLLocation>& location) noexcept {
        comfw::ComPtr<IOleContainer> container;
        comfw::ComPtr<IHTMLDocument2> document;
        if (!client_site()) return E_UNEXPECTED;
        COMFW_RETURN_IF_FAILED(client_site()->GetContainer(container.put()));
        COMFW_RETURN_IF_FAILED(container.query(document));
        return document->get_location(location.put());
    }

    std::wstring loaded_, steps_;
    std::deque<Pending> later_;
    bool destroyed_ = false;
};

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
    return FAILED(hr) ? hr : factory->QueryInterface(riid, ppv);
}

extern "C" HRESULT __stdcall DllCanUnloadNow() { return comfw::Module::LockCount() == 0 ? S_OK : S_FALSE; }

// Registration in HKEY_CLASSES_ROOT: the class, its in-process server with the apartment model, and the ProgID.
extern "C" HRESULT __stdcall DllRegisterServer() {
    std::wstring path;
    COMFW_RETURN_IF_FAILED(comfw::Module::FileName(comfw::Module::Handle(), path));
    const std::wstring clsid = L"CLSID\\" + ClsidText(), server = clsid + L"\\InprocServer32";
    const struct { std::wstring key; const wchar_t* name; std::wstring value; } entries[] = {
        {clsid, nullptr, L"Page host probe control"}, {server, nullptr, path},
        {server, L"ThreadingModel", L"Apartment"}, {clsid + L"\\ProgID", nullptr, kProgId},
        {std::wstring(kProgId) + L"\\CLSID", nullptr, ClsidText()}};
    for (const auto& e : entries) {
        const LONG rc = ::RegSetKeyValueW(HKEY_CLASSES_ROOT, e.key.c_str(), e.name, REG_SZ, e.value.c_str(),
                                          static_cast<DWORD>((e.value.size() + 1) * sizeof(wchar_t)));
        if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
    }
    return S_OK;
}

extern "C" HRESULT __stdcall DllUnregisterServer() {
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + ClsidText()).c_str());
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, kProgId);
    return S_OK;
}
