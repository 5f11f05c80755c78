#include "zova/endpointPolicy.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>

namespace zova::console {
namespace {

bool Matches(const wchar_t* pattern, const wchar_t* text) {
    if (*pattern == L'*') {
        for (;; ++text) {
            if (Matches(pattern + 1, text)) return true;
            if (!*text) return false;
        }
    }
    if (!*text) return !*pattern;
    if (*pattern != L'?' && std::towlower(*pattern) != std::towlower(*text)) return false;
    return Matches(pattern + 1, text + 1);
}

std::wstring Trim(const std::wstring& s) {
    const size_t first = s.find_first_not_of(L" \t"), last = s.find_last_not_of(L" \t");
    return first == std::wstring::npos ? std::wstring() : s.substr(first, last - first + 1);
}

}  // namespace

HostForm ParseHost(const std::wstring& text, Endpoint& out) {
    size_t colon;
    if (!text.empty() && text[0] == L'[') {
        const size_t close = text.find(L']');
        if (close == std::wstring::npos || close + 1 >= text.size() || text[close + 1] != L':') {
            return HostForm::kInvalid;
        }
        out.host = text.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = text.find(L':');
        if (colon == std::wstring::npos) return HostForm::kSimulated;
        if (text.find(L':', colon + 1) != std::wstring::npos) return HostForm::kInvalid;
        out.host = text.substr(0, colon);
    }
    const std::wstring port = text.substr(colon + 1);
    if (out.host.empty() || port.empty() || port.size() > 5 || port.find_first_not_of(L"0123456789") != std::wstring::npos) {
        return HostForm::kInvalid;
    }
    const unsigned long n = std::stoul(port);
    if (n == 0 || n > 65535) return HostForm::kInvalid;
    out.port = static_cast<uint16_t>(n);
    return HostForm::kRfb;
}

bool IsLoopback(const std::wstring& host) {
    if (_wcsicmp(host.c_str(), L"localhost") == 0 || host == L"::1") return true;
    unsigned a, b, c, d;
    wchar_t rest;
    return swscanf(host.c_str(), L"%u.%u.%u.%u%lc", &a, &b, &c, &d, &rest) == 4 && a == 127 && b < 256 &&
           c < 256 && d < 256;
}

bool EndpointAllowed(const std::vector<std::wstring>& patterns, bool configured, const Endpoint& endpoint) {
    if (!configured) return IsLoopback(endpoint.host);
    const std::wstring text = endpoint.host + L":" + std::to_wstring(endpoint.port);
    for (const std::wstring& p : patterns) {
        if (Matches(p.c_str(), text.c_str())) return true;
    }
    return false;
}

std::vector<std::wstring> ReadAllowedEndpoints(const wchar_t* subkey, bool& configured) {
    configured = false;
    std::vector<std::wstring> patterns;
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        DWORD bytes = 0;
        if (::RegGetValueW(root, subkey, kPolicyValue, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) != ERROR_SUCCESS) {
            continue;
        }
        std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
        bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
        if (::RegGetValueW(root, subkey, kPolicyValue, RRF_RT_REG_SZ, nullptr, &value[0], &bytes) != ERROR_SUCCESS) {
            continue;
        }
        configured = true;
        value.resize(::wcslen(value.c_str()));
        size_t start = 0;
        while (start <= value.size()) {
            const size_t end = std::min(value.find(L';', start), value.size());
            const std::wstring item = Trim(value.substr(start, end - start));
            if (!item.empty()) patterns.push_back(item);
            start = end + 1;
        }
    }
    return patterns;
}

}  // namespace zova::console
