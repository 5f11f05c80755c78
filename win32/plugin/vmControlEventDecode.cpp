// Decoding of one console event into an IVMControlEvent call.
#include "win32/plugin/vmControlEventDisp.h"

#include "comfw/bstr.h"
#include "zova/consoleContract.h"

namespace zova {

namespace {

constexpr UINT kMaxParams = 8;

// What each console event number carries, parameters in call order; row n
// is event number n (checked below).
struct Signature {
    DISPID id;
    UINT count;
    VARTYPE types[kMaxParams];
};

constexpr Signature kSignatures[] = {
    {ZOVA_EVENTID_MESSAGE, 2, {VT_UI4, VT_BSTR}},
    {ZOVA_EVENTID_CONNECTION_STATE_CHANGE, 6, {VT_UI4, VT_BSTR, VT_BSTR, VT_BSTR, VT_BOOL, VT_BSTR}},
    {ZOVA_EVENTID_GRAB_STATE_CHANGE, 1, {VT_UI4}},
    {ZOVA_EVENTID_SCREEN_SIZE_CHANGE, 2, {VT_I4, VT_I4}},
    {ZOVA_EVENTID_FULLSCREEN_CHANGE, 1, {VT_BOOL}},
    {ZOVA_EVENTID_DEVICE_STATE_CHANGE, 8, {VT_UI4, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_BOOL, VT_BSTR}},
    {ZOVA_EVENTID_VIRTUAL_DEVICES_CHANGE, 0, {}},
    {ZOVA_EVENTID_PHYSICAL_CLIENT_DEVICES_CHANGE, 0, {}},
};
constexpr UINT kEventCount = sizeof(kSignatures) / sizeof(kSignatures[0]);

constexpr bool RowsAreEventNumbers() {
    for (UINT i = 0; i < kEventCount; ++i) {
        if (kSignatures[i].id != static_cast<DISPID>(i)) return false;
    }
    return true;
}
static_assert(RowsAreEventNumbers(), "the console's event numbers run from 0 without gaps, in this order");

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
    case ZOVA_EVENTID_MESSAGE:
        return target->onMessage(args.UI4(0), args.Str(1));
    case ZOVA_EVENTID_CONNECTION_STATE_CHANGE:
        return target->onConnectionStateChange(args.UI4(0), args.Str(1), args.Str(2), args.Str(3), args.Bool(4),
                                               args.Str(5));
    case ZOVA_EVENTID_GRAB_STATE_CHANGE:
        return target->onGrabStateChange(args.UI4(0));
    case ZOVA_EVENTID_SCREEN_SIZE_CHANGE:
        return target->onScreenSizeChange(args.I4(0), args.I4(1));
    case ZOVA_EVENTID_FULLSCREEN_CHANGE:
        return target->onFullscreenChange(args.Bool(0));
    case ZOVA_EVENTID_DEVICE_STATE_CHANGE:
        return target->onDeviceStateChange(args.UI4(0), args.Str(1), args.Str(2), args.Str(3), args.Str(4),
                                           args.Str(5), args.Bool(6), args.Str(7));
    case ZOVA_EVENTID_VIRTUAL_DEVICES_CHANGE:
        return target->onVirtualDevicesChange();
    default:  // ZOVA_EVENTID_PHYSICAL_CLIENT_DEVICES_CHANGE, the last row
        return target->onPhysicalClientDevicesChange();
    }
}

}  // namespace zova
