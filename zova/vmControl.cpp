// The VM control's operations and test hooks.
#include "zova/vmControl.h"

#include <olectl.h>
#include <string>
#include <vector>

#include "comfw/bstr.h"
#include "comfw/hresult.h"
#include "comfw/safeArray.h"
#include "zova/consoleHost.h"
#include "zova/endpointPolicy.h"
#include "zova/screenFile.h"

namespace zova::console {
namespace {

using Args = std::vector<comfw::Variant>;

comfw::Variant Text(const std::wstring& s) {
    return comfw::Variant::OwnBstr(::SysAllocStringLen(s.data(), static_cast<UINT>(s.size())));
}

template <class... T>
Args MakeArgs(T&&... values) {
    Args args;
    (args.push_back(std::forward<T>(values)), ...);
    return args;
}

std::wstring ComputerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD n = MAX_COMPUTERNAME_LENGTH + 1;
    return ::GetComputerNameW(name, &n) ? std::wstring(name, n) : std::wstring(L"client");
}

std::wstring TextOfVariant(const VARIANT& v) {
    return v.vt == VT_BSTR && v.bstrVal ? std::wstring(v.bstrVal, ::SysStringLen(v.bstrVal)) : std::wstring();
}

}  // namespace

// Every operation but the test hooks refuses a deleted control.
#define ZOVA_REQUIRE_LIVE() \
    do {                    \
        if (deleted_) return E_UNEXPECTED; \
    } while (0)

