#include "zova/faults.h"

#include <cwchar>
#include <cwctype>
#include <vector>

namespace zova::console {
namespace {

std::wstring Trim(const std::wstring& s) {
    size_t b = 0, e = s.size();
    while (b < e && iswspace(s[b])) ++b;
    while (e > b && iswspace(s[e - 1])) --e;
    return s.substr(b, e - b);
}

// A whole decimal or 0x-hexadecimal number, optionally negative, that fits
// in 32 bits (signed or unsigned).
bool ParseNumber(const std::wstring& text, long long& out) {
    if (text.empty()) return false;
    const wchar_t* p = text.c_str();
    bool negative = false;
    if (*p == L'-') { negative = true; ++p; }
    int base = 10;
    if (p[0] == L'0' && (p[1] == L'x' || p[1] == L'X')) { base = 16; p += 2; }
    if (!*p || !iswxdigit(*p)) return false;
    wchar_t* end = nullptr;
    const unsigned long long v = wcstoull(p, &end, base);
    if (*end || v > 0xFFFFFFFFull) return false;
    out = negative ? -static_cast<long long>(v) : static_cast<long long>(v);
    return out >= -0x80000000ll;
}

bool ParseDword(const std::wstring& text, DWORD& out) {
    long long v = 0;
    if (!ParseNumber(text, v) || v < 0) return false;
    out = static_cast<DWORD>(v);
    return true;
}

// "<a>" or "<a>:<b>"
void SplitPair(const std::wstring& value, std::wstring& a, std::wstring& b, bool& hasB) {
    const size_t colon = value.find(L':');
    hasB = colon != std::wstring::npos;
    a = hasB ? value.substr(0, colon) : value;
    b = hasB ? value.substr(colon + 1) : std::wstring();
}

bool SupportedWrongType(long long vt) {
    switch (vt) {
        case VT_EMPTY: case VT_I2: case VT_I4: case VT_BSTR: case VT_BOOL: case VT_UI4: case VT_INT:
            return true;
        default:
            return false;
    }
}

Faults g_faults;

}  // namespace

bool ParseFaults(const std::wstring& items, Faults& out, std::wstring& error) {
    Faults f;
    size_t start = 0;
    while (start <= items.size()) {
        size_t end = items.find(L';', start);
        if (end == std::wstring::npos) end = items.size();
        const std::wstring item = Trim(items.substr(start, end - start));
        start = end + 1;
        if (item.empty()) continue;

        const size_t eq = item.find(L'=');
        const std::wstring name = eq == std::wstring::npos ? item : item.substr(0, eq);
        const std::wstring value = eq == std::wstring::npos ? std::wstring() : item.substr(eq + 1);
        const bool hasValue = eq != std::wstring::npos;
        bool ok = false;
        std::wstring a, b;
        bool hasB = false;
        long long first = 0, second = 0;

        if (name == L"no-ready" && !hasValue) {
            f.noReady = ok = true;
        } else if (name == L"no-register" && !hasValue) {
            f.noRegister = ok = true;
        } else if (name == L"any-client-refused" && !hasValue) {
            f.anyClientRefused = ok = true;
        } else if (name == L"ready-delay") {
            ok = ParseDword(value, f.readyDelayMs);
        } else if (name == L"idle-ms") {
            ok = ParseDword(value, f.idleLimitMs);
        } else if (name == L"fail") {
            SplitPair(value, a, b, hasB);
            ok = hasB && ParseNumber(a, first) && ParseNumber(b, second);
            if (ok) f.fail[static_cast<DISPID>(first)] = static_cast<HRESULT>(static_cast<ULONG>(second));
        } else if (name == L"wrong-type") {
            SplitPair(value, a, b, hasB);
            second = VT_BSTR;
            ok = ParseNumber(a, first) && (!hasB || ParseNumber(b, second)) && SupportedWrongType(second);
            if (ok) f.wrongType[static_cast<DISPID>(first)] = static_cast<VARTYPE>(second);
        } else if (name == L"exit") {
            SplitPair(value, a, b, hasB);
            second = 3;
            ok = ParseNumber(a, first) && (!hasB || (ParseNumber(b, second) && second >= 0));
            if (ok) f.exitCode[static_cast<DISPID>(first)] = static_cast<UINT>(second);
        }
        if (!ok) {
            error = L"bad fault item \"" + item + L"\"";
            return false;
        }
    }
    out = std::move(f);
    return true;
}

const Faults& ActiveFaults() noexcept { return g_faults; }

bool InitActiveFaults(std::wstring& error) {
    const DWORD n = ::GetEnvironmentVariableW(L"ZOVA_CONSOLE_FAULTS", nullptr, 0);
    if (n == 0) return true;
    std::vector<wchar_t> buffer(n);
    const DWORD got = ::GetEnvironmentVariableW(L"ZOVA_CONSOLE_FAULTS", buffer.data(), n);
    if (got == 0 || got >= n) return true;
    return ParseFaults(std::wstring(buffer.data(), got), g_faults, error);
}

}  // namespace zova::console
