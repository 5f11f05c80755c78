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
    while (EventSinkOwnerLink* sink = sinks_) {
        sinks_ = sink->nextSink_;
        sink->nextSink_ = nullptr;
        sink->DetachOwner();
    }
    vmControl_.reset();
    consoleProcess_.reset();
}

void ZOVAEmbeddedCtl::AdoptSink(EventSinkOwnerLink* sink) noexcept {
    for (EventSinkOwnerLink* s = sinks_; s; s = s->nextSink_)
        if (s == sink) return;
    sink->nextSink_ = sinks_;
    sinks_ = sink;
}

void ZOVAEmbeddedCtl::ForgetSink(EventSinkOwnerLink* sink) noexcept {
    for (EventSinkOwnerLink** at = &sinks_; *at; at = &(*at)->nextSink_) {
        if (*at == sink) {
            *at = sink->nextSink_;
            sink->nextSink_ = nullptr;
            return;
        }
    }
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
    // The module's product version; the same text, fixed when the module was
    // built, where the resource cannot be read.
    const std::wstring built = L"" ZOVA_VERSION;
    std::wstring path;
    if (FAILED(comfw::Module::FileName(comfw::Module::Handle(), path))) return built;
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return built;
    std::vector<BYTE> block(size);
    if (!::GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return built;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoSize = 0;
    if (!::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &infoSize) || !info) return built;
    return std::to_wstring(HIWORD(info->dwProductVersionMS)) + L"." +
           std::to_wstring(LOWORD(info->dwProductVersionMS)) + L"." +
           std::to_wstring(HIWORD(info->dwProductVersionLS)) + L"." +
           std::to_wstring(LOWORD(info->dwProductVersionLS));
}

STDMETHODIMP ZOVAEmbeddedCtl::getVersion(BSTR* version) noexcept {
    return ScriptCall(L"getVersion", [&]() noexcept -> HRESULT {
        if (!version) return E_POINTER;
        *version = nullptr;
        try {
            comfw::Bstr text;
            COMFW_RETURN_IF_FAILED(comfw::Bstr::FromString(VersionText(), text));
            *version = text.detach();
            return S_OK;
        }
        COMFW_CATCH_RETURN()
    });
}

bool ZOVAEmbeddedCtl::HasVMControl() noexcept {
    if (vmControl_) return true;
    ZOVA_LOG("VM control has not been created");
    Because(L"no console is running; call startup first");
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
    return ScriptCall(L"startup", [&]() noexcept -> HRESULT {
        ZOVA_LOG("startup called");
        if (!retVal) return E_POINTER;
        // A start still waiting for its console counts as held: a second one
        // would overwrite its references when both complete.
        if (vmControl_ || starting_) {
            ZOVA_LOG("startup has already been called");
            Because(L"a console is already running or starting; call shutdown first");
            return E_FAIL;
        }
        const int mode = static_cast<int>(messageMode);
        if (mode < ZOVA_DIALOG_MESSAGES || mode > ZOVA_NO_MESSAGES) {
            ZOVA_REPORT("Invalid ZOVA_MessageMode mode: %d", mode);
            Because(L"messageMode must be 1, 2 or 3 (ZOVA_DIALOG_MESSAGES, ZOVA_EVENT_MESSAGES or "
                    L"ZOVA_NO_MESSAGES)");
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
            const HWND window = hwnd();
            const HRESULT started = RunStart(
                [&] {
                    return link_->StartConsoleAndCreateControl(id, modes, mode, features, window, rect, sink.get(),
                                                               process, vm);
                },
                process, vm);
            if (FAILED(started) && started != E_ABORT)
                Because(L"the console could not be started; the diagnostic log has the details");
            ZOVA_RETURN_IF_FAILED_REPORT(started, "Failed to start ZOVA process and create VM control: %d");
            consoleProcess_ = std::move(process);
            vmControl_ = std::move(vm);
            ZOVA_LOG("startup succeeded");
            comfw::Bstr result;
            COMFW_RETURN_IF_FAILED(comfw::Bstr::FromString(id, result));
            *retVal = result.detach();
            return S_OK;
        }
        COMFW_CATCH_RETURN()
    });
}

