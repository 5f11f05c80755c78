// The proxy through which the console should reach a host, from the current
// user's browser proxy settings as WinHTTP reports them. Empty means none.
#pragma once

#include <string>

namespace zova {

// Never fails towards the caller: every failure yields the empty string.
std::wstring ResolveBrowserProxy(const std::wstring& host);

// The manual proxy to use for https from a proxy setting string: the value of
// its first "https=" entry, else the whole string.
std::wstring ManualProxyFromSetting(const std::wstring& setting);

}  // namespace zova
