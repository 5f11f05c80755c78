// Decoding of one console event into an IVMControlEvent call.
#include "win32/plugin/vmControlEventDisp.h"

#include "comfw/bstr.h"

namespace zova {

namespace {

constexpr UINT kMaxParams = 8;

// What each console event number carries, parameters in call order.
struct Signature {
    UINT count;
    VARTYPE types[kMaxParams];
};

constexpr Signature kSignatures[] = {
    /* 0 onMessage */ {2, {VT_UI4, VT_BSTR}},
    /* 1 onConnectionStateChange */ {6, {VT_UI4, VT_BSTR, VT_BSTR, VT_BSTR, VT_BOOL, VT_BSTR}},
    /* 2 onGrabStateChange */ {1, {VT_UI4}},
    /* 3 onScreenSizeChange */ {2, {VT_I4, VT_I4}},
    /* 4 onFullscreenChange */ {1, {VT_BOOL}},
    /* 5 onDeviceStateChange */
    {8, {VT_UI4, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_BOOL, VT_BSTR}},
    /* 6 onVirtualDevicesChange */ {0, {}},
    /* 7 onPhysicalClientDevicesChange */ {0, {}},
};
constexpr UINT kEventCount = sizeof(kSignatures) / sizeof(kSignatures[0]);

// The event's arguments by parameter index: parameter k of n is rgvarg[n-1-k]
// (the array holds them last first). Strings are copied up front, so that the
// operation gets strings of its own and nothing is called when a copy fails.
class Arguments {
public:
    explicit Arguments(const DISPPARAMS& params) noexcept : params_(params) {}

    HRESULT CopyStrings(const Signature& signature) noexcept {
        for (UINT k = 0; k < signature.count; ++k) {
            if (signature.types[k] != VT_BSTR) continue;
            const HRESULT hr = comfw::Bstr::CopyOf(at(k).bstrVal, strings_[k]);  // null stays null
            if (FAILED(hr)) return hr;
        }
        return S_OK;
    }

    uint32_t UI4(UINT k) const noexcept { return at(k).ulVal; }
    int32_t I4(UINT k) const noexcept { return at(k).lVal; }
    bool Bool(UINT k) const noexcept { return at(k).boolVal != VARIANT_FALSE; }
    BSTR Str(UINT k) const noexcept { return strings_[k].get(); }

    const VARIANT& at(UINT k) const noexcept { return params_.rgvarg[params_.cArgs - 1 - k]; }

private:
    const DISPPARAMS& params_;
    comfw::Bstr strings_[kMaxParams];
};

}  // namespace

HRESULT InvokeVMControlEvent(IVMControlEvent* target, DISPID dispid, const DISPPARAMS* params) noexcept {
    if (!target) return E_POINTER;
    // Negative numbers compare as huge unsigned ones: outside too.
    if (static_cast<ULONG>(dispid) >= kEventCount) return DISP_E_MEMBERNOTFOUND;
    const DISPPARAMS none{nullptr, nullptr, 0, 0};
    const DISPPARAMS& block = params ? *params : none;
    const Signature& signature = kSignatures[dispid];
    if (block.cArgs != signature.count) return DISP_E_BADPARAMCOUNT;
    if (block.cArgs && !block.rgvarg) return E_POINTER;

    Arguments args(block);
    // Exact types only: no conversion, no by-reference variants.
    for (UINT k = 0; k < signature.count; ++k) {
        if (args.at(k).vt != signature.types[k]) return DISP_E_TYPEMISMATCH;
    }
    const HRESULT copied = args.CopyStrings(signature);
    if (FAILED(copied)) return copied;

    switch (dispid) {
    case 0:
        return target->onMessage(args.UI4(0), args.Str(1));
    case 1:
        return target->onConnectionStateChange(args.UI4(0), args.Str(1), args.Str(2), args.Str(3), args.Bool(4),
                                               args.Str(5));
    case 2:
        return target->onGrabStateChange(args.UI4(0));
    case 3:
        return target->onScreenSizeChange(args.I4(0), args.I4(1));
    case 4:
        return target->onFullscreenChange(args.Bool(0));
    case 5:
        return target->onDeviceStateChange(args.UI4(0), args.Str(1), args.Str(2), args.Str(3), args.Str(4),
                                           args.Str(5), args.Bool(6), args.Str(7));
    case 6:
        return target->onVirtualDevicesChange();
    default:
        return target->onPhysicalClientDevicesChange();
    }
}

}  // namespace zova
