// The container's document: what a control finds through
// IOleClientSite::GetContainer. It answers IOleContainer and the browser's
// document interface, whose location reports the page's URL. Everything else
// a browser's document does is "not implemented" (htmlNotImpl.h).
#pragma once

#include <windows.h>
#include <mshtml.h>
#include <oleidl.h>
#include <vector>

#include "comfw/comObject.h"
#include "pagehost/htmlNotImpl.h"
#include "pagehost/pageUrl.h"

namespace comfw {
template <> struct InterfaceBases<IHTMLDocument2> { using type = TypeList<IHTMLDocument, IDispatch>; };
}  // namespace comfw

namespace pagehost {

class PageLocation final : public comfw::ComObject<PageLocation, HtmlLocationNotImpl> {
public:
    explicit PageLocation(PageUrl url) : url_(std::move(url)) {}

    STDMETHODIMP get_href(BSTR* p) noexcept override { return Give(url_.href, p); }
    STDMETHODIMP get_protocol(BSTR* p) noexcept override { return Give(url_.protocol, p); }
    STDMETHODIMP get_hostname(BSTR* p) noexcept override { return Give(url_.hostname, p); }
    STDMETHODIMP get_port(BSTR* p) noexcept override { return Give(url_.port, p); }
    STDMETHODIMP toString(BSTR* p) noexcept override { return Give(url_.href, p); }

    // A fresh copy of `text` for an out-parameter.
    static HRESULT Give(const std::wstring& text, BSTR* out) noexcept;

private:
    PageUrl url_;
};

// The controls of the page, for IOleContainer::EnumObjects.
class PageControls {
public:
    virtual std::vector<IUnknown*> LiveControls() = 0;
protected:
    ~PageControls() = default;
};

class PageDocument final : public comfw::ComObject<PageDocument, IOleContainer, HtmlDocumentNotImpl> {
public:
    PageDocument(PageUrl url, PageControls* controls) : url_(std::move(url)), controls_(controls) {}
    // The page is going away: EnumObjects has nothing more to list.
    void Detach() noexcept { controls_ = nullptr; }

    // IParseDisplayName / IOleContainer
    STDMETHODIMP ParseDisplayName(IBindCtx*, LPOLESTR, ULONG*, IMoniker** out) noexcept override;
    STDMETHODIMP EnumObjects(DWORD flags, IEnumUnknown** out) noexcept override;
    STDMETHODIMP LockContainer(BOOL) noexcept override { return S_OK; }

    // IHTMLDocument2: the location and the URL; the rest is not implemented.
    STDMETHODIMP get_location(IHTMLLocation** p) noexcept override;
    STDMETHODIMP get_URL(BSTR* p) noexcept override;

private:
    PageUrl url_;
    PageControls* controls_;
};

}  // namespace pagehost
