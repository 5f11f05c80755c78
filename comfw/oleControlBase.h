// OleControlBase<Derived>: the state that every embedding mixin of a control
// shares (sites, extent, rectangles, activation flags, advise holders, dirty
// flag, ambient properties), the control window and the activation steps that
// several interfaces run (IOleObject::DoVerb, WM_SETFOCUS, InPlaceDeactivate,
// IOleObject::Close). The mixins reach it through the Derived object, so its
// members carry lower-case names that never collide with an interface method.
//
// Window messages go first to Derived::OnControlMessage; the ones it leaves
// unhandled get the control handling below (painting, focus, activation) and
// then DefWindowProc.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <ocidl.h>
#include <olectl.h>

#include "comfw/comPtr.h"
#include "comfw/hresult.h"
#include "comfw/window.h"

namespace comfw {

// What QuickActivate hands over in one call instead of separate ambient reads.
struct QuickAmbients {
    bool valid = false;
    DWORD flags = 0;  // QACONTAINERFLAGS
    OLE_COLOR foreColor = 0;
    OLE_COLOR backColor = 0;
    DWORD appearance = 0;
    LCID lcid = 0;
    ComPtr<IFont> font;
};

// HIMETRIC (0.01 mm) and device pixels at the screen's resolution.
SIZEL HimetricToPixels(SIZEL himetric) noexcept;
SIZEL PixelsToHimetric(SIZEL pixels) noexcept;

// Renders a picture of `himetric` size into a new Windows metafile: `draw`
// gets the metafile's device context and the bounds in its logical units.
// Returns the METAFILEPICT global memory handle for an STGMEDIUM.
HRESULT RenderMetafilePict(SIZEL himetric, HRESULT (*draw)(void* context, HDC dc, const RECT& bounds),
                           void* context, HGLOBAL* out) noexcept;

// Reads one ambient property from the client site's IDispatch.
HRESULT ReadAmbientFromSite(IOleClientSite* site, DISPID id, VARIANT* out) noexcept;

// Places a child window at `pos`, clipped to `clip` with a window region when
// the container gives a smaller visible part.
void PlaceChildWindow(HWND hwnd, const RECT& pos, const RECT& clip) noexcept;

template <class Derived>
class OleControlBase : public Window<Derived> {
public:
    // The style of the control's child window.
    static constexpr DWORD kWindowStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    // Reported by IViewObjectEx::GetViewStatus and QuickActivate; Derived may
    // declare its own kViewStatus.
    static constexpr DWORD kViewStatus = VIEWSTATUS_OPAQUE | VIEWSTATUS_SOLIDBKGND;

    using Window<Derived>::hwnd;

    // ---- Hooks with defaults; Derived declares its own to take part. ----

    // Every message of the control window, before the control handling.
    LRESULT OnControlMessage(UINT, WPARAM, LPARAM, bool& handled) noexcept {
        handled = false;
        return 0;
    }
    // Drawing for WM_PAINT, IViewObject::Draw and the metafile of IDataObject.
    HRESULT OnDraw(HDC, const RECT&) noexcept { return S_OK; }
    // IOleControl::OnAmbientPropertyChange (DISPID_UNKNOWN: several changed).
    void OnAmbientChanged(DISPID) noexcept {}

    // ---- Shared state ----

    IOleClientSite* client_site() const noexcept { return clientSite_.get(); }
    IOleInPlaceSite* in_place_site() const noexcept { return inPlaceSite_.get(); }
    bool in_place_active() const noexcept { return inPlaceActive_; }
    bool ui_active() const noexcept { return uiActive_; }
    // The container's window the control window is a child of.
    HWND container_window() const noexcept { return containerWindow_; }
    const RECT& position_rect() const noexcept { return posRect_; }
    const RECT& clip_rect() const noexcept { return clipRect_; }
    // The extent of the content aspect, HIMETRIC.
    SIZEL extent() const noexcept { return extent_; }
    void set_extent(SIZEL extent) noexcept { extent_ = extent; }
    bool dirty() const noexcept { return dirty_; }
    void set_dirty(bool dirty) noexcept { dirty_ = dirty; }
    bool events_frozen() const noexcept { return freezeCount_ > 0; }
    QuickAmbients& quick_ambients() noexcept { return quick_; }

