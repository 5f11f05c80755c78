// Fakes for driving the control in-process: a console object that records
// every call by dispid, and a console link that hands such objects out.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "axplugin/consoleLink.h"
#include "comfw/comObject.h"
#include "comfw/dispatch.h"
#include "comfw/variant.h"

namespace zova::test {

// A console object (console process object or VM control) called by dispid.
class FakeConsoleObject final : public comfw::ComObject<FakeConsoleObject, comfw::DispatchByIdOnly<IDispatch>> {
public:
    struct Call {
        DISPID id;
        std::vector<VARIANT> args;  // in call order, owned copies
    };
    struct Answer {
        HRESULT hr = S_OK;
        VARIANT result{};  // VT_EMPTY unless set
    };

    ~FakeConsoleObject() override;

    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO*, UINT*) noexcept override;

    void Answer_(DISPID id, HRESULT hr) { answers_[id].hr = hr; }
    void AnswerI4(DISPID id, LONG v) { Set(id, VT_I4).lVal = v; }
    void AnswerUI4(DISPID id, ULONG v) { Set(id, VT_UI4).ulVal = v; }
    void AnswerBool(DISPID id, bool v) { Set(id, VT_BOOL).boolVal = v ? VARIANT_TRUE : VARIANT_FALSE; }

    const std::vector<Call>& calls() const { return calls_; }
    const Call* LastCall(DISPID id) const;
    std::vector<DISPID> CallIds() const;
    // Runs during the call with this dispid (before it answers).
    std::function<void()> during;
    DISPID duringId = -1;

private:
    VARIANT& Set(DISPID id, VARTYPE vt) {
        answers_[id].hr = S_OK;
        VARIANT& v = answers_[id].result;
        ::VariantClear(&v);
        v.vt = vt;
        return v;
    }
    std::vector<Call> calls_;
    std::map<DISPID, Answer> answers_;
};

// The console link with fakes behind it; records what the control asked.
class FakeConsoleLink final : public ConsoleLink {
public:
    HRESULT sinkResult = S_OK;
    HRESULT startResult = S_OK;
    HRESULT attachResult = S_OK;
    int sinksMade = 0, starts = 0, attaches = 0, teardowns = 0, resizes = 0;
    std::wstring lastId;
    UINT lastModes = 0;
    int lastMessageMode = 0;
    uint32_t lastFeatures = 0;
    HWND lastWindow = nullptr;
    RECT lastRect{};
    IDispatch* lastSink = nullptr;
    comfw::ComPtr<FakeConsoleObject> process, vm;
    comfw::ComPtr<IDispatch> sink;        // the sink handed out, when the test keeps it
    std::function<void()> duringStart;    // runs while "waiting for the console"
    std::function<void()> onResize;

    FakeConsoleLink();

    HRESULT CreateEventSink(ZOVAEmbeddedCtl& owner, comfw::ComPtr<IDispatch>& out) noexcept override;
    HRESULT StartConsoleAndCreateControl(const std::wstring& id, UINT modes, int messageMode, uint32_t features,
                                         HWND parent, const RECT& rect, IDispatch* s,
                                         comfw::ComPtr<IDispatch>& p, comfw::ComPtr<IDispatch>& v) noexcept override;
    HRESULT AttachConsoleAndControl(const std::wstring& id, HWND window, const RECT& rect, IDispatch* s,
                                    comfw::ComPtr<IDispatch>& p, comfw::ComPtr<IDispatch>& v) noexcept override;
    void TeardownVMControl(comfw::ComPtr<IDispatch>& p, comfw::ComPtr<IDispatch>& v) noexcept override;
    void ResizeVMWindow(HWND window, IDispatch* v) noexcept override;
};

}  // namespace zova::test
