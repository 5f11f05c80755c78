#include "pagehost/pageUrl.h"

#include <windows.h>
#include <cwctype>

namespace pagehost {

bool ParsePageUrl(const std::wstring& url, PageUrl& out) {
    out = PageUrl{};
    const size_t colon = url.find(L':');
    if (colon == std::wstring::npos || colon == 0 || !std::iswalpha(url[0])) return false;
    for (size_t i = 0; i < colon; ++i) {
        const wchar_t c = url[i];
        if (!std::iswalnum(c) && c != L'+' && c != L'-' && c != L'.') return false;
    }
    out.href = url;
    out.protocol = url.substr(0, colon + 1);
    size_t pos = colon + 1;
    if (url.compare(pos, 2, L"//") == 0) {
        pos += 2;
        const size_t authEnd = url.find_first_of(L"/?#", pos);
        std::wstring authority = url.substr(pos, authEnd == std::wstring::npos ? std::wstring::npos : authEnd - pos);
        pos = authEnd == std::wstring::npos ? url.size() : authEnd;
        const size_t at = authority.rfind(L'@');
        if (at != std::wstring::npos) authority.erase(0, at + 1);
        size_t portColon = std::wstring::npos;
        if (!authority.empty() && authority[0] == L'[') {
            const size_t close = authority.find(L']');
            if (close == std::wstring::npos) return false;
            if (close + 1 < authority.size() && authority[close + 1] == L':') portColon = close + 1;
        } else {
            portColon = authority.find(L':');
        }
        out.hostname = authority.substr(0, portColon);
        if (portColon != std::wstring::npos) {
            out.port = authority.substr(portColon + 1);
            for (wchar_t c : out.port) if (!std::iswdigit(c)) return false;
        }
    }
    const size_t hashAt = url.find(L'#', pos);
    const size_t end = hashAt == std::wstring::npos ? url.size() : hashAt;
    const size_t query = url.find(L'?', pos);
    const size_t pathEnd = query == std::wstring::npos || query > end ? end : query;
    out.pathname = url.substr(pos, pathEnd - pos);
    if (pathEnd < end) out.search = url.substr(pathEnd, end - pathEnd);
    if (hashAt != std::wstring::npos) out.hash = url.substr(hashAt);
    return true;
}

std::wstring FileUrlOfPath(const std::wstring& path) {
    wchar_t full[MAX_PATH * 4];
    const DWORD n = ::GetFullPathNameW(path.c_str(), MAX_PATH * 4, full, nullptr);
    const std::wstring abs = n > 0 && n < MAX_PATH * 4 ? std::wstring(full, n) : path;
    std::wstring url = L"file:///";
    for (wchar_t c : abs) {
        if (c == L'\\') url += L'/';
        else if (c == L' ') url += L"%20";
        else if (c == L'%') url += L"%25";
        else if (c == L'#') url += L"%23";
        else url += c;
    }
    return url;
}

}  // namespace pagehost
