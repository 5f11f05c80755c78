// In-place activation of a window-only control: IOleInPlaceObjectWindowless
// (with IOleInPlaceObject and IOleWindow) and IOleInPlaceActiveObject. The
// control always has a window of its own when active, so the windowless
// entry points answer as such a control does: the container never needs to
// route messages or drag and drop through them.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <oleidl.h>

namespace comfw {

template <class Derived>
class OleInPlaceObjectWindowlessImpl : public IOleInPlaceObjectWindowless {
public:
    using Interface = IOleInPlaceObjectWindowless;

    STDMETHODIMP GetWindow(HWND* window) noexcept override {
        if (!window) return E_POINTER;
        *window = self().hwnd();
        return *window ? S_OK : E_FAIL;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP InPlaceDeactivate() noexcept override { return self().deactivate_in_place(); }
    STDMETHODIMP UIDeactivate() noexcept override { return self().deactivate_ui(); }
    STDMETHODIMP SetObjectRects(LPCRECT pos, LPCRECT clip) noexcept override {
        if (!pos || !clip) return E_POINTER;
        self().place(*pos, *clip);
        return S_OK;
    }
    // The control has no undo state to reactivate into.
    STDMETHODIMP ReactivateAndUndo() noexcept override { return INPLACE_E_NOTUNDOABLE; }
    // Its own window gets its messages; none come through the container.
    STDMETHODIMP OnWindowMessage(UINT, WPARAM, LPARAM, LRESULT* result) noexcept override {
        if (result) *result = 0;
        return S_FALSE;
    }
    STDMETHODIMP GetDropTarget(IDropTarget** target) noexcept override {
        if (target) *target = nullptr;
        return E_NOTIMPL;
    }

private:
    Derived& self() noexcept { return *static_cast<Derived*>(this); }
};

template <class Derived>
class OleInPlaceActiveObjectImpl : public IOleInPlaceActiveObject {
public:
    using Interface = IOleInPlaceActiveObject;

    STDMETHODIMP GetWindow(HWND* window) noexcept override {
        if (!window) return E_POINTER;
        *window = self().hwnd();
        return *window ? S_OK : E_FAIL;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) noexcept override { return E_NOTIMPL; }
    // The control has no accelerators: every message goes on to the
    // container's own translation.
    STDMETHODIMP TranslateAccelerator(LPMSG msg) noexcept override {
        if (!msg) return E_INVALIDARG;
        return S_FALSE;
    }
    // No menus, tool bars or modeless dialogs to show, hide or disable.
    STDMETHODIMP OnFrameWindowActivate(BOOL) noexcept override { return S_OK; }
    STDMETHODIMP OnDocWindowActivate(BOOL) noexcept override { return S_OK; }
    STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) noexcept override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) noexcept override { return S_OK; }

private:
    Derived& self() noexcept { return *static_cast<Derived*>(this); }
};

}  // namespace comfw
