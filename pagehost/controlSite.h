// The container's site for one control: the client site, the in-place site,
// the control site and the ambient properties. It also owns the control and
// takes it through a browser's steps: create, set the client site, load the
// params, mark safe, activate in place, connect the page's event handlers,
// and at the end deactivate and close.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <oleidl.h>
#include <map>
#include <string>

#include "comfw/comObject.h"
#include "comfw/dispatch.h"
#include "pagehost/pageSource.h"
#include "pagehost/propertyBag.h"

namespace pagehost {

class Page;
class EventSink;

class ControlSite final
    : public comfw::ComObject<ControlSite, IOleClientSite, IOleInPlaceSiteEx, IOleControlSite,
                              comfw::DispatchByIdOnly<IDispatch>> {
public:
    ControlSite(Page* page, std::wstring id, Length width, Length height) noexcept;
    ~ControlSite() override;

    const std::wstring& id() const noexcept { return id_; }
    const Length& width() const noexcept { return width_; }
    const Length& height() const noexcept { return height_; }
    IUnknown* control() const noexcept { return control_.get(); }
    bool closed() const noexcept { return closed_; }
    // The control's own window, once it is active in place.
    HWND controlWindow() const noexcept;
    const RECT& rect() const noexcept { return rect_; }

    // Creates the control and takes it through the steps up to connecting
    // events. `rect` is its place in the host window. On failure `error`
    // names the step.
    HRESULT Create(const CLSID& clsid, const ParamList& params, const RECT& rect, std::wstring& error) noexcept;
    // Moves an active control.
    void Move(const RECT& rect) noexcept;
    // Disconnects events, deactivates, closes and lets go of the client site.
    void Close() noexcept;
    // Draws the control into a device context at its place (for screenshots).
    void DrawTo(HDC dc) noexcept;
    // Prints the visible descendants of `hwnd` that belong to other processes.
    void DrawForeignChildren(HWND hwnd, HDC dc) noexcept;

    // IOleClientSite
    STDMETHODIMP SaveObject() noexcept override { return S_OK; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** out) noexcept override;
    STDMETHODIMP GetContainer(IOleContainer** out) noexcept override;
    STDMETHODIMP ShowObject() noexcept override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) noexcept override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() noexcept override { return E_NOTIMPL; }

    // IOleWindow
    STDMETHODIMP GetWindow(HWND* out) noexcept override;
    STDMETHODIMP ContextSensitiveHelp(BOOL) noexcept override { return E_NOTIMPL; }
    // IOleInPlaceSite
    STDMETHODIMP CanInPlaceActivate() noexcept override { return closed_ ? S_FALSE : S_OK; }
    STDMETHODIMP OnInPlaceActivate() noexcept override;
    STDMETHODIMP OnUIActivate() noexcept override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos, LPRECT clip,
                                  LPOLEINPLACEFRAMEINFO info) noexcept override;
    STDMETHODIMP Scroll(SIZE) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) noexcept override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() noexcept override;
    STDMETHODIMP DiscardUndoState() noexcept override { return S_OK; }
    STDMETHODIMP DeactivateAndUndo() noexcept override;
    STDMETHODIMP OnPosRectChange(LPCRECT rect) noexcept override;
    // IOleInPlaceSiteEx
    STDMETHODIMP OnInPlaceActivateEx(BOOL* noRedraw, DWORD) noexcept override;
    STDMETHODIMP OnInPlaceDeactivateEx(BOOL) noexcept override { return OnInPlaceDeactivate(); }
    STDMETHODIMP RequestUIActivate() noexcept override { return S_OK; }

    // IOleControlSite
    STDMETHODIMP OnControlInfoChanged() noexcept override { return S_OK; }
    STDMETHODIMP LockInPlaceActive(BOOL) noexcept override { return S_OK; }
    STDMETHODIMP GetExtendedControl(IDispatch** out) noexcept override;
    STDMETHODIMP TransformCoords(POINTL* himetric, POINTF* container, DWORD flags) noexcept override;
    STDMETHODIMP TranslateAccelerator(MSG*, DWORD) noexcept override { return S_FALSE; }
    STDMETHODIMP OnFocus(BOOL) noexcept override { return S_OK; }
    STDMETHODIMP ShowPropertyFrame() noexcept override { return E_NOTIMPL; }

    // IDispatch: the ambient properties a control reads from its site.
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO*, UINT*) noexcept override;

private:
    HRESULT ConnectEvents() noexcept;

    Page* page_;
    std::wstring id_;
    Length width_;
    Length height_;
    RECT rect_{};
    bool closed_ = false;
    comfw::ComPtr<IUnknown> control_;
    comfw::ComPtr<IOleObject> oleObject_;
    comfw::ComPtr<IOleInPlaceObject> inPlace_;
    comfw::ComPtr<IConnectionPoint> eventPoint_;
    comfw::ComPtr<EventSink> sink_;
    DWORD eventCookie_ = 0;
};

// "{...}", "clsid:..." or a ProgID to a class ID.
HRESULT ClassIdOf(const std::wstring& text, CLSID& out) noexcept;

}  // namespace pagehost
