#include "pagehost/controlSite.h"

#include "comfw/foreignPrint.h"

#include <objsafe.h>
#include <olectl.h>

#include "comfw/bstr.h"
#include "comfw/oleControlBase.h"
#include "comfw/variant.h"
#include "pagehost/eventSink.h"
#include "pagehost/page.h"

namespace pagehost {

HRESULT ClassIdOf(const std::wstring& text, CLSID& out) noexcept {
    std::wstring t = text;
    if (t.size() > 6 && ::CompareStringOrdinal(t.c_str(), 6, L"clsid:", 6, TRUE) == CSTR_EQUAL)
        t = L"{" + t.substr(6) + L"}";
    if (!t.empty() && t[0] == L'{') return ::CLSIDFromString(t.c_str(), &out);
    return ::CLSIDFromProgID(t.c_str(), &out);
}

ControlSite::ControlSite(Page* page, std::wstring id, Length width, Length height) noexcept
    : page_(page), id_(std::move(id)), width_(width), height_(height) {}

ControlSite::~ControlSite() = default;

HWND ControlSite::controlWindow() const noexcept {
    HWND hwnd = nullptr;
    if (inPlace_ && SUCCEEDED(inPlace_->GetWindow(&hwnd))) return hwnd;
    return nullptr;
}

HRESULT ControlSite::Create(const CLSID& clsid, const ParamList& params, const RECT& rect,
                            std::wstring& error) noexcept {
    rect_ = rect;
    HRESULT hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, control_.put_void());
    if (FAILED(hr)) { error = L"CoCreateInstance"; return hr; }
    control_.query(oleObject_);

    // Like a browser: the client site first, so that the control can read
    // ambient properties and its document while it loads.
    if (oleObject_) {
        hr = oleObject_->SetClientSite(this);
        if (FAILED(hr)) { error = L"IOleObject::SetClientSite"; return hr; }
    }

    comfw::ComPtr<IObjectSafety> safety;
    // objsafe.h declares no __uuidof for IObjectSafety.
    control_->QueryInterface(IID_IObjectSafety, safety.put_void());
    comfw::ComPtr<IPersistPropertyBag> persist;
    control_.query(persist);
    if (persist) {
        // Params come from the page, so they are untrusted data; the control
        // must agree to that before it reads them.
        if (safety) {
            hr = safety->SetInterfaceSafetyOptions(IID_IPersistPropertyBag, INTERFACESAFE_FOR_UNTRUSTED_DATA,
                                                   INTERFACESAFE_FOR_UNTRUSTED_DATA);
            if (FAILED(hr)) page_->Warn(L"control \"" + id_ + L"\" is not safe for initialization", hr);
        }
        ParamList all = params;
        const SIZE himetric = comfw::PixelsToHimetric(SIZE{rect.right - rect.left, rect.bottom - rect.top});
        auto has = [&](const wchar_t* name) {
            for (const auto& p : params) if (::lstrcmpiW(p.first.c_str(), name) == 0) return true;
            return false;
        };
        if (!has(L"_cx")) all.emplace_back(L"_cx", std::to_wstring(himetric.cx));
        if (!has(L"_cy")) all.emplace_back(L"_cy", std::to_wstring(himetric.cy));
        comfw::ComPtr<PropertyBag> bag;
        hr = PropertyBag::Make(bag, std::move(all));
        if (SUCCEEDED(hr)) hr = persist->Load(bag.get(), nullptr);
        if (FAILED(hr)) { error = L"IPersistPropertyBag::Load"; return hr; }
    } else {
        comfw::ComPtr<IPersistStreamInit> stream;
        if (SUCCEEDED(control_.query(stream))) stream->InitNew();
    }

    if (safety) {
        hr = safety->SetInterfaceSafetyOptions(IID_IDispatch,
                                               INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA,
                                               INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA);
        if (FAILED(hr)) page_->Warn(L"control \"" + id_ + L"\" is not safe for scripting", hr);
    }

    if (oleObject_) {
        RECT r = rect_;
        hr = oleObject_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, this, 0, page_->Window(), &r);
        if (FAILED(hr)) { error = L"IOleObject::DoVerb(OLEIVERB_INPLACEACTIVATE)"; return hr; }
    }

    hr = ConnectEvents();
    if (FAILED(hr)) page_->Warn(L"control \"" + id_ + L"\": its events cannot reach the page", hr);
    return S_OK;
}

