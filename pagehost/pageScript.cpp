// The page's script engine: started with the host object and host.args,
// running the page's blocks, reporting their errors and calling handlers.
#include "pagehost/page.h"

#include <cwchar>

#include "comfw/bstr.h"
#include "comfw/excepInfo.h"
#include "comfw/hresult.h"
#include "comfw/typeLib.h"
#include "pagehost/hostObject.h"
#include "pagehost/scriptSite.h"
#include "pagehost/windowObject.h"
#include "pagehost/text.h"

namespace pagehost {
namespace {

// A JScript string literal.
std::wstring Quote(const std::wstring& s) {
    std::wstring out = L"\"";
    for (wchar_t c : s) {
        if (c == L'"' || c == L'\\') { out += L'\\'; out += c; }
        else if (c < 0x20 || c == 0x2028 || c == 0x2029) {
            wchar_t buf[8];
            swprintf(buf, 8, L"\\u%04x", static_cast<unsigned>(c));
            out += buf;
        } else {
            out += c;
        }
    }
    return out + L"\"";
}

}  // namespace

bool Page::StartScript() noexcept {
    CLSID jscript{};
    HRESULT hr = ::CLSIDFromProgID(L"JScript", &jscript);
    if (SUCCEEDED(hr))
        hr = ::CoCreateInstance(jscript, nullptr, CLSCTX_INPROC_SERVER, IID_IActiveScript, engine_.put_void());
    if (SUCCEEDED(hr)) hr = engine_.query(parser_);
    if (SUCCEEDED(hr)) hr = ScriptSite::Make(scriptSite_, this);
    if (SUCCEEDED(hr)) hr = engine_->SetScriptSite(scriptSite_.get());
    if (SUCCEEDED(hr)) hr = parser_->InitNew();
    if (SUCCEEDED(hr)) hr = HostObject::Make(host_, this);
    if (SUCCEEDED(hr)) hr = engine_->AddNamedItem(L"host", SCRIPTITEM_ISVISIBLE);
    if (SUCCEEDED(hr)) hr = WindowObject::Make(windowObject_, this);
    if (SUCCEEDED(hr)) hr = engine_->AddNamedItem(L"window", SCRIPTITEM_ISVISIBLE | SCRIPTITEM_GLOBALMEMBERS);
    if (SUCCEEDED(hr)) hr = engine_->SetScriptState(SCRIPTSTATE_STARTED);
    if (FAILED(hr)) {
        Error(L"pagehost: cannot start the JScript engine (" + Hex(hr) + L")");
        return false;
    }
    hr = BuildArgs();
    if (FAILED(hr)) {
        Error(L"pagehost: cannot make host.args (" + Hex(hr) + L")");
        return false;
    }
    return true;
}

HRESULT Page::BuildArgs() noexcept try {
    // A real script array, made by the engine from an array literal.
    std::wstring literal = L"[";
    for (size_t i = 0; i < options_.args.size(); ++i) literal += (i ? L"," : L"") + Quote(options_.args[i]);
    literal += L"]";
    comfw::ExcepInfo info;
    return parser_->ParseScriptText(literal.c_str(), nullptr, nullptr, nullptr, 0, 0, SCRIPTTEXT_ISEXPRESSION,
                                    args_.put(), &info);
}
COMFW_CATCH_RETURN()

HRESULT Page::RunScript(const ScriptBlock& block) noexcept {
    try {
        std::wstring code = block.code;
        if (!block.forId.empty()) {
            // A handler block becomes a function, its body starting on the
            // block's own line so that error lines stay those of the page.
            const std::wstring name = L"__pagehost_handler_" + std::to_wstring(++handlerCount_);
            code = L"function " + name + L"(" + block.eventArgs + L"){" + code + L"\n}";
            boundHandlers_[{block.forId, Lower(block.eventName)}] = name;
        }
        const std::wstring source = block.src.empty() ? pageName_ : block.src;
        sources_.push_back(source);
        comfw::ExcepInfo info;
        const HRESULT hr = parser_->ParseScriptText(code.c_str(), nullptr, nullptr, nullptr, sources_.size() - 1,
                                                    static_cast<ULONG>(block.line), SCRIPTTEXT_ISVISIBLE, nullptr,
                                                    &info);
        if (FAILED(hr) && !Ending()) {
            // An error the engine did not report through the site.
            const std::wstring what = info.bstrDescription ? comfw::TextOf(info.bstrDescription) : Hex(hr);
            Error(source + L":" + std::to_wstring(block.line + 1) + L": script error: " + what);
            End(kStatusScriptError);
        }
        return hr;
    } catch (...) {
        End(kStatusHostError);
        return comfw::ResultFromCaughtException(__FILE__, __LINE__, __func__);
    }
}

void Page::ScriptError(IActiveScriptError* error) noexcept {
    // Errors while the page ends are the unwinding of host.exit or a timeout.
    if (Ending()) return;
    try {
        comfw::ExcepInfo info;
        error->GetExceptionInfo(&info);
        if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
        DWORD context = 0;
        ULONG line = 0;
        LONG column = 0;
        const bool placed = SUCCEEDED(error->GetSourcePosition(&context, &line, &column));
        std::wstring what = info.bstrDescription ? comfw::TextOf(info.bstrDescription) : std::wstring();
        if (what.empty()) what = L"error " + Hex(info.scode ? info.scode : static_cast<HRESULT>(info.wCode));
        const std::wstring& source = placed && context < sources_.size() ? sources_[context] : pageName_;
        Error(source + (placed ? L":" + std::to_wstring(line + 1) : std::wstring()) + L": script error: " + what);
    }
    COMFW_CATCH_LOG()
    End(kStatusScriptError);
}

HRESULT Page::FireEvent(const std::wstring& controlId, const std::wstring& eventName, DISPPARAMS* params,
                        VARIANT* result) noexcept {
    if (Ending() || !engine_) return S_OK;  // a page that ends hears no more events
    try {
        const auto bound = boundHandlers_.find({controlId, Lower(eventName)});
        const std::wstring handler = bound != boundHandlers_.end() ? bound->second : controlId + L"_" + eventName;

        comfw::ComPtr<IDispatch> global;
        HRESULT hr = engine_->GetScriptDispatch(nullptr, global.put());
        if (FAILED(hr)) return S_OK;
        DISPID id = DISPID_UNKNOWN;
        LPOLESTR name = const_cast<LPOLESTR>(handler.c_str());
        if (FAILED(global->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id))) return S_OK;  // no handler

        return CallScript(global.get(), id, params, result, L"the handler of " + controlId + L"." + eventName);
    }
    COMFW_CATCH_RETURN()
}

