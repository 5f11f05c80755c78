// Finding a console process object in the running object table by its
// moniker's display name, binding it, and attaching a VM control to it.
#include "win32/plugin/procControl.h"

#include "comfw/variant.h"
#include "pluginlog/pluginLog.h"
#include "win32/plugin/consoleCall.h"
#include "win32/plugin/consoleDispids.h"
#include "win32/plugin/procControlDetail.h"

#include <objbase.h>

namespace zova {

namespace detail {

HRESULT MakeVMControl(IDispatch* consoleProcess, DISPID dispid, HWND window, const RECT& rect,
                      comfw::ComPtr<IDispatch>& vmControl) noexcept {
    vmControl.reset();
    comfw::Variant result;
    const HRESULT hr = CallConsoleFor(consoleProcess, dispid, VT_DISPATCH, result,
                                      comfw::Variant::I4(HandleToI4(window)), comfw::Variant::I4(rect.left),
                                      comfw::Variant::I4(rect.top), comfw::Variant::I4(rect.right),
                                      comfw::Variant::I4(rect.bottom));
    if (FAILED(hr)) return hr;
    // The result's reference becomes the caller's.
    VARIANT raw;
    result.detach_to(&raw);
    vmControl = comfw::ComPtr<IDispatch>::Attach(raw.pdispVal);
    return hr;
}

HRESULT AdviseSink(IDispatch* vmControl, IDispatch* sink) noexcept {
    return CallConsole(vmControl, console::kAdvise, comfw::Variant::Dispatch(sink));
}

HRESULT EmbedVMControl(comfw::ComPtr<IDispatch> process, DISPID dispid, const char* makeFailure, HWND window,
                       const RECT& rect, IDispatch* sink, comfw::ComPtr<IDispatch>& consoleProcess,
                       comfw::ComPtr<IDispatch>& vmControl) noexcept {
    comfw::ComPtr<IDispatch> control;
    HRESULT hr = MakeVMControl(process.get(), dispid, window, rect, control);
    if (FAILED(hr)) {
        ZOVA_REPORT(makeFailure, static_cast<int>(hr));
        return hr;
    }
    hr = AdviseSink(control.get(), sink);
    if (FAILED(hr)) {
        ZOVA_REPORT("Advise failed: %d", static_cast<int>(hr));
        return hr;
    }
    // The references made here are the caller's now; nothing extra is taken.
    consoleProcess = std::move(process);
    vmControl = std::move(control);
    return hr;
}

}  // namespace detail

HRESULT GetMoniker(const std::wstring& monikerName, comfw::ComPtr<IMoniker>& moniker) noexcept {
    moniker.reset();
    comfw::ComPtr<IBindCtx> bindCtx;
    HRESULT hr = ::CreateBindCtx(0, bindCtx.put());
    if (FAILED(hr)) {
        ZOVA_REPORT("CreateBindCtx failed: %d\n", static_cast<int>(hr));
        return hr;
    }
    comfw::ComPtr<IRunningObjectTable> table;
    hr = bindCtx->GetRunningObjectTable(table.put());
    if (FAILED(hr)) {
        ZOVA_REPORT("GetRunningObjectTable failed: %d", static_cast<int>(hr));
        return hr;
    }
    comfw::ComPtr<IEnumMoniker> running;
    hr = table->EnumRunning(running.put());
    if (FAILED(hr)) {
        ZOVA_REPORT("EnumRunning failed: %d", static_cast<int>(hr));
        return hr;
    }
    comfw::ComPtr<IMalloc> allocator;
    hr = ::CoGetMalloc(1, allocator.put());
    if (FAILED(hr)) {
        ZOVA_REPORT("CoGetMalloc failed: %d", static_cast<int>(hr));
        return hr;
    }

    // Nothing is cached: the table is read afresh on every call, and the
    // first entry with the exact name (case included) wins.
    comfw::ComPtr<IMoniker> candidate;
    while (running->Next(1, candidate.put(), nullptr) == S_OK) {
        LPOLESTR displayName = nullptr;
        hr = candidate->GetDisplayName(bindCtx.get(), nullptr, &displayName);
        if (FAILED(hr)) {
            ZOVA_REPORT("GetDisplayName failed: %d", static_cast<int>(hr));
            continue;
        }
        bool same = false;
        try {
            same = displayName && std::wstring(displayName) == monikerName;
        } catch (...) {
        }
        allocator->Free(displayName);
        if (same) {
            moniker = std::move(candidate);
            return S_OK;
        }
    }
    return S_FALSE;
}

HRESULT BindToConsoleObject(const std::wstring& monikerName, comfw::ComPtr<IDispatch>& consoleProcess) noexcept {
    consoleProcess.reset();
    comfw::ComPtr<IMoniker> moniker;
    HRESULT hr = GetMoniker(monikerName, moniker);
    if (FAILED(hr)) {
        ZOVA_REPORT("GetMoniker failed: %d", static_cast<int>(hr));
        return hr;
    }
    if (hr == S_FALSE) {
        ZOVA_REPORT("Moniker not found");
        return E_FAIL;
    }
    comfw::ComPtr<IBindCtx> bindCtx;
    hr = ::CreateBindCtx(0, bindCtx.put());
    if (FAILED(hr)) {
        ZOVA_REPORT("CreateBindCtx failed: %d", static_cast<int>(hr));
        return hr;
    }
    // Only for the log: the bind goes on whatever this returns.
    LPOLESTR displayName = nullptr;
    moniker->GetDisplayName(bindCtx.get(), nullptr, &displayName);
    ZOVA_LOG("Binding to [%S]", displayName);
    ::CoTaskMemFree(displayName);

    hr = moniker->BindToObject(bindCtx.get(), nullptr, IID_IDispatch, consoleProcess.put_void());
    if (FAILED(hr)) {
        consoleProcess.reset();
        ZOVA_REPORT("BindToObject failed: %d", static_cast<int>(hr));
        return hr;
    }
    ZOVA_LOG("BindToObject succeeded");
    return hr;
}

HRESULT AttachToConsoleProcess(const std::wstring& instanceId, comfw::ComPtr<IDispatch>& consoleProcess) noexcept {
    try {
        return BindToConsoleObject(L"ZOVA_MONIKER_" + instanceId, consoleProcess);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT AttachConsoleAndControl(const std::wstring& instanceId, HWND window, const RECT& rect, IDispatch* sink,
                                comfw::ComPtr<IDispatch>& consoleProcess,
                                comfw::ComPtr<IDispatch>& vmControl) noexcept {
    comfw::ComPtr<IDispatch> process;
    HRESULT hr = AttachToConsoleProcess(instanceId, process);
    if (FAILED(hr)) {
        ZOVA_REPORT("Failed to attach to ZOVA process: %d", static_cast<int>(hr));
        return hr;
    }
    return detail::EmbedVMControl(std::move(process), console::kAttachControl, "Failed to attach control: %d", window,
                                  rect, sink, consoleProcess, vmControl);
}

}  // namespace zova
