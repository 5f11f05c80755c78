#include "zova/vmControl.h"

#include "comfw/foreignPrint.h"

#include <olectl.h>
#include <string>
#include <vector>

#include "comfw/bstr.h"
#include "comfw/hresult.h"
#include "comfw/safeArray.h"
#include "zova/consoleHost.h"

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

const wchar_t* GrabText(ULONG state) {
    switch (state) {
        case kGrabbed: return L"grabbed";
        case kUngrabbedHard: return L"released";
        case kUngrabbedSoft: return L"released (soft)";
        default: return L"?";
    }
}

}  // namespace

// Every operation but the test hooks refuses a deleted control.
#define ZOVA_REQUIRE_LIVE() \
    do {                    \
        if (deleted_) return E_UNEXPECTED; \
    } while (0)

VMControl::VMControl(ConsoleHost& host, bool attached) noexcept : host_(host), attachedByAttach_(attached) {
    host_.ControlObjectMade();
}

VMControl::~VMControl() {
    host_.RemoveControl(this);
    deleting_ = true;
    if (hwnd() && ::IsWindow(hwnd())) ::DestroyWindow(hwnd());
    host_.ControlObjectGone();
}

HRESULT VMControl::CreateIn(HWND parent, const RECT& rect) noexcept {
    if (!parent || !::IsWindow(parent)) return E_INVALIDARG;
    const DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    if (!CreateWindowFor(parent, &rect, L"VM console", style, 0)) return comfw::LastErrorHresult();
    parent_ = parent;
    try {
        host_.AddControl(this);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

// A client that ended without Delete may leave this window behind, orphaned
// and never told: the client's window is what shows whether it is still there.
bool VMControl::attached() const noexcept {
    return !deleted_ && hwnd() && ::IsWindow(hwnd()) && ::IsWindow(parent_);
}

void VMControl::Repaint() noexcept {
    if (hwnd()) ::InvalidateRect(hwnd(), nullptr, TRUE);
}

void VMControl::OnFinalMessage(HWND) noexcept {
    // The parent window went away without Delete: this control is detached.
    if (!deleting_) host_.ScheduleLifetimeCheck();
}

LRESULT VMControl::HandleMessage(UINT msg, WPARAM wp, LPARAM lp, bool& handled) noexcept {
    if (msg == comfw::ForeignPrintMessage()) {
        // A client process asks for the guest screen's pixels (screenshots).
        handled = true;
        return comfw::AnswerForeignPrint(hwnd(), wp, lp);
    }
    if (msg == WM_ERASEBKGND) {
        handled = true;
        return 1;  // WM_PAINT fills the whole window
    }
    if (msg == WM_PRINTCLIENT) {
        handled = true;
        Paint(reinterpret_cast<HDC>(wp));
        return 0;
    }
    if (msg == WM_PAINT) {
        handled = true;
        PAINTSTRUCT ps;
        if (HDC dc = ::BeginPaint(hwnd(), &ps)) {
            Paint(dc);
            ::EndPaint(hwnd(), &ps);
        }
        return 0;
    }
    return 0;
}

void VMControl::Paint(HDC dc) noexcept {
    RECT client{};
    ::GetClientRect(hwnd(), &client);
    HBRUSH background = ::CreateSolidBrush(RGB(18, 22, 30));
    ::FillRect(dc, &client, background);
    ::DeleteObject(background);
    ::SetBkMode(dc, TRANSPARENT);
    HGDIOBJ oldFont = ::SelectObject(dc, ::GetStockObject(ANSI_FIXED_FONT));

    const VmSession& s = host_.session();
    std::vector<std::wstring> lines;
    try {
        lines.push_back(L"Guest console  [" + host_.options().instanceId + L"]" +
                        (attachedByAttach_ ? L"  (attached)" : L""));
        lines.push_back(L"");
        if (s.connectionState == kConnected) {
            lines.push_back(L"Connection:   connected to " + s.host + L" as " + s.user);
            lines.push_back(L"VM:           " + s.moid + L" in " + s.datacenter);
            lines.push_back(L"Proxy:        " + (s.proxy.empty() ? std::wstring(L"none") : s.proxy));
        } else {
            lines.push_back(L"Connection:   disconnected");
        }
        lines.push_back(L"Screen:       " + std::to_wstring(s.screenWidth) + L" x " + std::to_wstring(s.screenHeight));
        lines.push_back(std::wstring(L"Full screen:  ") + (s.fullscreen ? L"on" : L"off"));
        lines.push_back(std::wstring(L"Input:        ") + GrabText(s.grabState));
        lines.push_back(L"Ctrl-Alt-Del: " + std::to_wstring(s.cadCount));
        for (const VirtualDevice& d : s.virtualDevices) {
            lines.push_back(L"Device " + d.key + L": " +
                            (d.state == kDeviceConnected ? L"connected to " + d.backingKey : L"disconnected"));
        }
    } catch (...) {
        lines.clear();
    }
    const COLORREF colors[] = {RGB(120, 200, 255), RGB(220, 220, 220)};
    int y = 8;
    for (size_t i = 0; i < lines.size(); ++i) {
        ::SetTextColor(dc, colors[i == 0 ? 0 : 1]);
        ::TextOutW(dc, 10, y, lines[i].c_str(), static_cast<int>(lines[i].size()));
        y += 18;
    }
    ::SelectObject(dc, oldFont);
}

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

        s.connectionState = kConnected;
        s.host = host;
        s.user = TextOfVariant(username);
        s.moid = TextOfVariant(moid);
        s.datacenter = TextOfVariant(datacenter);
        s.proxy = TextOfVariant(proxy);
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
    const LONG width = client.right > 0 ? client.right : 1, height = client.bottom > 0 ? client.bottom : 1;
    BITMAPINFOHEADER info{};
    info.biSize = sizeof(info);
    info.biWidth = width;
    info.biHeight = height;  // bottom-up, as a BMP file stores it
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC dc = ::CreateCompatibleDC(nullptr);
    HBITMAP bitmap = ::CreateDIBSection(dc, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!dc || !bitmap) {
        if (dc) ::DeleteDC(dc);
        return E_OUTOFMEMORY;
    }
    HGDIOBJ old = ::SelectObject(dc, bitmap);
    Paint(dc);
    ::GdiFlush();
    const DWORD imageSize = static_cast<DWORD>(((width * 3 + 3) & ~3) * height);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + imageSize;
    HRESULT hr = S_OK;
    HANDLE out = ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
        hr = comfw::LastErrorHresult();
    } else {
        DWORD written = 0;
        if (!::WriteFile(out, &file, sizeof(file), &written, nullptr) ||
            !::WriteFile(out, &info, sizeof(info), &written, nullptr) ||
            !::WriteFile(out, bits, imageSize, &written, nullptr)) {
            hr = comfw::LastErrorHresult();
        }
        ::CloseHandle(out);
    }
    ::SelectObject(dc, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(dc);
    return hr;
}

}  // namespace zova::console
