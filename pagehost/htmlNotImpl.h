// Every method of the browser's document and location interfaces, answered
// with E_NOTIMPL. The page host is not a browser: it implements only the few
// members a control reads (the document's location and the location's parts)
// by overriding them in pageDocument.h; everything else honestly says so.
// The member list follows mingw-w64's mshtml.h declarations in vtable order.
#pragma once

#include <windows.h>
#include <mshtml.h>

namespace pagehost {

// IDispatch of the two objects: no type information and no names, so script
// engines and controls that probe them see "not implemented" rather than a
// half-working automation object.
template <class Iface>
class HtmlDispatchNotImpl : public Iface {
public:
    using Interface = Iface;
    STDMETHODIMP GetTypeInfoCount(UINT* count) noexcept override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) noexcept override {
        if (info) *info = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) noexcept override {
        return E_NOTIMPL;
    }

};

class HtmlDocumentNotImpl : public HtmlDispatchNotImpl<IHTMLDocument2> {
public:
    STDMETHODIMP get_Script(IDispatch **p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_all(IHTMLElementCollection **p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_body(IHTMLElement **p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_activeElement(IHTMLElement **p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_images(IHTMLElementCollection **p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_applets(IHTMLElementCollection **p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_links(IHTMLElementCollection **p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_forms(IHTMLElementCollection **p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_anchors(IHTMLElementCollection **p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_title(BSTR v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_title(BSTR *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_scripts(IHTMLElementCollection **p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_designMode(BSTR v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_designMode(BSTR *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_selection(IHTMLSelectionObject **p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_readyState(BSTR *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_frames(IHTMLFramesCollection2 **p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_embeds(IHTMLElementCollection **p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_plugins(IHTMLElementCollection **p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_alinkColor(VARIANT v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_alinkColor(VARIANT *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_bgColor(VARIANT v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_bgColor(VARIANT *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_fgColor(VARIANT v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_fgColor(VARIANT *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_linkColor(VARIANT v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_linkColor(VARIANT *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_vlinkColor(VARIANT v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_vlinkColor(VARIANT *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_referrer(BSTR *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_location(IHTMLLocation **p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_lastModified(BSTR *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_URL(BSTR v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_URL(BSTR *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_domain(BSTR v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_domain(BSTR *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_cookie(BSTR v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_cookie(BSTR *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_expando(VARIANT_BOOL v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_expando(VARIANT_BOOL *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_charset(BSTR v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_charset(BSTR *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_defaultCharset(BSTR v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_defaultCharset(BSTR *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_mimeType(BSTR *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_fileSize(BSTR *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_fileCreatedDate(BSTR *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_fileModifiedDate(BSTR *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_fileUpdatedDate(BSTR *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_security(BSTR *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_protocol(BSTR *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_nameProp(BSTR *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP write(SAFEARRAY *psarray) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP writeln(SAFEARRAY *psarray) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP open(BSTR url, VARIANT name, VARIANT features, VARIANT replace, IDispatch **pomWindowResult) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP close() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP clear() noexcept override { return E_NOTIMPL; }
    STDMETHODIMP queryCommandSupported(BSTR cmdID, VARIANT_BOOL *pfRet) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP queryCommandEnabled(BSTR cmdID, VARIANT_BOOL *pfRet) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP queryCommandState(BSTR cmdID, VARIANT_BOOL *pfRet) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP queryCommandIndeterm(BSTR cmdID, VARIANT_BOOL *pfRet) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP queryCommandText(BSTR cmdID, BSTR *pcmdText) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP queryCommandValue(BSTR cmdID, VARIANT *pcmdValue) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP execCommand(BSTR cmdID, VARIANT_BOOL showUI, VARIANT value, VARIANT_BOOL *pfRet) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP execCommandShowHelp(BSTR cmdID, VARIANT_BOOL *pfRet) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP createElement(BSTR eTag, IHTMLElement **newElem) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_onhelp(VARIANT v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_onhelp(VARIANT *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_onclick(VARIANT v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_onclick(VARIANT *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_ondblclick(VARIANT v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_ondblclick(VARIANT *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_onkeyup(VARIANT v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_onkeyup(VARIANT *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_onkeydown(VARIANT v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_onkeydown(VARIANT *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_onkeypress(VARIANT v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_onkeypress(VARIANT *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_onmouseup(VARIANT v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_onmouseup(VARIANT *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_onmousedown(VARIANT v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_onmousedown(VARIANT *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_onmousemove(VARIANT v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_onmousemove(VARIANT *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_onmouseout(VARIANT v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_onmouseout(VARIANT *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_onmouseover(VARIANT v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_onmouseover(VARIANT *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_onreadystatechange(VARIANT v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_onreadystatechange(VARIANT *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_onafterupdate(VARIANT v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_onafterupdate(VARIANT *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_onrowexit(VARIANT v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_onrowexit(VARIANT *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_onrowenter(VARIANT v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_onrowenter(VARIANT *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_ondragstart(VARIANT v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_ondragstart(VARIANT *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_onselectstart(VARIANT v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_onselectstart(VARIANT *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP elementFromPoint(LONG x, LONG y, IHTMLElement **elementHit) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_parentWindow(IHTMLWindow2 **p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_styleSheets(IHTMLStyleSheetsCollection **p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_onbeforeupdate(VARIANT v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_onbeforeupdate(VARIANT *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_onerrorupdate(VARIANT v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_onerrorupdate(VARIANT *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP toString(BSTR *String) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP createStyleSheet(BSTR bstrHref, LONG lIndex, IHTMLStyleSheet **ppnewStyleSheet) noexcept override { return E_NOTIMPL; }
};

class HtmlLocationNotImpl : public HtmlDispatchNotImpl<IHTMLLocation> {
public:
    STDMETHODIMP put_href(BSTR v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_href(BSTR *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_protocol(BSTR v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_protocol(BSTR *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_host(BSTR v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_host(BSTR *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_hostname(BSTR v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_hostname(BSTR *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_port(BSTR v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_port(BSTR *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_pathname(BSTR v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_pathname(BSTR *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_search(BSTR v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_search(BSTR *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP put_hash(BSTR v) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP get_hash(BSTR *p) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP reload(VARIANT_BOOL flag) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP replace(BSTR bstr) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP assign(BSTR bstr) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP toString(BSTR *string) noexcept override { return E_NOTIMPL; }
};

}  // namespace pagehost