    // View advise sink of IViewObject::SetAdvise.
    void set_view_advise(DWORD aspects, DWORD advf, IAdviseSink* sink) noexcept {
        viewAspects_ = aspects;
        viewAdvf_ = advf;
        viewSink_ = ComPtr<IAdviseSink>(sink);
    }
    IAdviseSink* view_sink() const noexcept { return viewSink_.get(); }
    DWORD view_aspects() const noexcept { return viewAspects_; }
    DWORD view_advf() const noexcept { return viewAdvf_; }

    // The advise holders, made on first use.
    HRESULT ole_advise_holder(IOleAdviseHolder** out) noexcept {
        if (!oleAdvise_) COMFW_RETURN_IF_FAILED(::CreateOleAdviseHolder(oleAdvise_.put()));
        return oleAdvise_.copy_to(out);
    }
    HRESULT data_advise_holder(IDataAdviseHolder** out) noexcept {
        if (!dataAdvise_) COMFW_RETURN_IF_FAILED(::CreateDataAdviseHolder(dataAdvise_.put()));
        return dataAdvise_.copy_to(out);
    }
    bool has_ole_advise_holder() const noexcept { return static_cast<bool>(oleAdvise_); }
    bool has_data_advise_holder() const noexcept { return static_cast<bool>(dataAdvise_); }

    void set_client_site(IOleClientSite* site) noexcept {
        clientSite_ = ComPtr<IOleClientSite>(site);
        quick_ = QuickAmbients{};
    }
    void change_freeze_count(bool freeze) noexcept {
        if (freeze) ++freezeCount_;
        else if (freezeCount_ > 0) --freezeCount_;
    }
    void forget_quick_ambients() noexcept { quick_.valid = false; }

    // An ambient property: the values QuickActivate delivered, otherwise the
    // client site's IDispatch.
    HRESULT ambient(DISPID id, VARIANT* out) noexcept {
        if (!out) return E_POINTER;
        ::VariantInit(out);
        if (quick_.valid) {
            const HRESULT hr = QuickAmbient(id, out);
            if (hr != S_FALSE) return hr;
        }
        return ReadAmbientFromSite(clientSite_.get(), id, out);
    }

    // ---- Activation ----

    // In-place activation for a verb: asks the site, creates the control
    // window under the site's window at the site's position rectangle, and for
    // OLEIVERB_UIACTIVATE also makes the control UI-active. Ends with
    // IOleClientSite::ShowObject.
    HRESULT activate_in_place(LONG verb) noexcept {
        if (!clientSite_) return S_OK;  // nothing to activate in
        if (!inPlaceSite_) {
            ComPtr<IOleInPlaceSite> site;
            COMFW_RETURN_IF_FAILED(clientSite_.query(site));
            inPlaceSite_ = site;
        }
        ComPtr<IOleInPlaceSite> site = inPlaceSite_;  // survives re-entrant deactivation
        if (!inPlaceActive_) {
            const HRESULT can = site->CanInPlaceActivate();
            if (FAILED(can)) return can;
            if (can != S_OK) return E_FAIL;
            inPlaceActive_ = true;
            const HRESULT hr = site->OnInPlaceActivate();
            if (FAILED(hr)) {
                inPlaceActive_ = false;
                return hr;
            }
        }

        ComPtr<IOleInPlaceFrame> frame;
        ComPtr<IOleInPlaceUIWindow> doc;
        HWND parent = nullptr;
        if (site->GetWindow(&parent) == S_OK) {
            OLEINPLACEFRAMEINFO info{};
            info.cb = sizeof(info);
            RECT pos{}, clip{};
            COMFW_RETURN_IF_FAILED(site->GetWindowContext(frame.put(), doc.put(), &pos, &clip, &info));
            containerWindow_ = parent;
            if (!hwnd()) {
                posRect_ = pos;
                if (!this->CreateWindowFor(parent, &pos, nullptr, kWindowStyle, 0)) return LastErrorHresult();
            } else {
                ::ShowWindow(hwnd(), SW_SHOW);
            }
            place(pos, clip);
        }

        if (verb == OLEIVERB_UIACTIVATE && !uiActive_) {
            uiActive_ = true;
            const HRESULT hr = site->OnUIActivate();
            if (FAILED(hr)) {
                uiActive_ = false;
                return hr;
            }
            if (hwnd() && ::GetFocus() != hwnd()) ::SetFocus(hwnd());
            ComPtr<IOleInPlaceActiveObject> active;
            self().controlling_unknown()->QueryInterface(IID_IOleInPlaceActiveObject, active.put_void());
            if (frame) frame->SetActiveObject(active.get(), nullptr);
            if (doc) doc->SetActiveObject(active.get(), nullptr);
            if (frame) frame->SetBorderSpace(nullptr);
            if (doc) doc->SetBorderSpace(nullptr);
        }
        clientSite_->ShowObject();
        return S_OK;
    }