HRESULT ControlSite::ConnectEvents() noexcept {
    comfw::ComPtr<IProvideClassInfo> classInfo;
    if (FAILED(control_.query(classInfo))) return S_FALSE;  // a control without events
    IID eventIid = IID_NULL;
    comfw::ComPtr<IProvideClassInfo2> classInfo2;
    if (SUCCEEDED(control_.query(classInfo2))) classInfo2->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &eventIid);

    comfw::ComPtr<ITypeInfo> coclass;
    HRESULT hr = classInfo->GetClassInfo(coclass.put());
    if (FAILED(hr)) return hr;
    // The default source interface among the class's implemented types.
    TYPEATTR* attr = nullptr;
    hr = coclass->GetTypeAttr(&attr);
    if (FAILED(hr)) return hr;
    const WORD implCount = attr->cImplTypes;
    coclass->ReleaseTypeAttr(attr);
    comfw::ComPtr<ITypeInfo> events;
    for (UINT i = 0; i < implCount && !events; ++i) {
        INT flags = 0;
        if (FAILED(coclass->GetImplTypeFlags(i, &flags))) continue;
        if ((flags & (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE)) != (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE))
            continue;
        HREFTYPE ref = 0;
        if (FAILED(coclass->GetRefTypeOfImplType(i, &ref))) continue;
        coclass->GetRefTypeInfo(ref, events.put());
    }
    if (!events) return S_FALSE;
    hr = events->GetTypeAttr(&attr);
    if (FAILED(hr)) return hr;
    const IID typeIid = attr->guid;
    events->ReleaseTypeAttr(attr);
    if (::IsEqualIID(eventIid, IID_NULL)) eventIid = typeIid;

    std::map<DISPID, std::wstring> names;
    hr = EventSink::NamesOf(events.get(), names);
    if (FAILED(hr)) return hr;
    comfw::ComPtr<IConnectionPointContainer> container;
    hr = control_.query(container);
    if (FAILED(hr)) return hr;
    hr = container->FindConnectionPoint(eventIid, eventPoint_.put());
    if (FAILED(hr)) return hr;
    hr = EventSink::Make(sink_, page_, id_, eventIid, std::move(names));
    if (FAILED(hr)) return hr;
    hr = eventPoint_->Advise(static_cast<IDispatch*>(sink_.get()), &eventCookie_);
    if (FAILED(hr)) {
        eventPoint_.reset();
        sink_.reset();
    }
    return hr;
}

void ControlSite::Move(const RECT& rect) noexcept {
    rect_ = rect;
    if (inPlace_) {
        RECT pos = rect_, clip = rect_;
        inPlace_->SetObjectRects(&pos, &clip);
    }
}

void ControlSite::Close() noexcept {
    if (closed_) return;
    closed_ = true;
    if (eventPoint_ && eventCookie_) eventPoint_->Unadvise(eventCookie_);
    eventCookie_ = 0;
    eventPoint_.reset();
    if (sink_) sink_->Detach();
    sink_.reset();
    if (inPlace_) {
        comfw::ComPtr<IOleInPlaceObject> inPlace = inPlace_;
        inPlace->InPlaceDeactivate();
    }
    if (oleObject_) {
        oleObject_->Close(OLECLOSE_NOSAVE);
        oleObject_->SetClientSite(nullptr);
    }
    inPlace_.reset();
}

void ControlSite::DrawTo(HDC dc) noexcept {
    if (closed_ || !control_) return;
    // A control with a window shows what its window shows, children of other
    // processes (an embedded console) included.
    if (HWND hwnd = controlWindow()) {
        POINT old{};
        ::SetViewportOrgEx(dc, rect_.left, rect_.top, &old);
        ::SendMessageW(hwnd, WM_PRINT, reinterpret_cast<WPARAM>(dc),
                       PRF_CLIENT | PRF_NONCLIENT | PRF_ERASEBKGND | PRF_CHILDREN);
        ::SetViewportOrgEx(dc, old.x, old.y, nullptr);
        DrawForeignChildren(hwnd, dc);
        return;
    }
    comfw::ComPtr<IViewObject> view;
    if (SUCCEEDED(control_.query(view))) {
        RECTL bounds{rect_.left, rect_.top, rect_.right, rect_.bottom};
        view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0);
    }
}

namespace {

struct ForeignWalk {
    HWND control;
    HDC dc;
    POINT origin;
};

// An EnumChildWindows callback: a lambda would have the wrong calling
// convention for x86.
BOOL CALLBACK PrintIfForeign(HWND child, LPARAM lp) {
    auto& w = *reinterpret_cast<ForeignWalk*>(lp);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(child, &pid);
    if (pid == ::GetCurrentProcessId() || !::IsWindowVisible(child)) return TRUE;
    POINT at{0, 0};
    ::MapWindowPoints(child, w.control, &at, 1);
    comfw::PrintForeignWindow(child, w.dc, w.origin.x + at.x, w.origin.y + at.y);
    return TRUE;
}

}  // namespace

void ControlSite::DrawForeignChildren(HWND hwnd, HDC dc) noexcept {
    ForeignWalk walk{hwnd, dc, POINT{rect_.left, rect_.top}};
    ::EnumChildWindows(hwnd, PrintIfForeign, reinterpret_cast<LPARAM>(&walk));
}

