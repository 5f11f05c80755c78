#include "win32/plugin/vmControlEventDisp.h"

#include "pluginlog/pluginLog.h"

namespace zova {

namespace {

// VariantCopy, except that a null string stays null: the platform's copy
// makes it an empty string (Wine's does), and the page must see what the
// console sent.
HRESULT CopyArgument(comfw::Variant& to, const VARIANT& from) noexcept {
    if (from.vt == VT_BSTR && !from.bstrVal) {
        to = comfw::Variant::OwnBstr(nullptr);
        return S_OK;
    }
    return to.copy_from(from);
}

// The queued arguments as the argument block of a call: a Variant is exactly
// one VARIANT.
static_assert(sizeof(comfw::Variant) == sizeof(VARIANT) && alignof(comfw::Variant) == alignof(VARIANT));
VARIANTARG* ArgumentBlock(std::vector<comfw::Variant>& args) noexcept {
    return args.empty() ? nullptr : reinterpret_cast<VARIANTARG*>(args.data());
}

}  // namespace

HWND VMControlEventDisp::CreateDispatcherWindow() noexcept {
    // A message-only window ignores position and size; an explicit empty
    // rectangle keeps the wrapper from computing a default one.
    const RECT none{0, 0, 0, 0};
    return CreateWindowFor(HWND_MESSAGE, &none, nullptr, 0, 0);
}

STDMETHODIMP VMControlEventDisp::Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                        EXCEPINFO*, UINT*) noexcept {
    // The marshaller always supplies an argument block; an in-process caller
    // might not.
    if (!params || (params->cArgs && !params->rgvarg)) return E_POINTER;
    try {
        Event event;
        event.dispid = dispid;
        event.args.resize(params->cArgs);  // VT_EMPTY each
        for (UINT i = 0; i < params->cArgs; ++i) {
            const HRESULT hr = CopyArgument(event.args[i], params->rgvarg[i]);
            if (FAILED(hr)) {
                // A half-copied event would be rejected at delivery anyway;
                // it is dropped now, and the console hears why.
                ZOVA_REPORT("Failed to copy argument %u of VM control event %d, event dropped: %d", i, static_cast<int>(dispid), static_cast<int>(hr));
                return hr;
            }
        }
        pending_.push_back(std::move(event));
    } catch (const std::bad_alloc&) {
        ZOVA_REPORT("Out of memory queuing VM control event %d", static_cast<int>(dispid));
        return E_OUTOFMEMORY;
    }
    // Without its window a post would go to the thread's queue, where nobody
    // looks for it: that counts as a failed post.
    const HWND window = hwnd();
    if (!window) ::SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    if (!window || !::PostMessageW(window, WM_VM_CONTROL_EVENT, 0, 0)) {
        ZOVA_REPORT("PostMessage failed: %d", static_cast<int>(::GetLastError()));
        return E_FAIL;
    }
    return S_OK;
}

LRESULT VMControlEventDisp::HandleMessage(UINT msg, WPARAM, LPARAM, bool& handled) noexcept {
    if (msg != WM_VM_CONTROL_EVENT) return 0;
    handled = true;
    OnVMControlEvent();
    return 0;
}

void VMControlEventDisp::OnVMControlEvent() noexcept {
    // Events that arrive while this batch is delivered (a handler that calls
    // out lets COM dispatch incoming calls) land in the emptied member list
    // and go out with the message their own Invoke posted.
    std::list<Event> batch;
    batch.swap(pending_);
    if (batch.empty()) return;

    // A handler may make the console let go of this object (teardown from a
    // page handler); the batch is finished on a live object all the same,
    // and the object goes when this reference does, after the last use.
    AddRef();
    for (Event& event : batch) {
        DISPPARAMS params{ArgumentBlock(event.args), nullptr, static_cast<UINT>(event.args.size()), 0};
        const HRESULT hr = InvokeVMControlEvent(this, event.dispid, &params);
        if (FAILED(hr)) ZOVA_REPORT("Failed to call VM control event %d: %d", static_cast<int>(event.dispid), static_cast<int>(hr));
    }
    batch.clear();
    Release();
}

VMControlEventDisp::~VMControlEventDisp() {
    if (!pending_.empty()) {
        ZOVA_REPORT("VM control event dispatcher is being destroyed with %d undelivered events:",
                    static_cast<int>(pending_.size()));
        for (const Event& event : pending_) ZOVA_REPORT(" event dispid=%d", static_cast<int>(event.dispid));
    }
    if (const HWND window = hwnd(); window && ::IsWindow(window)) {
        if (!::DestroyWindow(window)) {
            ZOVA_REPORT("Failed to destroy VM control event dispatcher window");
            // Only a window of another thread refuses, which the apartment
            // rule rules out; should it happen, the window outlives this
            // object and must not find it any more.
            ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        }
    }
    pending_.clear();
}

}  // namespace zova
