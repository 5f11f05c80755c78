// The control object: its state, startup/attach/shutdown, the version, the
// instance ID and the control's own window messages.
#include "axplugin/zovaEmbeddedCtl.h"

#include <objbase.h>
#include <vector>

#include "comfw/bstr.h"
#include "comfw/module.h"
#include "comfw/scopeExit.h"
#include "plugin-common/utils.h"
#include "pluginlog/logResult.h"

namespace zova {

ZOVAEmbeddedCtl::ZOVAEmbeddedCtl() noexcept
    : CProxy_IVelmoraRemoteConsoleEvents(connection_point()), link_(&ProcessConsoleLink()) {}

ZOVAEmbeddedCtl::~ZOVAEmbeddedCtl() {
    // A persistent console is spared the shutdown; it is only let go.
    if (!persistent_) shutdown();
    if (sink_) {
        sink_->DetachOwner();
        sink_ = nullptr;
    }
    vmControl_.reset();
    consoleProcess_.reset();
}

void ZOVAEmbeddedCtl::AdoptSink(EventSinkOwnerLink* sink) noexcept {
    if (sink_ && sink_ != sink) sink_->DetachOwner();
    sink_ = sink;
}

void ZOVAEmbeddedCtl::ForgetSink(EventSinkOwnerLink* sink) noexcept {
    if (sink_ == sink) sink_ = nullptr;
}

std::wstring ZOVAEmbeddedCtl::MakeInstanceId(bool persistent) {
    std::wstring id = L"zova-ax-";
    id += persistent ? L"p-" : L"t-";
    GUID guid{};
    const HRESULT hr = ::CoCreateGuid(&guid);
    if (FAILED(hr)) {
        ZOVA_REPORT("CoCreateGUID2 failed: %d", static_cast<int>(hr));
        return id;
    }
    wchar_t text[40];
    if (::StringFromGUID2(guid, text, 40) == 0) {
        ZOVA_REPORT("Buffer is too small for GUID");
        return id;
    }
    return id + text;
}

std::wstring ZOVAEmbeddedCtl::VersionText() {
    std::wstring path;
    if (FAILED(comfw::Module::FileName(comfw::Module::Handle(), path))) return std::wstring();
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return std::wstring();
    std::vector<BYTE> block(size);
    if (!::GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return std::wstring();
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoSize = 0;
    if (!::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &infoSize) || !info)
        return std::wstring();
    return std::to_wstring(HIWORD(info->dwProductVersionMS)) + L"." +
           std::to_wstring(LOWORD(info->dwProductVersionMS)) + L"." +
           std::to_wstring(HIWORD(info->dwProductVersionLS)) + L"." +
           std::to_wstring(LOWORD(info->dwProductVersionLS));
}

STDMETHODIMP ZOVAEmbeddedCtl::getVersion(BSTR* version) noexcept {
    if (!version) return E_POINTER;
    *version = nullptr;
    try {
        comfw::Bstr text;
        COMFW_RETURN_IF_FAILED(comfw::Bstr::FromString(VersionText(), text));
        *version = text.detach();
        return S_OK;
    }
    COMFW_CATCH_RETURN()
}

bool ZOVAEmbeddedCtl::HasVMControl() const noexcept {
    if (vmControl_) return true;
    ZOVA_LOG("VM control has not been created");
    return false;
}

RECT ZOVAEmbeddedCtl::ClientRectForConsole() const noexcept {
    RECT rect{0, 0, 0, 0};
    if (HWND w = hwnd()) {
        if (!::GetClientRect(w, &rect)) {
            ZOVA_REPORT("GetClientRect failed for %p: %d", static_cast<void*>(w), static_cast<int>(::GetLastError()));
            rect = RECT{0, 0, 0, 0};
        }
    }
    return rect;
}

STDMETHODIMP ZOVAEmbeddedCtl::startup(UINT modes, ZOVA_MessageMode messageMode, BSTR advancedConfiguration,
                                      BSTR* retVal) noexcept {
    ZOVA_LOG("startup called");
    if (!retVal) return E_POINTER;
    // A start still waiting for its console counts as held: a second one
    // would overwrite its references when both complete.
    if (vmControl_ || starting_) {
        ZOVA_LOG("startup has already been called");
        return E_FAIL;
    }
    const int mode = static_cast<int>(messageMode);
    if (mode < ZOVA_DIALOG_MESSAGES || mode > ZOVA_NO_MESSAGES) {
        ZOVA_REPORT("Invalid ZOVA_MessageMode mode: %d", mode);
        return E_INVALIDARG;
    }
    if (modes & 1u) ZOVA_REPORT("ZOVA_CHROME is not supported.");

    try {
        const uint32_t features = ParseAdvancedConfig(comfw::TextOf(advancedConfiguration));
        persistent_ = (features & kFeaturePersistent) != 0;

        comfw::ComPtr<IDispatch> sink;  // released on every way out
        ZOVA_RETURN_IF_FAILED_REPORT(link_->CreateEventSink(*this, sink), "Failed to create event sink: %d");
        const RECT rect = ClientRectForConsole();
        const std::wstring id = MakeInstanceId(persistent_);

        comfw::ComPtr<IDispatch> process, vm;
        starting_ = true;
        auto started = comfw::scope_exit([this] { starting_ = false; });
        ZOVA_RETURN_IF_FAILED_REPORT(
            link_->StartConsoleAndCreateControl(id, modes, mode, features, hwnd(), rect, sink.get(), process, vm),
            "Failed to start ZOVA process and create VM control: %d");
        consoleProcess_ = std::move(process);
        vmControl_ = std::move(vm);
        ZOVA_LOG("startup succeeded");
        comfw::Bstr result;
        COMFW_RETURN_IF_FAILED(comfw::Bstr::FromString(id, result));
        *retVal = result.detach();
        return S_OK;
    }
    COMFW_CATCH_RETURN()
}

STDMETHODIMP ZOVAEmbeddedCtl::attach(BSTR id) noexcept {
    ZOVA_LOG("attach called");
    if (vmControl_ || starting_) {
        ZOVA_LOG("startup/attach has already been called");
        return E_FAIL;
    }
    try {
        comfw::ComPtr<IDispatch> sink;
        ZOVA_RETURN_IF_FAILED_REPORT(link_->CreateEventSink(*this, sink), "Failed to create event sink: %d");
        const RECT rect = ClientRectForConsole();
        comfw::ComPtr<IDispatch> process, vm;
        starting_ = true;
        auto started = comfw::scope_exit([this] { starting_ = false; });
        ZOVA_RETURN_IF_FAILED_REPORT(
            link_->AttachConsoleAndControl(comfw::TextOf(id), hwnd(), rect, sink.get(), process, vm),
            "Failed to attach to ZOVA process and create VM control: %d");
        consoleProcess_ = std::move(process);
        vmControl_ = std::move(vm);
        ZOVA_LOG("attach succeeded");
        persistent_ = true;
        return S_OK;
    }
    COMFW_CATCH_RETURN()
}

void ZOVAEmbeddedCtl::Teardown() noexcept {
    // Events still queued for this link must not reach the page any more.
    if (sink_) {
        sink_->DetachOwner();
        sink_ = nullptr;
    }
    link_->TeardownVMControl(consoleProcess_, vmControl_);
    vmControl_.reset();
    consoleProcess_.reset();
}

STDMETHODIMP ZOVAEmbeddedCtl::shutdown() noexcept {
    ZOVA_LOG("shutdown called");
    if (!vmControl_) {
        ZOVA_LOG("VM control has not been created");
    } else {
        Teardown();
    }
    persistent_ = false;
    return S_OK;
}

STDMETHODIMP ZOVAEmbeddedCtl::isReadyToStart(VARIANT_BOOL* retVal) noexcept {
    if (!retVal) return E_POINTER;
    *retVal = (hwnd() && ::IsWindow(hwnd())) ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP ZOVAEmbeddedCtl::InterfaceSupportsErrorInfo(REFIID riid) noexcept {
    return ::IsEqualIID(riid, IID_IVelmoraEmbeddedRemoteConsole) ? S_OK : S_FALSE;
}

LRESULT ZOVAEmbeddedCtl::OnControlMessage(UINT msg, WPARAM wp, LPARAM lp, bool& handled) noexcept {
    switch (msg) {
    case WM_SIZE:
        if (vmControl_) link_->ResizeVMWindow(hwnd(), vmControl_.get());
        handled = true;
        return 0;
    case WM_ERASEBKGND: {
        RECT rect{};
        ::GetClientRect(hwnd(), &rect);
        ::FillRect(reinterpret_cast<HDC>(wp), &rect, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
        handled = true;
        return 0;
    }
    case WM_DESTROY:
        if (vmControl_) Teardown();
        handled = true;
        return 0;
    default:
        return 0;
    }
}

}  // namespace zova
