#include "axplugin/pageOrigin.h"

#include <mshtml.h>

#include "comfw/bstr.h"
#include "comfw/comPtr.h"
#include "pluginlog/logResult.h"

namespace zova {
namespace {

using LocationPart = HRESULT (STDMETHODCALLTYPE IHTMLLocation::*)(BSTR*);

// One part of the location; a null string reads as empty.
HRESULT ReadPart(IHTMLLocation* location, LocationPart part, std::wstring& out) noexcept {
    comfw::Bstr text;
    COMFW_RETURN_IF_FAILED((location->*part)(text.put()));
    try {
        out = text.str();
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

}  // namespace

HRESULT ReadPageOrigin(IOleClientSite* site, std::wstring& protocol, std::wstring& hostname,
                       std::wstring& port) noexcept {
    comfw::ComPtr<IOleContainer> container;
    ZOVA_RETURN_IF_FAILED_REPORT(site ? site->GetContainer(container.put()) : E_UNEXPECTED,
                                 "Failed to get the container: %d");
    comfw::ComPtr<IHTMLDocument2> document;
    ZOVA_RETURN_IF_FAILED_REPORT(container.query(document), "QI for IHTMLDocument2 failed: %d");
    comfw::ComPtr<IHTMLLocation> location;
    ZOVA_RETURN_IF_FAILED_REPORT(document->get_location(location.put()), "Failed to get the document's location: %d");
    ZOVA_RETURN_IF_FAILED_REPORT(ReadPart(location.get(), &IHTMLLocation::get_protocol, protocol),
                                 "Failed to get the protocol: %d");
    ZOVA_RETURN_IF_FAILED_REPORT(ReadPart(location.get(), &IHTMLLocation::get_hostname, hostname),
                                 "Failed to get the hostname: %d");
    ZOVA_RETURN_IF_FAILED_REPORT(ReadPart(location.get(), &IHTMLLocation::get_port, port),
                                 "Failed to get the port: %d");
    return S_OK;
}

std::wstring MakeOriginKey(const std::wstring& protocol, const std::wstring& hostname, const std::wstring& port) {
    return protocol + L"," + hostname + L"," + port;
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int length = static_cast<int>(text.size());
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), size, nullptr, nullptr);
    return out;
}

void NormalizeOriginForDisplay(const std::wstring& protocol, std::wstring& hostname, std::wstring& port) {
    if (hostname.empty()) hostname = L"(localhost)";
    if (!port.empty()) return;
    if (protocol == L"http:") port = L"80";
    else if (protocol == L"https:") port = L"443";
    else port = L"(unset)";
}

}  // namespace zova