STDMETHODIMP ZOVAEmbeddedCtl::attach(BSTR id) noexcept {
    return ScriptCall(L"attach", [&]() noexcept -> HRESULT {
        ZOVA_LOG("attach called");
        if (vmControl_ || starting_) {
            ZOVA_LOG("startup/attach has already been called");
            Because(L"a console is already running or starting; call shutdown first");
            return E_FAIL;
        }
        try {
            comfw::ComPtr<IDispatch> sink;
            ZOVA_RETURN_IF_FAILED_REPORT(link_->CreateEventSink(*this, sink), "Failed to create event sink: %d");
            const RECT rect = ClientRectForConsole();
            comfw::ComPtr<IDispatch> process, vm;
            const std::wstring instanceId = comfw::TextOf(id);
            const HWND window = hwnd();
            const HRESULT attached = RunStart(
                [&] { return link_->AttachConsoleAndControl(instanceId, window, rect, sink.get(), process, vm); },
                process, vm);
            if (FAILED(attached) && attached != E_ABORT)
                Because(L"no console with ID \"" + instanceId +
                        L"\" could be attached; pass an ID that startup returned for a persistent console that still "
                        L"runs");
            ZOVA_RETURN_IF_FAILED_REPORT(attached, "Failed to attach to ZOVA process and create VM control: %d");
            consoleProcess_ = std::move(process);
            vmControl_ = std::move(vm);
            ZOVA_LOG("attach succeeded");
            persistent_ = true;
            return S_OK;
        }
        COMFW_CATCH_RETURN()
    });
}

template <class Start>
HRESULT ZOVAEmbeddedCtl::RunStart(Start&& start, comfw::ComPtr<IDispatch>& process,
                                  comfw::ComPtr<IDispatch>& vm) noexcept {
    // A page handler run by the wait may drop the page's last reference.
    const comfw::ComPtr<ZOVAEmbeddedCtl> self(this);
    starting_ = true;
    cancelled_ = false;
    auto done = comfw::scope_exit([this] { starting_ = false; });
    const HRESULT hr = start();
    if (!cancelled_) return hr;
    ZOVA_LOG("The start was cancelled while it waited for the console");
    if (SUCCEEDED(hr)) link_->TeardownVMControl(process, vm);
    process.reset();
    vm.reset();
    return E_ABORT;
}

void ZOVAEmbeddedCtl::Teardown() noexcept {
    // The references leave the control before the cross-process calls, whose
    // wait dispatches messages: a teardown entered again meanwhile finds
    // nothing left to tear down.
    comfw::ComPtr<IDispatch> process = std::move(consoleProcess_);
    comfw::ComPtr<IDispatch> vm = std::move(vmControl_);
    link_->TeardownVMControl(process, vm);
}

STDMETHODIMP ZOVAEmbeddedCtl::shutdown() noexcept {
    ZOVA_LOG("shutdown called");
    if (!vmControl_) {
        ZOVA_LOG("VM control has not been created");
        if (starting_) cancelled_ = true;
    } else {
        Teardown();
    }
    persistent_ = false;
    return S_OK;
}

STDMETHODIMP ZOVAEmbeddedCtl::isReadyToStart(VARIANT_BOOL* retVal) noexcept {
    return ScriptCall(L"isReadyToStart", [&]() noexcept -> HRESULT {
        if (!retVal) return E_POINTER;
        *retVal = (hwnd() && ::IsWindow(hwnd())) ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    });
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
        if (starting_) cancelled_ = true;
        if (vmControl_) Teardown();
        handled = true;
        return 0;
    default:
        return 0;
    }
}

}  // namespace zova