    // Leaves UI activity: removes the control from the frame's active object
    // and tells the site.
    HRESULT deactivate_ui() noexcept {
        if (!uiActive_) return S_OK;
        uiActive_ = false;
        ComPtr<IOleInPlaceSite> site = inPlaceSite_;
        if (!site) return S_OK;
        ComPtr<IOleInPlaceFrame> frame;
        ComPtr<IOleInPlaceUIWindow> doc;
        OLEINPLACEFRAMEINFO info{};
        info.cb = sizeof(info);
        RECT pos{}, clip{};
        if (SUCCEEDED(site->GetWindowContext(frame.put(), doc.put(), &pos, &clip, &info))) {
            if (doc) doc->SetActiveObject(nullptr, nullptr);
            if (frame) frame->SetActiveObject(nullptr, nullptr);
        }
        site->OnUIDeactivate(FALSE);
        return S_OK;
    }

    // Leaves in-place activity: UI deactivation first, then the control
    // window is destroyed and the site told. The site stays known until Close.
    HRESULT deactivate_in_place() noexcept {
        if (!inPlaceActive_) return S_OK;
        deactivate_ui();
        inPlaceActive_ = false;
        if (HWND window = hwnd()) ::DestroyWindow(window);
        if (ComPtr<IOleInPlaceSite> site = inPlaceSite_) site->OnInPlaceDeactivate();
        return S_OK;
    }

    // The container's new position and clip rectangles.
    void place(const RECT& pos, const RECT& clip) noexcept {
        posRect_ = pos;
        clipRect_ = clip;
        if (hwnd()) PlaceChildWindow(hwnd(), pos, clip);
    }

    // Close: the end of the embedding; the in-place site is let go.
    void release_in_place_site() noexcept { inPlaceSite_.reset(); }

    // ---- Notifications ----

    // The view changed: the view sink hears it, the window repaints.
    void view_changed() noexcept {
        if (hwnd()) ::InvalidateRect(hwnd(), nullptr, TRUE);
        if (ComPtr<IAdviseSink> sink = viewSink_) {
            if (viewAspects_ & DVASPECT_CONTENT) sink->OnViewChange(DVASPECT_CONTENT, -1);
            if (viewAdvf_ & ADVF_ONLYONCE) viewSink_.reset();
        }
    }
    // The data changed: the data advise sinks hear it.
    void data_changed() noexcept {
        if (ComPtr<IDataAdviseHolder> holder = dataAdvise_) {
            ComPtr<IDataObject> data;
            if (SUCCEEDED(self().controlling_unknown()->QueryInterface(IID_IDataObject, data.put_void())))
                holder->SendOnDataChange(data.get(), 0, 0);
        }
    }

    // The window procedure's entry (see window.h).
    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp, bool& handled) noexcept {
        handled = false;
        const LRESULT result = self().OnControlMessage(msg, wp, lp, handled);
        if (handled) return result;
        return ControlMessage(msg, wp, lp, handled);
    }

protected:
    OleControlBase() noexcept {
        // Two inches square until a container or the property map says more.
        extent_.cx = 2 * 2540;
        extent_.cy = 2 * 2540;
    }
    ~OleControlBase() {
        // A window still alive now must no longer reach a half-destroyed
        // object: unbind it, then destroy it.
        if (HWND window = hwnd()) {
            ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            ::DestroyWindow(window);
        }
    }

private:
    Derived& self() noexcept { return *static_cast<Derived*>(this); }