STDMETHODIMP ControlSite::GetMoniker(DWORD, DWORD, IMoniker** out) noexcept {
    if (out) *out = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP ControlSite::GetContainer(IOleContainer** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!page_) return E_UNEXPECTED;
    return page_->Document(out);
}

STDMETHODIMP ControlSite::GetWindow(HWND* out) noexcept {
    if (!out) return E_POINTER;
    *out = page_ ? page_->Window() : nullptr;
    return *out ? S_OK : E_FAIL;
}

STDMETHODIMP ControlSite::OnInPlaceActivate() noexcept {
    if (closed_) return E_UNEXPECTED;
    return control_.query(inPlace_);
}

STDMETHODIMP ControlSite::OnInPlaceActivateEx(BOOL* noRedraw, DWORD) noexcept {
    if (noRedraw) *noRedraw = FALSE;
    return OnInPlaceActivate();
}

STDMETHODIMP ControlSite::OnInPlaceDeactivate() noexcept {
    inPlace_.reset();
    return S_OK;
}

STDMETHODIMP ControlSite::DeactivateAndUndo() noexcept {
    if (inPlace_) inPlace_->UIDeactivate();
    return S_OK;
}

STDMETHODIMP ControlSite::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos,
                                           LPRECT clip, LPOLEINPLACEFRAMEINFO info) noexcept {
    if (!frame || !doc || !pos || !clip || !info) return E_POINTER;
    *frame = nullptr;
    *doc = nullptr;
    if (!page_) return E_UNEXPECTED;
    HRESULT hr = page_->Frame(frame);
    if (FAILED(hr)) return hr;
    // The page has no separate document window: the frame serves as both.
    (*frame)->AddRef();
    *doc = *frame;
    *pos = rect_;
    *clip = rect_;
    info->fMDIApp = FALSE;
    info->hwndFrame = page_->Window();
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
}

STDMETHODIMP ControlSite::OnPosRectChange(LPCRECT rect) noexcept {
    if (!rect) return E_POINTER;
    // The page lays controls out; a control that asks to move is put back.
    Move(rect_);
    return S_OK;
}

STDMETHODIMP ControlSite::GetExtendedControl(IDispatch** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP ControlSite::TransformCoords(POINTL* himetric, POINTF* container, DWORD flags) noexcept {
    if (!himetric || !container || !page_) return E_POINTER;
    if (flags & XFORMCOORDS_HIMETRICTOCONTAINER) {
        const SIZE px = comfw::HimetricToPixels(SIZE{himetric->x, himetric->y});
        container->x = static_cast<float>(px.cx);
        container->y = static_cast<float>(px.cy);
    } else if (flags & XFORMCOORDS_CONTAINERTOHIMETRIC) {
        const SIZE hm =
            comfw::PixelsToHimetric(SIZE{static_cast<LONG>(container->x), static_cast<LONG>(container->y)});
        himetric->x = hm.cx;
        himetric->y = hm.cy;
    } else {
        return E_INVALIDARG;
    }
    return S_OK;
}

STDMETHODIMP ControlSite::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS*, VARIANT* result,
                                 EXCEPINFO*, UINT*) noexcept {
    if (!::IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (!(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
    if (!result) return E_POINTER;
    ::VariantInit(result);
    comfw::Variant value;
    switch (id) {
        case DISPID_AMBIENT_USERMODE: value = comfw::Variant::Bool(true); break;   // run mode, not design
        case DISPID_AMBIENT_UIDEAD: value = comfw::Variant::Bool(false); break;
        case DISPID_AMBIENT_SHOWHATCHING:
        case DISPID_AMBIENT_SHOWGRABHANDLES:
        case DISPID_AMBIENT_MESSAGEREFLECT: value = comfw::Variant::Bool(false); break;
        case DISPID_AMBIENT_LOCALEID: value = comfw::Variant::I4(static_cast<LONG>(::GetUserDefaultLCID())); break;
        case DISPID_AMBIENT_BACKCOLOR: value = comfw::Variant::I4(static_cast<LONG>(::GetSysColor(COLOR_WINDOW))); break;
        case DISPID_AMBIENT_FORECOLOR: value = comfw::Variant::I4(static_cast<LONG>(::GetSysColor(COLOR_WINDOWTEXT))); break;
        case DISPID_AMBIENT_DISPLAYNAME: {
            comfw::Bstr name;
            if (FAILED(comfw::Bstr::FromString(id_, name))) return E_OUTOFMEMORY;
            value = comfw::Variant::OwnBstr(name.detach());
            break;
        }
        default: return DISP_E_MEMBERNOTFOUND;
    }
    value.detach_to(result);
    return S_OK;
}

}  // namespace pagehost