HRESULT Page::CallScript(IDispatch* function, DISPID id, DISPPARAMS* params, VARIANT* result,
                         const std::wstring& where) noexcept {
    try {
        comfw::ExcepInfo info;
        UINT argError = 0;
        comfw::Variant value;
        const HRESULT hr = function->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, params, value.put(),
                                            &info, &argError);
        if (FAILED(hr) && !Ending()) {
            // The engine may or may not have reported it through the site.
            std::wstring what = info.bstrDescription ? comfw::TextOf(info.bstrDescription) : std::wstring();
            if (what.empty()) what = Hex(info.scode ? info.scode : hr);
            Error(pageName_ + L": script error in " + where + L": " + what);
            End(kStatusScriptError);
        }
        if (result) value.detach_to(result);
        return S_OK;
    }
    COMFW_CATCH_RETURN()
}

HRESULT Page::ItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** info) noexcept {
    IUnknown* object = nullptr;
    comfw::ComPtr<ITypeInfo> type;
    if (host_ && std::wcscmp(name, L"host") == 0) {
        object = static_cast<IDispatch*>(host_.get());
        if (mask & SCRIPTINFO_ITYPEINFO) comfw::ModuleTypeInfo(__uuidof(IPageHost), type.put());
    } else if (windowObject_ && std::wcscmp(name, L"window") == 0) {
        object = static_cast<IDispatch*>(windowObject_.get());
        if (mask & SCRIPTINFO_ITYPEINFO) comfw::ModuleTypeInfo(__uuidof(IPageWindow), type.put());
    } else if (ControlSite* site = Find(name)) {
        object = site->control();
        if (mask & SCRIPTINFO_ITYPEINFO) {
            comfw::ComPtr<IProvideClassInfo> classInfo;
            comfw::ComPtr<IUnknown>(object).query(classInfo);
            if (classInfo) classInfo->GetClassInfo(type.put());
        }
    } else {
        return TYPE_E_ELEMENTNOTFOUND;
    }
    if ((mask & SCRIPTINFO_IUNKNOWN) && item) {
        *item = object;
        object->AddRef();
    }
    if ((mask & SCRIPTINFO_ITYPEINFO) && info) *info = type.detach();
    return S_OK;
}

}  // namespace pagehost
