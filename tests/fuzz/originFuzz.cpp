// The page's origin from random URLs, as the page host's location reports
// them: the key that names the site in the settings, its UTF-8 form and the
// form the user is shown.
#include "axplugin/pageOrigin.h"
#include "pagehost/pageUrl.h"
#include "plugin-common/settings.h"
#include "tests/fuzz/fuzz.h"

namespace zova::fuzz {
namespace {

bool HasUnpairedSurrogate(const std::wstring& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const bool high = text[i] >= 0xD800 && text[i] < 0xDC00, low = text[i] >= 0xDC00 && text[i] < 0xE000;
        if (low || (high && (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] >= 0xE000))) return true;
        if (high) ++i;
    }
    return false;
}

std::wstring RandomUrl(Rng& rng) {
    std::wstring url = rng.Percent(90) ? rng.Pick({L"https:", L"http:", L"file:", L"HTTPS:", L"ftp:", L"a+b.c-d:"})
                                       : rng.Text(12);
    if (rng.Percent(85)) url += L"//";
    if (rng.Percent(10)) url += rng.Text(8) + L"@";
    url += rng.Percent(10) ? L"[" + rng.Text(8) + L"]"
                           : rng.Pick({L"host-01.lab.example", L"dc-1", L"", L"a..b.", L"vm-42.lab.example"});
    if (rng.Percent(50)) url += L":" + std::wstring(rng.Pick({L"443", L"80", L"", L"08443", L"65536", L"4x"}));
    if (rng.Percent(60)) url += rng.Pick({L"/", L"/page.html", L"/a?b=c#d", L"?q", L"#f"});
    if (rng.Percent(20)) url.insert(rng.Below(static_cast<uint32_t>(url.size()) + 1), rng.Text(10));
    return url;
}

}  // namespace

void FuzzPageOrigin(Rng& rng) {
    // Allows given here stay in this process; nothing is written.
    static PluginSettings sites{std::string()};
    const std::wstring url = RandomUrl(rng);
    pagehost::PageUrl parts;
    if (!pagehost::ParsePageUrl(url, parts)) return;
    FUZZ_CHECK(url.compare(0, parts.protocol.size(), parts.protocol) == 0 && parts.protocol.back() == L':');
    FUZZ_CHECK(url.find(parts.hostname) != std::wstring::npos && url.find(parts.port) != std::wstring::npos);

    const std::wstring key = MakeOriginKey(parts.protocol, parts.hostname, parts.port);
    const std::string utf8 = Utf8(key);
    if (!HasUnpairedSurrogate(key)) {
        // Every character is kept, NULs too.
        const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                                            nullptr, 0);
        std::wstring back(static_cast<size_t>(n), L'\0');
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), back.data(), n);
        FUZZ_CHECK(back == key);
    }
    // A site allowed is that site alone: another port of the same host (one
    // that no random URL has) is not.
    const std::string otherPort = Utf8(MakeOriginKey(parts.protocol, parts.hostname, parts.port + L"\x01"));
    sites.AllowSite(utf8, false);
    FUZZ_CHECK(sites.IsSiteAllowed(utf8));
    FUZZ_CHECK(!sites.IsSiteAllowed(otherPort));

    std::wstring host = parts.hostname, port = parts.port;
    NormalizeOriginForDisplay(parts.protocol, host, port);
    FUZZ_CHECK(!host.empty() && !port.empty());
    FUZZ_CHECK(parts.hostname.empty() ? host == L"(localhost)" : host == parts.hostname);
    FUZZ_CHECK(!parts.port.empty() ? port == parts.port
                                   : port == (parts.protocol == L"http:" ? L"80" : parts.protocol == L"https:" ? L"443"
                                                                                                              : L"(unset)"));
}

}  // namespace zova::fuzz
