// The console event decoder on random DISPPARAMS: a refusal without a call,
// or exactly one call with the arguments' values, strings as fresh copies.
#include "tests/fuzz/fuzz.h"
#include "win32/plugin/vmControlEventDisp.h"

#include <cstring>
#include <vector>

namespace zova::fuzz {
namespace {

// Each event's parameter types in call order, by the console's numbering:
// u VT_UI4, i VT_I4, b VT_BOOL, s VT_BSTR.
const char* const kSignatures[] = {"us", "usssbs", "u", "ii", "b", "usssssbs", "", ""};

struct Value {
    VARTYPE vt;
    uint64_t bits;   // a number or a string's address
    std::string bytes;  // a string's stored bytes
};

Value Of(uint32_t v) { return {VT_UI4, v, {}}; }
Value Of(int32_t v) { return {VT_I4, static_cast<uint32_t>(v), {}}; }
Value Of(bool v) { return {VT_BOOL, v, {}}; }
Value Of(BSTR s) {
    return {VT_BSTR, reinterpret_cast<uintptr_t>(s), s ? std::string(reinterpret_cast<char*>(s), ::SysStringByteLen(s)) : ""};
}

// Writes down each call it gets as the event number and the values.
struct Recorder final : IVMControlEvent {
    int calls = 0, event = -1;
    std::vector<Value> values;
    HRESULT answer = S_OK;

    template <class... V>
    HRESULT Note(int number, V... v) noexcept {
        ++calls, event = number, values = {Of(v)...};
        return answer;
    }
    HRESULT onMessage(uint32_t t, BSTR m) noexcept override { return Note(0, t, m); }
    HRESULT onConnectionStateChange(uint32_t cs, BSTR h, BSTR d, BSTR v, bool u, BSTR r) noexcept override {
        return Note(1, cs, h, d, v, u, r);
    }
    HRESULT onScreenSizeChange(int32_t w, int32_t h) noexcept override { return Note(3, w, h); }
    HRESULT onGrabStateChange(uint32_t g) noexcept override { return Note(2, g); }
    HRESULT onFullscreenChange(bool f) noexcept override { return Note(4, f); }
    HRESULT onDeviceStateChange(uint32_t s, BSTR h, BSTR d, BSTR v, BSTR vk, BSTR pk, bool u, BSTR r) noexcept override {
        return Note(5, s, h, d, v, vk, pk, u, r);
    }
    HRESULT onVirtualDevicesChange() noexcept override { return Note(6); }
    HRESULT onPhysicalClientDevicesChange() noexcept override { return Note(7); }
};

VARTYPE TypeOf(char c) { return c == 'u' ? VT_UI4 : c == 'i' ? VT_I4 : c == 'b' ? VT_BOOL : VT_BSTR; }

// A string of random text, null, or of an odd byte length.
BSTR RandomBstr(Rng& rng) {
    if (rng.Percent(15)) return nullptr;
    const std::wstring text = rng.Text(300);
    if (rng.Percent(10)) return ::SysAllocStringByteLen(reinterpret_cast<const char*>(text.data()), text.size() * 2 + 1 - !text.size());
    return ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

}  // namespace

void FuzzEventDecoder(Rng& rng) {
    const DISPID dispid = rng.Percent(90) ? rng.Below(8) : static_cast<DISPID>(rng.Pick({8ull, ~0ull, 0x80000000ull, rng.Next()}));
    const char* signature = kSignatures[dispid >= 0 && dispid < 8 ? dispid : rng.Below(8)];
    const UINT count = rng.Percent(85) ? std::strlen(signature) : rng.Below(10);
    // The arguments in rgvarg order (last first); by-reference ones point into `pointees`.
    std::vector<VARIANT> args(count);
    std::vector<VARIANT> pointees(count);
    static const VARTYPE kOdd[] = {VT_EMPTY, VT_NULL, VT_I2, VT_I4, VT_UI4, VT_BOOL, VT_BSTR, VT_DISPATCH, VT_UNKNOWN,
                                   VT_R8, VT_BYREF | VT_UI4, VT_BYREF | VT_BSTR, VT_BYREF | VT_VARIANT, VT_BYREF | VT_BOOL};
    bool typed = count == std::strlen(signature);
    for (UINT k = 0; k < count; ++k) {  // parameter k is rgvarg[count-1-k]
        VARIANT& v = args[count - 1 - k];
        ::VariantInit(&v), ::VariantInit(&pointees[k]);
        v.vt = k < std::strlen(signature) && rng.Percent(92) ? TypeOf(signature[k]) : rng.Pick(kOdd);
        typed = typed && v.vt == TypeOf(signature[k]);
        v.ullVal = rng.Next();
        if (v.vt == VT_BOOL) v.boolVal = rng.Percent(50) ? VARIANT_TRUE : rng.Pick({VARIANT_FALSE, VARIANT_TRUE, short(1), short(0x100)});
        if ((v.vt & VT_TYPEMASK) == VT_BSTR) pointees[k].vt = VT_BSTR, pointees[k].bstrVal = v.bstrVal = RandomBstr(rng);
        if (v.vt == VT_DISPATCH || v.vt == VT_UNKNOWN) v.punkVal = nullptr;
        if (v.vt & VT_BYREF) v.byref = v.vt == (VT_BYREF | VT_VARIANT) ? static_cast<void*>(&pointees[k]) : &pointees[k].bstrVal;
    }
    const bool nullArray = count && rng.Percent(2);
    DISPPARAMS params{nullArray ? nullptr : args.data(), nullptr, count, 0};
    Recorder target;
    target.answer = rng.Pick({S_OK, S_FALSE, E_FAIL, E_ACCESSDENIED});

    const HRESULT hr = InvokeVMControlEvent(&target, dispid, count || rng.Percent(50) ? &params : nullptr);

    if (dispid < 0 || dispid >= 8) FUZZ_CHECK(hr == DISP_E_MEMBERNOTFOUND);
    else if (count != std::strlen(signature)) FUZZ_CHECK(hr == DISP_E_BADPARAMCOUNT);
    else if (nullArray) FUZZ_CHECK(hr == E_POINTER);
    else if (!typed) FUZZ_CHECK(hr == DISP_E_TYPEMISMATCH);
    else FUZZ_CHECK(hr == target.answer);
    const bool called = hr == target.answer;
    FUZZ_CHECK(target.calls == (called ? 1 : 0));
    if (called) {
        FUZZ_CHECK(target.event == dispid && target.values.size() == count);
        for (UINT k = 0; k < count; ++k) {
            const VARIANT& sent = args[count - 1 - k];
            const Value& got = target.values[k];
            FUZZ_CHECK(got.vt == sent.vt);
            if (sent.vt == VT_BOOL) FUZZ_CHECK(got.bits == (sent.boolVal != VARIANT_FALSE));
            else if (sent.vt != VT_BSTR) FUZZ_CHECK(got.bits == sent.ulVal);
            else if (!sent.bstrVal) FUZZ_CHECK(got.bits == 0);
            else FUZZ_CHECK(got.bits != reinterpret_cast<uintptr_t>(sent.bstrVal) && got.bytes == Of(sent.bstrVal).bytes);
        }
    }
    for (VARIANT& p : pointees) ::VariantClear(&p);  // the strings, whether held by value or by reference
}

}  // namespace zova::fuzz
