// Driving the control in-process: fake or recording console objects and link, a page's event sink, a control on them.
#pragma once

#include <functional>
#include <map>
#include <vector>

#include "axplugin/zovaEmbeddedCtl.h"
#include "comfw/bstr.h"
#include "comfw/variant.h"
#include "win32/plugin/procControl.h"

namespace zova::test {

using comfw::ComPtr;

// A console object that records its calls by dispid; alone it answers S_OK (VT_UI4 where set),
// made over a real one it passes every call on. Also a stand-in event sink (only passed on).
class FakeConsoleObject final : public comfw::ComObject<FakeConsoleObject, comfw::DispatchByIdOnly<IDispatch>> {
public:
    struct Call {
        DISPID id;
        std::vector<VARIANT> args;  // in call order, owned copies
    };
    explicit FakeConsoleObject(IDispatch* real = nullptr) noexcept : real_(real) {}
    ~FakeConsoleObject() override;
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* info, UINT* arg) noexcept override;
    void AnswerUI4(DISPID id, ULONG v) { answers_[id] = comfw::Variant::UI4(v); }
    // Answers `id` with a copy of any value, or fails it with `hr`.
    void Answer(DISPID id, const VARIANT& v) { answers_[id].copy_from(v); }
    void Fail(DISPID id, HRESULT hr) { failures_[id] = hr; }
    const Call* LastCall(DISPID id) const;
    std::vector<DISPID> CallIds() const;

private:
    ComPtr<IDispatch> real_;
    std::vector<Call> calls_;
    std::map<DISPID, comfw::Variant> answers_;
    std::map<DISPID, HRESULT> failures_;
};

// The console link with fakes behind it, recording what the control asked; or, made over the
// shipping link, passing every call on, with its VM control wrapped in `vm` to record calls.
class FakeConsoleLink final : public ConsoleLink {
public:
    ConsoleLink* const real;
    HRESULT sinkResult = S_OK, startResult = S_OK, attachResult = S_OK;
    bool realSink = false;  // the shipping event sink even over fakes
    int starts = 0, attaches = 0, teardowns = 0;
    std::wstring lastId;
    UINT lastModes = 0;
    int lastMessageMode = 0;
    uint32_t lastFeatures = 0;
    ComPtr<FakeConsoleObject> process, vm;
    ComPtr<IDispatch> sink;             // the last sink handed out, kept like a console slow to let go
    ComPtr<IDispatch> realVm;           // the real console's VM control, for its test hooks
    std::function<void()> duringStart;     // runs while "waiting for the console"
    std::function<void()> duringTeardown;  // runs while "Unadvise and Delete" wait

    explicit FakeConsoleLink(ConsoleLink* realLink = nullptr) : real(realLink) {
        FakeConsoleObject::Make(process);
        FakeConsoleObject::Make(vm);
    }
    HRESULT CreateEventSink(ZOVAEmbeddedCtl& owner, ComPtr<IDispatch>& out) noexcept override;
    HRESULT StartConsoleAndCreateControl(const std::wstring& id, UINT modes, int mode, uint32_t features, HWND parent,
                                         const RECT& rect, IDispatch* s, ComPtr<IDispatch>& p,
                                         ComPtr<IDispatch>& v) noexcept override {
        ++starts;
        lastId = id;
        lastModes = modes;
        lastMessageMode = mode;
        lastFeatures = features;
        if (duringStart) duringStart();
        if (!real) return HandOut(startResult, p, v);
        return HandOut(real->StartConsoleAndCreateControl(id, modes, mode, features, parent, rect, s, p, v), p, v);
    }
    HRESULT AttachConsoleAndControl(const std::wstring& id, HWND window, const RECT& rect, IDispatch* s,
                                    ComPtr<IDispatch>& p, ComPtr<IDispatch>& v) noexcept override {
        ++attaches;
        lastId = id;
        if (duringStart) duringStart();
        return HandOut(real ? real->AttachConsoleAndControl(id, window, rect, s, p, v) : attachResult, p, v);
    }
    void TeardownVMControl(ComPtr<IDispatch>& p, ComPtr<IDispatch>& v) noexcept override {
        ++teardowns;
        if (duringTeardown) duringTeardown();
        if (real) real->TeardownVMControl(p, v);
        v.reset();
        p.reset();
    }
    // Over fakes, the shipping fit runs against the fake VM control.
    void ResizeVMWindow(HWND window, IDispatch* v) noexcept override {
        if (real)
            real->ResizeVMWindow(window, v);
        else
            zova::ResizeVMWindow(window, v);
    }

private:
    HRESULT HandOut(HRESULT hr, ComPtr<IDispatch>& p, ComPtr<IDispatch>& v) noexcept;
};

// A page's event sink: records each event as its dispid and arguments in order, e.g. "4: i4 800,
// ui4 2, bool -1, 'text', null" (null: a null BSTR); runs `during` in the firing, answers `answer`.
class PageSink final
    : public comfw::ComObject<PageSink, comfw::DispatchByIdOnly<_IVelmoraEmbeddedRemoteConsoleEvents>> {
public:
    HRESULT answer = S_OK;
    std::vector<std::wstring> events;
    std::function<void(DISPID)> during;

    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                        UINT*) noexcept override;
    // A new sink connected to the control's events, or null.
    static ComPtr<PageSink> ConnectedTo(ZOVAEmbeddedCtl& control);
};

// A control on a FakeConsoleLink (over `real` when given) with a page sink connected; `id` holds what Startup gave.
struct ControlRig {
    FakeConsoleLink link;
    ComPtr<ZOVAEmbeddedCtl> control;
    ComPtr<PageSink> page;
    comfw::Bstr id;

    explicit ControlRig(ConsoleLink* real = nullptr);
    HRESULT Startup(const wchar_t* config = nullptr, UINT modes = 2, int messageMode = 2) {
        comfw::Bstr text;
        comfw::Bstr::FromText(config, text);
        return control->startup(modes, static_cast<ZOVA_MessageMode>(messageMode), text.get(), id.put());
    }
};

}  // namespace zova::test
