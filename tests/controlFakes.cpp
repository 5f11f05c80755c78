#include "tests/controlFakes.h"

#include "win32/plugin/consoleDispids.h"

namespace zova::test {

FakeConsoleObject::~FakeConsoleObject() {
    for (Call& c : calls_)
        for (VARIANT& v : c.args) ::VariantClear(&v);
    for (auto& a : answers_) ::VariantClear(&a.second.result);
}

STDMETHODIMP FakeConsoleObject::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                                       EXCEPINFO*, UINT*) noexcept {
    Call call{id, {}};
    for (UINT i = params ? params->cArgs : 0; i-- > 0;) {
        VARIANT copy;
        ::VariantInit(&copy);
        // Wine's VariantCopy turns a null BSTR into an empty one; keep null.
        if (params->rgvarg[i].vt == VT_BSTR && !params->rgvarg[i].bstrVal)
            copy.vt = VT_BSTR;
        else
            ::VariantCopy(&copy, &params->rgvarg[i]);
        call.args.push_back(copy);
    }
    calls_.push_back(std::move(call));
    if (during && id == duringId) during();
    const auto found = answers_.find(id);
    if (found == answers_.end()) return S_OK;
    if (FAILED(found->second.hr)) return found->second.hr;
    if (result) ::VariantCopy(result, &found->second.result);
    return found->second.hr;
}

const FakeConsoleObject::Call* FakeConsoleObject::LastCall(DISPID id) const {
    for (auto it = calls_.rbegin(); it != calls_.rend(); ++it)
        if (it->id == id) return &*it;
    return nullptr;
}

std::vector<DISPID> FakeConsoleObject::CallIds() const {
    std::vector<DISPID> ids;
    for (const Call& c : calls_) ids.push_back(c.id);
    return ids;
}

namespace {
// An event sink stand-in: the control only passes it on.
class FakeSink final : public comfw::ComObject<FakeSink, comfw::DispatchByIdOnly<IDispatch>> {
public:
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) noexcept override {
        return S_OK;
    }
};
}  // namespace

FakeConsoleLink::FakeConsoleLink() {
    FakeConsoleObject::Make(process);
    FakeConsoleObject::Make(vm);
}

HRESULT FakeConsoleLink::CreateEventSink(ZOVAEmbeddedCtl&, comfw::ComPtr<IDispatch>& out) noexcept {
    ++sinksMade;
    if (FAILED(sinkResult)) return sinkResult;
    comfw::ComPtr<FakeSink> s;
    FakeSink::Make(s);
    sink = comfw::ComPtr<IDispatch>(s.get());
    out = sink;
    return S_OK;
}

HRESULT FakeConsoleLink::StartConsoleAndCreateControl(const std::wstring& id, UINT modes, int messageMode,
                                                      uint32_t features, HWND parent, const RECT& rect, IDispatch* s,
                                                      comfw::ComPtr<IDispatch>& p,
                                                      comfw::ComPtr<IDispatch>& v) noexcept {
    ++starts;
    lastId = id;
    lastModes = modes;
    lastMessageMode = messageMode;
    lastFeatures = features;
    lastWindow = parent;
    lastRect = rect;
    lastSink = s;
    if (duringStart) duringStart();
    if (FAILED(startResult)) return startResult;
    p = comfw::ComPtr<IDispatch>(process.get());
    v = comfw::ComPtr<IDispatch>(vm.get());
    return S_OK;
}

HRESULT FakeConsoleLink::AttachConsoleAndControl(const std::wstring& id, HWND window, const RECT& rect, IDispatch* s,
                                                 comfw::ComPtr<IDispatch>& p, comfw::ComPtr<IDispatch>& v) noexcept {
    ++attaches;
    lastId = id;
    lastWindow = window;
    lastRect = rect;
    lastSink = s;
    if (FAILED(attachResult)) return attachResult;
    p = comfw::ComPtr<IDispatch>(process.get());
    v = comfw::ComPtr<IDispatch>(vm.get());
    return S_OK;
}

void FakeConsoleLink::TeardownVMControl(comfw::ComPtr<IDispatch>& p, comfw::ComPtr<IDispatch>& v) noexcept {
    ++teardowns;
    // As the real teardown: Unadvise, Delete, then both let go.
    if (v) {
        DISPPARAMS none{};
        v->Invoke(console::kUnadvise, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
        v->Invoke(console::kDelete, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
    }
    v.reset();
    p.reset();
}

void FakeConsoleLink::ResizeVMWindow(HWND, IDispatch*) noexcept {
    ++resizes;
    if (onResize) onResize();
}

}  // namespace zova::test
