// The parts of the page's URL that its location object reports. Parts are
// kept as written (no lower-casing, no default port), as a location reports a
// URL it was given.
#pragma once

#include <string>

namespace pagehost {

struct PageUrl {
    std::wstring href;      // the whole URL
    std::wstring protocol;  // scheme with its colon: "https:"
    std::wstring hostname;  // without port; empty when the URL has no authority
    std::wstring port;      // digits after the host's colon; empty when none is written
    std::wstring pathname;
    std::wstring search;    // "?..." or empty
    std::wstring hash;      // "#..." or empty
};

// False when the text has no scheme ("name:") or a port that is not digits.
bool ParsePageUrl(const std::wstring& url, PageUrl& out);

// "file:///C:/dir/page.html" for a Windows path (made absolute first).
std::wstring FileUrlOfPath(const std::wstring& path);

}  // namespace pagehost
