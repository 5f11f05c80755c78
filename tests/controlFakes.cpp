#include "tests/controlFakes.h"

#include "axplugin/eventSink.h"

namespace zova::test {

FakeConsoleObject::~FakeConsoleObject() {
    for (Call& c : calls_)
        for (VARIANT& v : c.args) ::VariantClear(&v);
}

STDMETHODIMP FakeConsoleObject::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                       VARIANT* result, EXCEPINFO* info, UINT* arg) noexcept {
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
    if (real_) return real_->Invoke(id, riid, lcid, flags, params, result, info, arg);
    if (const auto failed = failures_.find(id); failed != failures_.end()) return failed->second;
    const auto found = answers_.find(id);
    if (result && found != answers_.end()) return ::VariantCopy(result, const_cast<VARIANT*>(&found->second.get()));
    return S_OK;
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

HRESULT FakeConsoleLink::CreateEventSink(ZOVAEmbeddedCtl& owner, ComPtr<IDispatch>& out) noexcept {
    if (FAILED(sinkResult)) return sinkResult;
    ComPtr<FakeConsoleObject> made;
    const HRESULT hr = real       ? real->CreateEventSink(owner, out)
                       : realSink ? CreateEventSinkFor(owner, out)
                                  : FakeConsoleObject::Make(made);
    if (made) out = ComPtr<IDispatch>(made.get());
    if (SUCCEEDED(hr)) sink = out;
    return hr;
}

HRESULT FakeConsoleLink::HandOut(HRESULT hr, ComPtr<IDispatch>& p, ComPtr<IDispatch>& v) noexcept {
    if (FAILED(hr)) return hr;
    if (real) {
        realVm = v;
        if (FAILED(hr = FakeConsoleObject::Make(vm, v.get()))) return hr;
    } else {
        p = ComPtr<IDispatch>(process.get());
    }
    v = ComPtr<IDispatch>(vm.get());
    return S_OK;
}

STDMETHODIMP PageSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                              UINT*) noexcept {
    std::wstring e = std::to_wstring(id) + L":";
    for (UINT i = params->cArgs; i-- > 0;) {
        const VARIANT& v = params->rgvarg[i];
        e += i + 1 == params->cArgs ? L" " : L", ";
        if (v.vt == VT_BSTR)
            e += v.bstrVal ? L"'" + std::wstring(v.bstrVal) + L"'" : L"null";
        else
            e += (v.vt == VT_I4 ? L"i4 " : v.vt == VT_UI4 ? L"ui4 " : v.vt == VT_BOOL ? L"bool " : L"other ") +
                 std::to_wstring(v.vt == VT_BOOL ? v.boolVal : v.lVal);
    }
    events.push_back(e);
    if (during) during(id);
    return answer;
}

ComPtr<PageSink> PageSink::ConnectedTo(ZOVAEmbeddedCtl& control) {
    ComPtr<PageSink> sink;
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    if (FAILED(Make(sink)) ||
        FAILED(control.FindConnectionPoint(DIID__IVelmoraEmbeddedRemoteConsoleEvents, point.put())) ||
        FAILED(point->Advise(static_cast<IDispatch*>(sink.get()), &cookie)))
        sink.reset();
    return sink;
}

ControlRig::ControlRig(ConsoleLink* real) : link(real) {
    if (SUCCEEDED(ZOVAEmbeddedCtl::Make(control))) {
        control->set_console_link(link);
        page = PageSink::ConnectedTo(*control);
    }
}

}  // namespace zova::test