STDMETHODIMP VMControl::Connect(VARIANT hostname, VARIANT sslThumbprint, VARIANT allowSSLErrors,
                                VARIANT cloneSessionTicket, VARIANT username, VARIANT password, VARIANT moid,
                                VARIANT datacenter, VARIANT vmDataStorePath, VARIANT proxy) noexcept {
    ZOVA_REQUIRE_LIVE();
    VmSession& s = host_.session();
    const VARIANT* args[kConnectArgCount] = {&hostname, &sslThumbprint, &allowSSLErrors, &cloneSessionTicket,
                                             &username, &password, &moid, &datacenter, &vmDataStorePath, &proxy};
    try {
        // Kept as they arrived, even when refused below, so that a test can
        // see exactly what its client sent.
        std::vector<comfw::Variant> copies(kConnectArgCount);
        for (size_t i = 0; i < kConnectArgCount; ++i) COMFW_RETURN_IF_FAILED(copies[i].copy_from(*args[i]));
        s.lastConnectArgs = std::move(copies);

        for (size_t i = 0; i < kConnectArgCount; ++i) {
            const VARTYPE expected = i == 2 ? VT_BOOL : VT_BSTR;
            if (args[i]->vt != expected) return DISP_E_TYPEMISMATCH;
        }
        const std::wstring host = TextOfVariant(hostname);
        if (host.empty()) return E_INVALIDARG;
        Endpoint endpoint;
        const HostForm form = ParseHost(host, endpoint);
        if (form == HostForm::kInvalid) return E_INVALIDARG;

        // A new connection replaces the real VM's session, if any.
        host_.rfb().Stop();
        s.host = host;
        s.user = TextOfVariant(username);
        s.moid = TextOfVariant(moid);
        s.datacenter = TextOfVariant(datacenter);
        s.proxy = TextOfVariant(proxy);
        if (form == HostForm::kRfb) {
            // Connected, or not, once the reader has shaken hands: events.
            s.connectionState = kDisconnected;
            const HRESULT hr = host_.rfb().Connect(endpoint, TextOfVariant(password));
            host_.Repaint();
            return hr;
        }
        s.connectionState = kConnected;
        host_.Raise(nullptr, ZOVA_EVENTID_CONNECTION_STATE_CHANGE,
                    MakeArgs(comfw::Variant::UI4(kConnected), Text(s.host), Text(s.datacenter), Text(s.moid),
                             comfw::Variant::Bool(true), Text(L"")));
        if (host_.options().messageMode == kEventMessages) {
            host_.Raise(nullptr, ZOVA_EVENTID_MESSAGE, MakeArgs(comfw::Variant::UI4(kMessageInfo), Text(L"Connected to " + s.host)));
        }
        host_.Repaint();
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP VMControl::Disconnect() noexcept {
    ZOVA_REQUIRE_LIVE();
    VmSession& s = host_.session();
    try {
        host_.rfb().Stop();
        host_.Raise(nullptr, ZOVA_EVENTID_CONNECTION_STATE_CHANGE,
                    MakeArgs(comfw::Variant::UI4(kDisconnected), Text(s.host), Text(s.datacenter), Text(s.moid),
                             comfw::Variant::Bool(true), Text(L"")));
        s.connectionState = kDisconnected;
        s.host.clear();
        s.moid.clear();
        s.datacenter.clear();
        s.user.clear();
        s.proxy.clear();
        host_.Repaint();
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP VMControl::GetConnectionState(ULONG* state) noexcept {
    COMFW_RETURN_IF_NULL(state);
    ZOVA_REQUIRE_LIVE();
    *state = host_.session().connectionState;
    return S_OK;
}

STDMETHODIMP VMControl::GetHWND(LONG* window) noexcept {
    COMFW_RETURN_IF_NULL(window);
    ZOVA_REQUIRE_LIVE();
    // Window handles keep to 32 bits, so that they pass between processes of
    // either width.
    *window = static_cast<LONG>(reinterpret_cast<LONG_PTR>(hwnd()));
    return S_OK;
}

STDMETHODIMP VMControl::GetFullscreen(VARIANT_BOOL* fullscreen) noexcept {
    COMFW_RETURN_IF_NULL(fullscreen);
    ZOVA_REQUIRE_LIVE();
    *fullscreen = host_.session().fullscreen ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP VMControl::SetFullscreen(VARIANT_BOOL fullscreen) noexcept {
    ZOVA_REQUIRE_LIVE();
    try {
        host_.session().fullscreen = fullscreen != VARIANT_FALSE;
        host_.ShowFullScreen(fullscreen != VARIANT_FALSE);
        host_.Raise(nullptr, ZOVA_EVENTID_FULLSCREEN_CHANGE, MakeArgs(comfw::Variant::Bool(fullscreen != VARIANT_FALSE)));
        host_.Repaint();
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP VMControl::SetScreenSize(LONG width, LONG height) noexcept {
    ZOVA_REQUIRE_LIVE();
    if (width <= 0 || height <= 0) return E_INVALIDARG;
    try {
        // A real VM takes a new size when its server agrees; the size event
        // follows from the server's answer.
        if (host_.rfb().active()) return host_.rfb().SetScreenSize(width, height);
        host_.session().screenWidth = width;
        host_.session().screenHeight = height;
        host_.Raise(nullptr, ZOVA_EVENTID_SCREEN_SIZE_CHANGE, MakeArgs(comfw::Variant::I4(width), comfw::Variant::I4(height)));
        host_.Repaint();
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP VMControl::GetScreenWidth(LONG* width) noexcept {
    COMFW_RETURN_IF_NULL(width);
    ZOVA_REQUIRE_LIVE();
    *width = host_.session().screenWidth;
    return S_OK;
}

STDMETHODIMP VMControl::GetScreenHeight(LONG* height) noexcept {
    COMFW_RETURN_IF_NULL(height);
    ZOVA_REQUIRE_LIVE();
    *height = host_.session().screenHeight;
    return S_OK;
}

STDMETHODIMP VMControl::GrabInput() noexcept {
    ZOVA_REQUIRE_LIVE();
    try {
        host_.session().grabState = kGrabbed;
        host_.Raise(nullptr, ZOVA_EVENTID_GRAB_STATE_CHANGE, MakeArgs(comfw::Variant::UI4(kGrabbed)));
        host_.Repaint();
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP VMControl::UngrabInput() noexcept {
    ZOVA_REQUIRE_LIVE();
    try {
        host_.session().grabState = kUngrabbedHard;
        host_.Raise(nullptr, ZOVA_EVENTID_GRAB_STATE_CHANGE, MakeArgs(comfw::Variant::UI4(kUngrabbedHard)));
        host_.Repaint();
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP VMControl::GetGrabState(ULONG* state) noexcept {
    COMFW_RETURN_IF_NULL(state);
    ZOVA_REQUIRE_LIVE();
    *state = host_.session().grabState;
    return S_OK;
}

STDMETHODIMP VMControl::SetInputRelease(VARIANT_BOOL release) noexcept {
    ZOVA_REQUIRE_LIVE();
    try {
        // Releasing input softly leaves the guest free to grab it again.
        host_.session().inputRelease = release != VARIANT_FALSE;
        if (release != VARIANT_FALSE) {
            host_.session().grabState = kUngrabbedSoft;
            host_.Raise(nullptr, ZOVA_EVENTID_GRAB_STATE_CHANGE, MakeArgs(comfw::Variant::UI4(kUngrabbedSoft)));
            host_.Repaint();
        }
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP VMControl::Advise(IDispatch* sink) noexcept {
    COMFW_RETURN_IF_NULL(sink);
    ZOVA_REQUIRE_LIVE();
    // One sink per control; a second Advise replaces the first.
    sink_ = comfw::ComPtr<IDispatch>(sink);
    return S_OK;
}

STDMETHODIMP VMControl::Unadvise() noexcept {
    ZOVA_REQUIRE_LIVE();
    sink_.reset();
    return S_OK;
}

STDMETHODIMP VMControl::Delete() noexcept {
    ZOVA_REQUIRE_LIVE();
    deleted_ = true;
    deleting_ = true;
    sink_.reset();
    if (hwnd()) ::DestroyWindow(hwnd());
    host_.RemoveControl(this);
    host_.NoteControlDeleted();
    return S_OK;
}

STDMETHODIMP VMControl::GetVirtualDevices(ULONG typeMask, VARIANT* keys) noexcept {
    COMFW_RETURN_IF_NULL(keys);
    ZOVA_REQUIRE_LIVE();
    return DeviceKeys(host_.session().virtualDevices, typeMask, keys);
}

STDMETHODIMP VMControl::GetVirtualDeviceDetails(BSTR key, VARIANT* details) noexcept {
    COMFW_RETURN_IF_NULL(details);
    ZOVA_REQUIRE_LIVE();
    try {
        const VirtualDevice* d = host_.session().FindVirtual(comfw::TextOf(key));
        return d ? DetailsOf(*d, details) : E_INVALIDARG;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP VMControl::GetPhysicalClientDevices(ULONG typeMask, VARIANT* keys) noexcept {
    COMFW_RETURN_IF_NULL(keys);
    ZOVA_REQUIRE_LIVE();
    return DeviceKeys(host_.session().physicalDevices, typeMask, keys);
}

STDMETHODIMP VMControl::GetPhysicalClientDeviceDetails(BSTR key, VARIANT* details) noexcept {
    COMFW_RETURN_IF_NULL(details);
    ZOVA_REQUIRE_LIVE();
    try {
        const PhysicalDevice* d = host_.session().FindPhysical(comfw::TextOf(key));
        return d ? DetailsOf(*d, details) : E_INVALIDARG;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP VMControl::SendCAD() noexcept {
    ZOVA_REQUIRE_LIVE();
    ++host_.session().cadCount;
    host_.rfb().SendCAD();
    host_.Repaint();
    return S_OK;
}

void VMControl::RaiseDeviceEvents(ULONG state, const std::wstring& virtualKey, const std::wstring& physicalKey) {
    const VmSession& s = host_.session();
    host_.Raise(nullptr, ZOVA_EVENTID_DEVICE_STATE_CHANGE,
                MakeArgs(comfw::Variant::UI4(state), Text(s.host), Text(s.datacenter), Text(s.moid),
                         Text(virtualKey), Text(physicalKey), comfw::Variant::Bool(true), Text(L"")));
    host_.Raise(nullptr, ZOVA_EVENTID_VIRTUAL_DEVICES_CHANGE, Args());
}

STDMETHODIMP VMControl::ConnectDevice(BSTR virtualKey, BSTR physicalKey, ULONG backing) noexcept {
    ZOVA_REQUIRE_LIVE();
    try {
        VmSession& s = host_.session();
        VirtualDevice* v = s.FindVirtual(comfw::TextOf(virtualKey));
        const std::wstring physical = comfw::TextOf(physicalKey);
        if (!v || physical.empty()) return E_INVALIDARG;
        if (backing == kBackingPhysical) {
            // A physical device backs only a virtual device of its own type.
            const PhysicalDevice* p = s.FindPhysical(physical);
            if (!p || p->type != v->type) return E_INVALIDARG;
        } else if (backing != kBackingFile) {
            return E_INVALIDARG;
        }
        v->state = kDeviceConnected;
        v->connectedByMe = true;
        v->backing = backing;
        v->backingKey = physical;
        v->hostname = ComputerName();
        RaiseDeviceEvents(kDeviceConnected, v->key, physical);
        host_.Repaint();
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP VMControl::DisconnectDevice(BSTR key) noexcept {
    ZOVA_REQUIRE_LIVE();
    try {
        VirtualDevice* v = host_.session().FindVirtual(comfw::TextOf(key));
        if (!v) return E_INVALIDARG;
        const std::wstring physical = v->backingKey;
        v->state = kDeviceDisconnected;
        v->connectedByMe = false;
        v->backingKey.clear();
        v->hostname.clear();
        RaiseDeviceEvents(kDeviceDisconnected, v->key, physical);
        host_.Repaint();
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP VMControl::TestLastConnectArgs(VARIANT* args) noexcept {
    COMFW_RETURN_IF_NULL(args);
    const std::vector<comfw::Variant>& last = host_.session().lastConnectArgs;
    comfw::SafeArray array;
    COMFW_RETURN_IF_FAILED(comfw::SafeArray::Variants(static_cast<ULONG>(last.size()), array));
    for (size_t i = 0; i < last.size(); ++i) {
        COMFW_RETURN_IF_FAILED(array.put_variant(static_cast<LONG>(i), last[i].get()));
    }
    args->vt = VT_ARRAY | VT_VARIANT;
    args->parray = array.detach();
    return S_OK;
}

STDMETHODIMP VMControl::TestRaiseEvent(LONG dispid, VARIANT args) noexcept {
    try {
        Args copies;
        if (args.vt == (VT_ARRAY | VT_VARIANT)) {
            comfw::SafeArray array;
            COMFW_RETURN_IF_FAILED(comfw::SafeArray::CopyOf(args.parray, array));
            LONG lower = 0, upper = -1;
            if (array.dims() != 1) return E_INVALIDARG;
            COMFW_RETURN_IF_FAILED(array.bounds(lower, upper));
            for (LONG i = lower; i <= upper; ++i) {
                comfw::Variant v;
                COMFW_RETURN_IF_FAILED(array.get_variant(i, *v.put()));
                copies.push_back(std::move(v));
            }
        } else if (args.vt != VT_EMPTY) {
            return E_INVALIDARG;
        }
        if (!sink()) return CONNECT_E_NOCONNECTION;
        host_.Raise(this, dispid, std::move(copies));
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP VMControl::TestIsAdvised(VARIANT_BOOL* advised) noexcept {
    COMFW_RETURN_IF_NULL(advised);
    *advised = sink() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP VMControl::TestCADCount(ULONG* count) noexcept {
    COMFW_RETURN_IF_NULL(count);
    *count = host_.session().cadCount;
    return S_OK;
}

STDMETHODIMP VMControl::TestProcessId(ULONG* pid) noexcept {
    COMFW_RETURN_IF_NULL(pid);
    *pid = ::GetCurrentProcessId();
    return S_OK;
}

STDMETHODIMP VMControl::TestSaveScreen(BSTR path) noexcept {
    ZOVA_REQUIRE_LIVE();
    if (!path || !*path) return E_INVALIDARG;
    RECT client{};
    ::GetClientRect(hwnd(), &client);
    return SaveDrawingAsBmp(client.right > 0 ? client.right : 1, client.bottom > 0 ? client.bottom : 1,
                            [this](HDC dc) { Paint(dc); }, path);
}

STDMETHODIMP VMControl::TestSaveFrame(BSTR path) noexcept {
    if (!path || !*path) return E_INVALIDARG;
    rfb::RfbSession* session = host_.rfb().session();
    if (!session || !session->connected()) return E_UNEXPECTED;
    HRESULT hr = E_UNEXPECTED;
    session->WithScreen([&](const rfb::FrameBuffer& frame) { hr = SaveFrameAsPpm(frame, path); });
    return hr;
}

}  // namespace zova::console