    LRESULT ControlMessage(UINT msg, WPARAM, LPARAM, bool& handled) noexcept {
        switch (msg) {
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = ::BeginPaint(hwnd(), &ps);
            if (dc) {
                RECT client{};
                ::GetClientRect(hwnd(), &client);
                self().OnDraw(dc, client);
                ::EndPaint(hwnd(), &ps);
            }
            handled = true;
            return 0;
        }
        case WM_SETFOCUS:
            if (inPlaceActive_ && !uiActive_) activate_in_place(OLEIVERB_UIACTIVATE);
            NotifyFocus(TRUE);
            return 0;
        case WM_KILLFOCUS:
            NotifyFocus(FALSE);
            return 0;
        case WM_MOUSEACTIVATE:
            // DefWindowProc then answers MA_ACTIVATE.
            if (inPlaceActive_ && !uiActive_) activate_in_place(OLEIVERB_UIACTIVATE);
            return 0;
        default:
            return 0;
        }
    }

    void NotifyFocus(BOOL gotFocus) noexcept {
        if (!inPlaceActive_ || !clientSite_) return;
        ComPtr<IOleControlSite> site;
        if (SUCCEEDED(clientSite_.query(site))) site->OnFocus(gotFocus);
    }

    HRESULT QuickAmbient(DISPID id, VARIANT* out) noexcept {
        auto flag = [&](DWORD bit) {
            out->vt = VT_BOOL;
            out->boolVal = (quick_.flags & bit) ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        };
        switch (id) {
        case DISPID_AMBIENT_USERMODE: return flag(QACONTAINER_USERMODE);
        case DISPID_AMBIENT_UIDEAD: return flag(QACONTAINER_UIDEAD);
        case DISPID_AMBIENT_SHOWHATCHING: return flag(QACONTAINER_SHOWHATCHING);
        case DISPID_AMBIENT_SHOWGRABHANDLES: return flag(QACONTAINER_SHOWGRABHANDLES);
        case DISPID_AMBIENT_AUTOCLIP: return flag(QACONTAINER_AUTOCLIP);
        case DISPID_AMBIENT_MESSAGEREFLECT: return flag(QACONTAINER_MESSAGEREFLECT);
        case DISPID_AMBIENT_SUPPORTSMNEMONICS: return flag(QACONTAINER_SUPPORTSMNEMONICS);
        case DISPID_AMBIENT_DISPLAYASDEFAULT: return flag(QACONTAINER_DISPLAYASDEFAULT);
        case DISPID_AMBIENT_FORECOLOR: out->vt = VT_I4; out->lVal = static_cast<LONG>(quick_.foreColor); return S_OK;
        case DISPID_AMBIENT_BACKCOLOR: out->vt = VT_I4; out->lVal = static_cast<LONG>(quick_.backColor); return S_OK;
        case DISPID_AMBIENT_APPEARANCE: out->vt = VT_I4; out->lVal = static_cast<LONG>(quick_.appearance); return S_OK;
        case DISPID_AMBIENT_LOCALEID: out->vt = VT_I4; out->lVal = static_cast<LONG>(quick_.lcid); return S_OK;
        case DISPID_AMBIENT_FONT:
            if (!quick_.font) return S_FALSE;
            out->vt = VT_DISPATCH;
            return quick_.font->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&out->pdispVal));
        default:
            return S_FALSE;
        }
    }

    ComPtr<IOleClientSite> clientSite_;
    ComPtr<IOleInPlaceSite> inPlaceSite_;
    HWND containerWindow_ = nullptr;
    SIZEL extent_{};
    RECT posRect_{};
    RECT clipRect_{};
    bool inPlaceActive_ = false;
    bool uiActive_ = false;
    bool dirty_ = false;
    int freezeCount_ = 0;
    ComPtr<IAdviseSink> viewSink_;
    DWORD viewAspects_ = 0;
    DWORD viewAdvf_ = 0;
    ComPtr<IOleAdviseHolder> oleAdvise_;
    ComPtr<IDataAdviseHolder> dataAdvise_;
    QuickAmbients quick_;
};

}  // namespace comfw
