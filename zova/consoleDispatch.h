// IDispatch of the console's objects: the type library's dispatch
// (comfw::DispatchFromTypeLib) with two additions.
//  - A failing operation's HRESULT is what Invoke returns. OLE Automation's
//    type-library dispatch wraps it as DISP_E_EXCEPTION; callers of the console
//    pass no exception information and expect the status itself.
//  - The test fault switches by dispid (faults.h): exit, fail, wrong type.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "comfw/dispatch.h"
#include "comfw/excepInfo.h"
#include "zova/faults.h"

namespace zova::console {

// Replaces a result by a value of another variant type (a wrong-type fault).
inline void ReplaceWithWrongType(VARIANT* result, VARTYPE vt) noexcept {
    ::VariantClear(result);
    result->vt = vt;
    result->llVal = 0;
    if (vt == VT_BSTR) result->bstrVal = ::SysAllocString(L"wrong type");
}

template <class Iface>
class ConsoleDispatch : public comfw::DispatchFromTypeLib<Iface> {
public:
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excep, UINT* argErr) noexcept override {
        const Faults& faults = ActiveFaults();
        if (const auto e = faults.exitCode.find(id); e != faults.exitCode.end()) ::ExitProcess(e->second);
        if (const auto f = faults.fail.find(id); f != faults.fail.end()) return f->second;

        comfw::ExcepInfo info;
        HRESULT hr = comfw::DispatchFromTypeLib<Iface>::Invoke(id, riid, lcid, flags, params, result, &info, argErr);
        if (hr == DISP_E_EXCEPTION) {
            if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
            if (FAILED(info.scode)) hr = info.scode;
        }
        if (SUCCEEDED(hr) && result) {
            if (const auto w = faults.wrongType.find(id); w != faults.wrongType.end()) {
                ReplaceWithWrongType(result, w->second);
            }
        }
        (void)excep;
        return hr;
    }
};

}  // namespace zova::console
