// The page's sink on a control's default source interface. The control calls
// Invoke with an event's dispid; the sink names the event from the source
// interface's type information and hands the call to the page, which runs
// the script handler with the arguments exactly as the control sent them.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <map>
#include <string>

#include "comfw/comObject.h"
#include "comfw/dispatch.h"

namespace pagehost {

class Page;

class EventSink final : public comfw::ComObject<EventSink, comfw::DispatchByIdOnly<IDispatch>> {
public:
    EventSink(Page* page, std::wstring controlId, const IID& eventIid, std::map<DISPID, std::wstring> names)
        : page_(page), controlId_(std::move(controlId)), iid_(eventIid), names_(std::move(names)) {}

    // Answers the source interface's IID besides IUnknown and IDispatch.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override;
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO*, UINT*) noexcept override;

    // The control is being closed: events that still arrive are dropped.
    void Detach() noexcept { page_ = nullptr; }

    // The event names of a source dispinterface, by dispid.
    static HRESULT NamesOf(ITypeInfo* events, std::map<DISPID, std::wstring>& names) noexcept;

private:
    Page* page_;
    std::wstring controlId_;
    IID iid_;
    std::map<DISPID, std::wstring> names_;
};

}  // namespace pagehost
