// The receiving end of the console's events. The console calls Invoke with a
// VM control event number; the dispatcher copies the event into a queue,
// posts itself a message and returns at once. When the thread takes that
// message, every queued event is decoded into one IVMControlEvent operation,
// in arrival order. So page script never runs inside the console's call.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <cstdint>
#include <list>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "comfw/comObject.h"
#include "comfw/comPtr.h"
#include "comfw/dispatch.h"
#include "comfw/variant.h"
#include "comfw/window.h"

namespace zova {

// The eight VM control events as operations, in slot order (which is neither
// the console's event numbering nor the page's: see InvokeVMControlEvent).
// BSTR parameters are borrowed for the call and may be null.
class IVMControlEvent {
public:
    virtual HRESULT onMessage(uint32_t msgType, BSTR message) noexcept = 0;
    virtual HRESULT onConnectionStateChange(uint32_t cs, BSTR host, BSTR datacenter, BSTR vmId, bool userRequested,
                                            BSTR reason) noexcept = 0;
    virtual HRESULT onScreenSizeChange(int32_t width, int32_t height) noexcept = 0;
    virtual HRESULT onGrabStateChange(uint32_t grabState) noexcept = 0;
    virtual HRESULT onFullscreenChange(bool fullscreen) noexcept = 0;
    virtual HRESULT onDeviceStateChange(uint32_t deviceState, BSTR hostname, BSTR datacenter, BSTR vmId,
                                        BSTR virtualDeviceKey, BSTR physicalClientDeviceKey, bool userRequested,
                                        BSTR reason) noexcept = 0;
    virtual HRESULT onVirtualDevicesChange() noexcept = 0;
    virtual HRESULT onPhysicalClientDevicesChange() noexcept = 0;

protected:
    // Never deleted through this interface: objects that implement it are
    // counted COM objects.
    ~IVMControlEvent() = default;
};

// Decodes one console event and calls the matching operation of `target`.
// Event numbers 0..7 map onto the slots above (2 and 3 crosswise); each
// argument must have exactly its VARIANT type. Returns DISP_E_MEMBERNOTFOUND,
// DISP_E_BADPARAMCOUNT or DISP_E_TYPEMISMATCH without calling anything, or
// the operation's own result. Strings are passed as fresh copies (a null BSTR
// stays null) that are freed after the call.
HRESULT InvokeVMControlEvent(IVMControlEvent* target, DISPID dispid, const DISPPARAMS* params) noexcept;

// Window message that starts a delivery; it carries nothing (wParam and
// lParam 0), the queue holds the events.
constexpr UINT WM_VM_CONTROL_EVENT = WM_USER + 1;

// The dispatcher. A subclass supplies the eight IVMControlEvent operations,
// is made with Create<Subclass>() and then makes the message-only window with
// CreateDispatcherWindow(), on the thread that is to deliver the events.
// Its COM identity answers IUnknown and IDispatch; its count follows the
// framework's apartment rule (comfw/comObject.h).
class VMControlEventDisp : public comfw::ComObject<VMControlEventDisp, comfw::DispatchByIdOnly<IDispatch>>,
                           public comfw::Window<VMControlEventDisp>,
                           public IVMControlEvent {
public:
    // One queued console event: its number as the console sent it and owned
    // copies of its positional arguments, in rgvarg order (last argument
    // first).
    struct Event {
        DISPID dispid = 0;
        std::vector<comfw::Variant> args;
    };

    // Makes a Subclass (default-constructed) with its reference count at one,
    // held by `out`. The window is not made yet.
    template <class Subclass>
    static HRESULT Create(comfw::ComPtr<Subclass>& out) noexcept {
        static_assert(std::is_base_of_v<VMControlEventDisp, Subclass>, "a dispatcher subclass");
        out.reset();
        Subclass* object = new (std::nothrow) Subclass();
        if (!object) return E_OUTOFMEMORY;
        out = comfw::ComPtr<Subclass>(object);
        return S_OK;
    }

    // Makes the message-only window (no title, style 0) on the calling
    // thread. Returns it, or null with the reason in GetLastError().
    HWND CreateDispatcherWindow() noexcept;

    // Queues the event (dispid unchecked, riid/lcid/flags and named arguments
    // ignored, nothing written to the out-parameters) and posts one
    // WM_VM_CONTROL_EVENT. S_OK once queued and posted. E_FAIL when the post
    // fails: the event then stays queued for the next delivery. When an
    // argument cannot be copied the event is dropped, reported, and the copy's
    // failure is returned so that the console learns it was not taken.
    STDMETHODIMP Invoke(DISPID dispid, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excepInfo, UINT* argErr) noexcept override;

    // Events queued and not yet taken by a delivery.
    size_t pending_count() const noexcept { return pending_.size(); }

protected:
    VMControlEventDisp() noexcept = default;
    // Reports undelivered events (they are never delivered) and destroys the
    // window.
    ~VMControlEventDisp() override;

private:
    friend class comfw::Window<VMControlEventDisp>;

    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp, bool& handled) noexcept;
    void OnVMControlEvent() noexcept;

    std::list<Event> pending_;
};

}  // namespace zova
