// The device details conversion on random SAFEARRAYs: S_OK with every field
// as the element texts say, or a failure that leaves the object as it was.
#include "axplugin/deviceDetails.h"
#include "comfw/module.h"
#include "comfw/variant.h"
#include "tests/fuzz/fuzz.h"

#include <deque>
#include <vector>

namespace zova::fuzz {
namespace {

using Fields = std::vector<std::string>;

// Field kinds by element: t text, n number, f flag.
const char kVirtual[] = "tnnftfntt", kPhysical[] = "tnnfttnfn";

// A text field's stored bytes. Wine's VariantCopy makes a null string empty,
// so the two read alike here (across processes they always do).
std::string Bytes(BSTR s) { return "'" + std::string(reinterpret_cast<char*>(s), ::SysStringByteLen(s)); }

// A number as the details read it: an optional sign, then decimal digits
// that fit 32 bits; a minus wraps around.
bool Number(const std::wstring& text, std::string& out) {
    const size_t sign = !text.empty() && (text[0] == L'-' || text[0] == L'+');
    uint64_t value = 0;
    for (size_t i = sign; i < text.size(); ++i) {
        if (text[i] < L'0' || text[i] > L'9' || (value = value * 10 + (text[i] - L'0')) > 0xFFFFFFFFull) return false;
    }
    out = "n" + std::to_string(text[0] == L'-' ? static_cast<uint32_t>(0u - value) : static_cast<uint32_t>(value));
    return text.size() > sign;
}

std::string Show(BSTR s) { std::string r = Bytes(s); ::SysFreeString(s); return r; }
std::string Show(VARIANT_BOOL v) { return v == VARIANT_TRUE ? "f1" : v == VARIANT_FALSE ? "f0" : "f?"; }
template <class T>
std::string Show(T v) { return "n" + std::to_string(static_cast<uint32_t>(v)); }

template <class I, class T>
std::string Get(I* p, HRESULT (STDMETHODCALLTYPE I::*get)(T*)) {
    T v{};
    FUZZ_CHECK((p->*get)(&v) == S_OK);
    return Show(v);
}

Fields Read(IVirtualDeviceDetails* d) {
    using I = IVirtualDeviceDetails;
    return {Get(d, &I::get_key), Get(d, &I::get_type), Get(d, &I::get_state), Get(d, &I::get_connectedByMe),
            Get(d, &I::get_name), Get(d, &I::get_clientBacking), Get(d, &I::get_backing), Get(d, &I::get_backingKey),
            Get(d, &I::get_hostname)};
}
Fields Read(IPhysicalClientDeviceDetails* d) {
    using I = IPhysicalClientDeviceDetails;
    return {Get(d, &I::get_key), Get(d, &I::get_type), Get(d, &I::get_state), Get(d, &I::get_connectedByMe),
            Get(d, &I::get_name), Get(d, &I::get_path), Get(d, &I::get_usbFamilies), Get(d, &I::get_usbSharable),
            Get(d, &I::get_usbSpeeds)};
}

// A random array, and the fields it should give (empty when it should fail).
struct Answer {
    comfw::SafeArray array;
    std::deque<comfw::Variant> pointees;  // what by-reference elements point to
    Fields fields;
};

BSTR Alloc(const std::wstring& s) { return ::SysAllocStringLen(s.data(), static_cast<UINT>(s.size())); }

void Make(Rng& rng, const char* kinds, Answer& a) {
    static const wchar_t* const kNumbers[] = {L"0", L"2", L"4294967295", L"4294967296", L"-1", L"+7", L"007", L" 1",
                                             L"1x", L"", L"-", L"99999999999"};
    static const wchar_t* const kFlags[] = {L"true", L"false", L"True", L"", L"1"};
    const VARTYPE vt = rng.Percent(90) ? VT_VARIANT : rng.Pick({VT_BSTR, VT_I4, VT_UI1});
    const UINT dims = rng.Percent(90) ? 1 : 2 + rng.Below(2);
    std::vector<SAFEARRAYBOUND> bounds(dims, SAFEARRAYBOUND{1 + rng.Below(3), static_cast<LONG>(rng.Below(2))});
    if (rng.Percent(85)) bounds[0] = {9, 0};
    else bounds[0] = {rng.Below(13), static_cast<LONG>(rng.Below(5)) - 2};
    *a.array.put() = ::SafeArrayCreate(vt, dims, bounds.data());
    bool fits = vt == VT_VARIANT && dims == 1 && bounds[0].lLbound <= 0 && bounds[0].lLbound + LONG(bounds[0].cElements) > 8;
    a.fields.assign(9, "");
    ULONG total = 1;
    for (const SAFEARRAYBOUND& b : bounds) total *= b.cElements;
    void* data = nullptr;
    ::SafeArrayAccessData(a.array.get(), &data);
    for (ULONG j = 0; j < total; ++j) {
        const LONG i = bounds[0].lLbound + static_cast<LONG>(j);  // its index when one-dimensional
        const char kind = i >= 0 && i <= 8 ? kinds[i] : 't';
        std::wstring text = kind == 'n' && rng.Percent(80) ? rng.Pick(kNumbers) : kind == 'f' && rng.Percent(80) ? rng.Pick(kFlags) : rng.Text(200);
        if (vt == VT_BSTR) { static_cast<BSTR*>(data)[j] = Alloc(text); continue; }
        if (vt == VT_I4 || vt == VT_UI1) {
            const LONG n = rng.Percent(80) ? rng.Pick({8, 9, 13, 0x4008}) : static_cast<LONG>(rng.Next());
            vt == VT_I4 ? void(static_cast<LONG*>(data)[j] = n) : void(static_cast<BYTE*>(data)[j] = BYTE(n));
            continue;
        }
        VARIANT& v = static_cast<VARIANT*>(data)[j];
        const bool null = rng.Percent(5);
        if (rng.Percent(90)) v.vt = VT_BSTR, v.bstrVal = null ? nullptr : Alloc(text);
        else if (rng.Percent(50)) v.vt = rng.Pick({VT_EMPTY, VT_NULL, VT_I4, VT_BOOL}), v.lVal = rng.Pick({1, 8, 9});
        else a.pointees.push_back(comfw::Variant::OwnBstr(Alloc(text))), v.vt = VT_BYREF | VT_BSTR, v.pbstrVal = &a.pointees.back().ptr()->bstrVal;
        if (i < 0 || i > 8 || dims != 1) continue;
        fits = fits && v.vt == VT_BSTR;
        if (kind == 't' && fits) a.fields[i] = Bytes(v.bstrVal);
        if (kind == 'f') a.fields[i] = v.vt == VT_BSTR && !null && text == L"true" ? "f1" : "f0";
        if (kind == 'n') fits = fits && !null && Number(text, a.fields[i]);
    }
    ::SafeArrayUnaccessData(a.array.get());
    if (!fits) a.fields.clear();
}

template <class Details, class Iface>
void Run(Rng& rng, const char* kinds) {
    comfw::ComPtr<Details> details;
    FUZZ_CHECK(Details::Make(details) == S_OK);
    {
        // A well-formed first fill, which a failed one must leave as it is.
        Answer good;
        const wchar_t* const texts[] = {L"cdrom-0", L"2", L"1", L"true", L"CD/DVD drive 1", L"true", L"4", L"true", L"3"};
        *good.array.put() = ::SafeArrayCreateVector(VT_VARIANT, 0, 9);
        for (LONG i = 0; i < 9; ++i) {
            comfw::Variant v = comfw::Variant::OwnBstr(::SysAllocString(texts[i]));
            ::SafeArrayPutElement(good.array.get(), &i, v.ptr());
        }
        FUZZ_CHECK(details->Fill(good.array) == S_OK);
    }
    const Fields before = Read(static_cast<Iface*>(details.get()));
    Answer random;
    Make(rng, kinds, random);
    const HRESULT hr = details->Fill(random.array);
    const Fields after = Read(static_cast<Iface*>(details.get()));
    if (random.fields.empty()) FUZZ_CHECK(FAILED(hr) && after == before);
    else FUZZ_CHECK(hr == S_OK && after == random.fields);
}

}  // namespace

void FuzzDeviceDetails(Rng& rng) {
    if (rng.Percent(50)) Run<CVirtualDeviceDetails, IVirtualDeviceDetails>(rng, kVirtual);
    else Run<CPhysicalClientDeviceDetails, IPhysicalClientDeviceDetails>(rng, kPhysical);
    FUZZ_CHECK(comfw::Module::LockCount() == 0);
}

}  // namespace zova::fuzz
