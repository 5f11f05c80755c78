// The hosting page's origin: protocol, host name and port exactly as the
// document's location reports them, and the two forms made from them.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <string>

namespace zova {

// Reads the origin through the client site's container, its IHTMLDocument2
// and the document's location: the protocol ("https:", with its colon), the
// host name (empty for a local file page) and the port (empty when the URL
// names none), filled in that order, so that the parts read before a failure
// keep their values. Each failing call is reported with its status; no site
// counts as a container that could not be had (E_UNEXPECTED).
HRESULT ReadPageOrigin(IOleClientSite* site, std::wstring& protocol, std::wstring& hostname,
                       std::wstring& port) noexcept;

// protocol + "," + host name + "," + port, unnormalised.
std::wstring MakeOriginKey(const std::wstring& protocol, const std::wstring& hostname, const std::wstring& port);
// The key's UTF-8 form, which names the site in the settings.
std::string Utf8(const std::wstring& text);

// The form the user is shown: an empty host becomes "(localhost)"; an empty
// port the protocol's default ("http:" 80, "https:" 443, compared exactly) or
// "(unset)".
void NormalizeOriginForDisplay(const std::wstring& protocol, std::wstring& hostname, std::wstring& port);

}  // namespace zova
