// Finding a console process object in the running object table by its
// moniker's display name, binding it, and attaching a VM control to it.
#include "win32/plugin/procControl.h"

#include "comfw/uniqueAny.h"
#include "comfw/variant.h"
#include "pluginlog/logResult.h"
#include "win32/plugin/consoleCall.h"
#include "win32/plugin/procControlDetail.h"
#include "zova/consoleContract.h"

#include <objbase.h>

namespace zova {

namespace detail {

HRESULT MakeVMControl(IDispatch* consoleProcess, DISPID dispid, HWND window, const RECT& rect,
                      comfw::ComPtr<IDispatch>& vmControl) noexcept {
    vmControl.reset();
    comfw::Variant result;
    COMFW_RETURN_IF_FAILED(CallConsoleFor(consoleProcess, dispid, VT_DISPATCH, result,
                                          comfw::Variant::I4(HandleToI4(window)), comfw::Variant::I4(rect.left),
                                          comfw::Variant::I4(rect.top), comfw::Variant::I4(rect.right),
                                          comfw::Variant::I4(rect.bottom)));
    // The result's reference becomes the caller's.
    VARIANT raw;
    result.detach_to(&raw);
    vmControl = comfw::ComPtr<IDispatch>::Attach(raw.pdispVal);
    return S_OK;
}

HRESULT AdviseSink(IDispatch* vmControl, IDispatch* sink) noexcept {
    return CallConsole(vmControl, ZOVA_DISPID_ADVISE, comfw::Variant::Dispatch(sink));
}

HRESULT EmbedVMControl(comfw::ComPtr<IDispatch> process, DISPID dispid, const char* makeFailure, HWND window,
                       const RECT& rect, IDispatch* sink, comfw::ComPtr<IDispatch>& consoleProcess,
                       comfw::ComPtr<IDispatch>& vmControl) noexcept {
    // The wait for the console dispatches messages: the control's window
    // may have ended meanwhile, and a window that is gone is never handed to
    // the console.
    if (window && !::IsWindow(window)) {
        ZOVA_LOG("The control's window is gone; no VM control is made");
        return HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE);
    }
    comfw::ComPtr<IDispatch> control;
    ZOVA_RETURN_IF_FAILED_REPORT(MakeVMControl(process.get(), dispid, window, rect, control), makeFailure);
    ZOVA_RETURN_IF_FAILED_REPORT(AdviseSink(control.get(), sink), "Advise failed: %d");
    // The references made here are the caller's now; nothing extra is taken.
    consoleProcess = std::move(process);
    vmControl = std::move(control);
    return S_OK;
}

}  // namespace detail

namespace {

// A string the moniker allocated, freed through the task allocator that the
// search holds (IMalloc::Free), as the search is told to.
class MallocString {
public:
    explicit MallocString(IMalloc* allocator) noexcept : allocator_(allocator) {}
    MallocString(const MallocString&) = delete;
    MallocString& operator=(const MallocString&) = delete;
    ~MallocString() { reset(); }
    LPOLESTR get() const noexcept { return text_; }
    LPOLESTR* put() noexcept { reset(); return &text_; }
    void reset() noexcept { if (LPOLESTR old = std::exchange(text_, nullptr)) allocator_->Free(old); }

private:
    IMalloc* allocator_;
    LPOLESTR text_ = nullptr;
};

}  // namespace

HRESULT GetMoniker(const std::wstring& monikerName, comfw::ComPtr<IMoniker>& moniker) noexcept {
    moniker.reset();
    comfw::ComPtr<IBindCtx> bindCtx;
    ZOVA_RETURN_IF_FAILED_REPORT(::CreateBindCtx(0, bindCtx.put()), "CreateBindCtx failed: %d\n");
    comfw::ComPtr<IRunningObjectTable> table;
    ZOVA_RETURN_IF_FAILED_REPORT(bindCtx->GetRunningObjectTable(table.put()), "GetRunningObjectTable failed: %d");
    comfw::ComPtr<IEnumMoniker> running;
    ZOVA_RETURN_IF_FAILED_REPORT(table->EnumRunning(running.put()), "EnumRunning failed: %d");
    comfw::ComPtr<IMalloc> allocator;
    ZOVA_RETURN_IF_FAILED_REPORT(::CoGetMalloc(1, allocator.put()), "CoGetMalloc failed: %d");

    // Nothing is cached: the table is read afresh on every call, and the
    // first entry with the exact name (case included) wins. An entry whose
    // name cannot be read is passed over.
    comfw::ComPtr<IMoniker> candidate;
    while (running->Next(1, candidate.put(), nullptr) == S_OK) {
        MallocString displayName(allocator.get());
        const HRESULT hr = candidate->GetDisplayName(bindCtx.get(), nullptr, displayName.put());
        if (FAILED(hr)) {
            ZOVA_REPORT("GetDisplayName failed: %d", static_cast<int>(hr));
            continue;
        }
        if (displayName.get() && monikerName == displayName.get()) {
            moniker = std::move(candidate);
            return S_OK;
        }
    }
    return S_FALSE;
}

HRESULT BindToConsoleObject(const std::wstring& monikerName, comfw::ComPtr<IDispatch>& consoleProcess) noexcept {
    consoleProcess.reset();
    comfw::ComPtr<IMoniker> moniker;
    const HRESULT found = GetMoniker(monikerName, moniker);
    ZOVA_RETURN_IF_FAILED_REPORT(found, "GetMoniker failed: %d");
    ZOVA_RETURN_HR_IF_REPORT(E_FAIL, found == S_FALSE, "Moniker not found");
    comfw::ComPtr<IBindCtx> bindCtx;
    ZOVA_RETURN_IF_FAILED_REPORT(::CreateBindCtx(0, bindCtx.put()), "CreateBindCtx failed: %d");
    {
        // Only for the log: the bind goes on whatever this returns.
        comfw::unique_cotaskmem_string displayName;
        moniker->GetDisplayName(bindCtx.get(), nullptr, displayName.put());
        ZOVA_LOG("Binding to [%S]", displayName.get());
    }
    const HRESULT hr = moniker->BindToObject(bindCtx.get(), nullptr, IID_IDispatch, consoleProcess.put_void());
    if (FAILED(hr)) consoleProcess.reset();
    ZOVA_RETURN_IF_FAILED_REPORT(hr, "BindToObject failed: %d");
    ZOVA_LOG("BindToObject succeeded");
    return hr;
}

HRESULT AttachToConsoleProcess(const std::wstring& instanceId, comfw::ComPtr<IDispatch>& consoleProcess) noexcept {
    try {
        return BindToConsoleObject(std::wstring(console::kMonikerPrefix) + instanceId, consoleProcess);
    }
    COMFW_CATCH_RETURN()
}

HRESULT AttachConsoleAndControl(const std::wstring& instanceId, HWND window, const RECT& rect, IDispatch* sink,
                                comfw::ComPtr<IDispatch>& consoleProcess,
                                comfw::ComPtr<IDispatch>& vmControl) noexcept {
    comfw::ComPtr<IDispatch> process;
    ZOVA_RETURN_IF_FAILED_REPORT(AttachToConsoleProcess(instanceId, process), "Failed to attach to ZOVA process: %d");
    return detail::EmbedVMControl(std::move(process), ZOVA_DISPID_ATTACH_CONTROL, "Failed to attach control: %d", window,
                                  rect, sink, consoleProcess, vmControl);
}

}  // namespace zova
