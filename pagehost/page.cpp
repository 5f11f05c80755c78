#include "pagehost/page.h"

#include <algorithm>
#include <cstdio>
#include <cwctype>

#include "comfw/bstr.h"
#include "comfw/safeArray.h"
#include "comfw/typeLib.h"
#include "pagehost/hostObject.h"
#include "pagehost/pageFrame.h"
#include "pagehost/dialogShot.h"
#include "pagehost/screenshot.h"
#include "pagehost/scriptSite.h"

namespace pagehost {
namespace {

constexpr SIZE kDefaultClient{800, 600};
constexpr SIZE kDefaultControl{300, 150};  // an object tag without a size, as in HTML
constexpr DWORD kTimeoutGraceMs = 3000;

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                        nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring Lower(std::wstring s) {
    for (wchar_t& c : s) c = static_cast<wchar_t>(std::towlower(c));
    return s;
}

std::wstring Hex(HRESULT hr) {
    wchar_t buf[16];
    swprintf(buf, 16, L"0x%08lx", static_cast<unsigned long>(hr));
    return buf;
}

// How echo shows a script value: as JScript would print it where it can.
std::wstring TextOfValue(const VARIANT& v) {
    switch (v.vt) {
        case VT_EMPTY: return L"undefined";
        case VT_NULL: return L"null";
        case VT_BOOL: return v.boolVal ? L"true" : L"false";
        case VT_BSTR: return comfw::TextOf(v.bstrVal);
        default: break;
    }
    comfw::Variant text;
    if (SUCCEEDED(::VariantChangeTypeEx(text.ptr(), const_cast<VARIANT*>(&v), LOCALE_INVARIANT, 0, VT_BSTR)))
        return comfw::TextOf(text.get().bstrVal);
    return v.vt == VT_DISPATCH || v.vt == VT_UNKNOWN ? L"[object]" : L"[value of type " + std::to_wstring(v.vt) + L"]";
}

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

bool ReadFileBytes(const std::wstring& path, std::string& out) {
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return false;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

}  // namespace

Page::Page(Options options) : options_(std::move(options)), window_(this) {
    const size_t slash = options_.pagePath.find_last_of(L"\\/");
    pageName_ = slash == std::wstring::npos ? options_.pagePath : options_.pagePath.substr(slash + 1);
}

Page::~Page() { TearDown(); }

void Page::Error(const std::wstring& text) noexcept {
    try {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", Utf8(text).c_str());
        std::fflush(stderr);
    } catch (...) {
    }
}

void Page::Warn(const std::wstring& what, HRESULT hr) noexcept {
    try {
        Error(L"pagehost: warning: " + what + L" (" + Hex(hr) + L")");
    } catch (...) {
    }
}

void Page::End(int status) noexcept {
    if (ending_) return;
    ending_ = true;
    status_ = status;
}

bool Page::Ending() noexcept {
    if (!ending_ && watchdog_.HasExpired()) {
        wchar_t seconds[32];
        swprintf(seconds, 32, L"%g", watchdog_.limitMs() / 1000.0);
        Error(L"pagehost: page timed out after " + std::wstring(seconds) + L" s");
        End(kStatusTimeout);
    }
    return ending_;
}

bool Page::Load(PageItems& items) noexcept {
    try {
        std::string bytes;
        if (!ReadFileBytes(options_.pagePath, bytes)) {
            Error(L"pagehost: cannot read " + options_.pagePath);
            return false;
        }
        const std::wstring text = DecodePageText(bytes);
        const std::wstring lower = Lower(options_.pagePath);
        if (lower.size() > 3 && lower.compare(lower.size() - 3, 3, L".js") == 0) {
            items = ScriptFilePage(text);
        } else {
            std::wstring error;
            if (!ParseHtmlPage(text, items, error)) {
                Error(pageName_ + L": " + error);
                return false;
            }
        }
        const std::wstring url = options_.url.empty() ? FileUrlOfPath(options_.pagePath) : options_.url;
        if (!ParsePageUrl(url, url_)) {
            Error(L"pagehost: not a URL: " + url);
            return false;
        }
        return true;
    } catch (const std::exception&) {
        Error(L"pagehost: out of memory");
        return false;
    }
}

int Page::Run() noexcept {
    PageItems items;
    if (!Load(items)) return kStatusHostError;

    HDC screen = ::GetDC(nullptr);
    if (screen) {
        dpiX_ = ::GetDeviceCaps(screen, LOGPIXELSX);
        dpiY_ = ::GetDeviceCaps(screen, LOGPIXELSY);
        ::ReleaseDC(nullptr, screen);
    }
    // Wide and tall enough for the fixed sizes of the page's objects.
    SIZE client = kDefaultClient;
    for (const PageItem& item : items) {
        if (item.kind != PageItem::Kind::Object) continue;
        const Length& w = item.object.width;
        if (w.given && !w.percent) client.cx = std::max<LONG>(client.cx, w.value);
    }
    LONG x = 0, y = 0, rowHeight = 0;
    for (const PageItem& item : items) {
        if (item.kind != PageItem::Kind::Object) continue;
        const Length& w = item.object.width;
        const Length& h = item.object.height;
        const LONG cx = w.given ? (w.percent ? 0 : w.value) : kDefaultControl.cx;
        const LONG cy = h.given ? (h.percent ? 0 : h.value) : kDefaultControl.cy;
        if (x > 0 && x + cx > client.cx) { x = 0; y += rowHeight; rowHeight = 0; }
        x += cx;
        rowHeight = std::max(rowHeight, cy);
    }
    client.cy = std::max<LONG>(client.cy, y + rowHeight);

    if (!window_.Create((L"pagehost - " + pageName_).c_str(), client)) {
        Error(L"pagehost: cannot create the host window");
        return kStatusHostError;
    }
    if (FAILED(PageFrame::Make(frame_, window_.hwnd())) || FAILED(PageDocument::Make(document_, url_, this))) {
        Error(L"pagehost: out of memory");
        return kStatusHostError;
    }
    if (options_.timeoutMs && !watchdog_.Start(options_.timeoutMs, kTimeoutGraceMs, kStatusTimeout)) {
        Error(L"pagehost: cannot start the timeout watchdog");
        return kStatusHostError;
    }
    if (!options_.dialogShotPath.empty()) WatchForDialog(options_.dialogShotPath);
    if (!StartScript()) {
        TearDown();
        return kStatusHostError;
    }
    for (const PageItem& item : items) {
        if (Ending()) break;
        if (item.kind == PageItem::Kind::Object) {
            const HRESULT hr = AddObject(item.object);
            if (FAILED(hr)) End(kStatusHostError);
        } else {
            RunScript(item.script);
        }
    }
    Ending();
    TearDown();
    return status_;
}

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

HRESULT Page::BuildArgs() noexcept {
    try {
        // A real script array, made by the engine from an array literal.
        std::wstring literal = L"[";
        for (size_t i = 0; i < options_.args.size(); ++i) literal += (i ? L"," : L"") + Quote(options_.args[i]);
        literal += L"]";
        EXCEPINFO info{};
        const HRESULT hr = parser_->ParseScriptText(literal.c_str(), nullptr, nullptr, nullptr, 0, 0,
                                                    SCRIPTTEXT_ISEXPRESSION, args_.put(), &info);
        ::SysFreeString(info.bstrSource);
        ::SysFreeString(info.bstrDescription);
        ::SysFreeString(info.bstrHelpFile);
        return hr;
    } catch (const std::exception&) {
        return E_OUTOFMEMORY;
    }
}

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
        EXCEPINFO info{};
        const HRESULT hr = parser_->ParseScriptText(code.c_str(), nullptr, nullptr, nullptr, 0,
                                                    static_cast<ULONG>(block.line), SCRIPTTEXT_ISVISIBLE, nullptr,
                                                    &info);
        if (FAILED(hr) && !Ending()) {
            // An error the engine did not report through the site.
            const std::wstring what = info.bstrDescription ? comfw::TextOf(info.bstrDescription) : Hex(hr);
            Error(pageName_ + L":" + std::to_wstring(block.line + 1) + L": script error: " + what);
            End(kStatusScriptError);
        }
        ::SysFreeString(info.bstrSource);
        ::SysFreeString(info.bstrDescription);
        ::SysFreeString(info.bstrHelpFile);
        return hr;
    } catch (const std::exception&) {
        End(kStatusHostError);
        return E_OUTOFMEMORY;
    }
}

void Page::ScriptError(IActiveScriptError* error) noexcept {
    // Errors while the page ends are the unwinding of host.exit or a timeout.
    if (Ending()) return;
    try {
        EXCEPINFO info{};
        error->GetExceptionInfo(&info);
        if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
        DWORD context = 0;
        ULONG line = 0;
        LONG column = 0;
        const bool placed = SUCCEEDED(error->GetSourcePosition(&context, &line, &column));
        std::wstring what = info.bstrDescription ? comfw::TextOf(info.bstrDescription) : std::wstring();
        if (what.empty()) what = L"error " + Hex(info.scode ? info.scode : static_cast<HRESULT>(info.wCode));
        Error(pageName_ + (placed ? L":" + std::to_wstring(line + 1) : std::wstring()) + L": script error: " + what);
        ::SysFreeString(info.bstrSource);
        ::SysFreeString(info.bstrDescription);
        ::SysFreeString(info.bstrHelpFile);
    } catch (...) {
    }
    End(kStatusScriptError);
}

HRESULT Page::FireEvent(const std::wstring& controlId, const std::wstring& eventName, DISPPARAMS* params,
                        VARIANT* result) noexcept {
    if (Ending() || !engine_) return S_OK;  // a page that ends hears no more events
    try {
        std::wstring handler;
        const auto bound = boundHandlers_.find({controlId, Lower(eventName)});
        handler = bound != boundHandlers_.end() ? bound->second : controlId + L"_" + eventName;

        comfw::ComPtr<IDispatch> global;
        HRESULT hr = engine_->GetScriptDispatch(nullptr, global.put());
        if (FAILED(hr)) return S_OK;
        DISPID id = DISPID_UNKNOWN;
        LPOLESTR name = const_cast<LPOLESTR>(handler.c_str());
        if (FAILED(global->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id))) return S_OK;  // no handler

        EXCEPINFO info{};
        UINT argError = 0;
        comfw::Variant value;
        hr = global->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, params, value.put(), &info,
                            &argError);
        if (FAILED(hr) && !Ending()) {
            // The engine may or may not have reported it through the site.
            std::wstring what = info.bstrDescription ? comfw::TextOf(info.bstrDescription) : std::wstring();
            if (what.empty()) what = Hex(info.scode ? info.scode : hr);
            Error(pageName_ + L": script error in the handler of " + controlId + L"." + eventName + L": " + what);
            End(kStatusScriptError);
        }
        ::SysFreeString(info.bstrSource);
        ::SysFreeString(info.bstrDescription);
        ::SysFreeString(info.bstrHelpFile);
        if (result) value.detach_to(result);
        return S_OK;
    } catch (const std::exception&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT Page::ItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** info) noexcept {
    IUnknown* object = nullptr;
    comfw::ComPtr<ITypeInfo> type;
    if (host_ && std::wcscmp(name, L"host") == 0) {
        object = static_cast<IDispatch*>(host_.get());
        if (mask & SCRIPTINFO_ITYPEINFO) comfw::ModuleTypeInfo(__uuidof(IPageHost), type.put());
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

HRESULT Page::Document(IOleContainer** out) noexcept {
    if (!document_) return E_UNEXPECTED;
    *out = document_.get();
    (*out)->AddRef();
    return S_OK;
}

HRESULT Page::Frame(IOleInPlaceFrame** out) noexcept {
    if (!frame_) return E_UNEXPECTED;
    *out = frame_.get();
    (*out)->AddRef();
    return S_OK;
}

SIZE Page::PixelsToHimetric(SIZE px) const noexcept {
    return SIZE{::MulDiv(px.cx, 2540, dpiX_), ::MulDiv(px.cy, 2540, dpiY_)};
}

SIZE Page::HimetricToPixels(SIZE himetric) const noexcept {
    return SIZE{::MulDiv(himetric.cx, dpiX_, 2540), ::MulDiv(himetric.cy, dpiY_, 2540)};
}

ControlSite* Page::Find(const std::wstring& id) const noexcept {
    for (const auto& site : controls_) if (site->id() == id) return site.get();
    return nullptr;
}

std::vector<IUnknown*> Page::LiveControls() {
    std::vector<IUnknown*> live;
    for (const auto& site : controls_) if (!site->closed() && site->control()) live.push_back(site->control());
    return live;
}

SIZE Page::SizeOf(const ControlSite& site) const noexcept {
    const SIZE client = window_.hwnd() ? window_.ClientSize() : kDefaultClient;
    auto resolve = [](const Length& l, LONG whole, LONG fallback) -> LONG {
        if (!l.given) return fallback;
        return l.percent ? ::MulDiv(whole, l.value, 100) : l.value;
    };
    return SIZE{resolve(site.width(), client.cx, kDefaultControl.cx),
                resolve(site.height(), client.cy, kDefaultControl.cy)};
}

void Page::Layout() noexcept {
    const SIZE client = window_.ClientSize();
    LONG x = 0, y = 0, rowHeight = 0;
    for (const auto& site : controls_) {
        if (site->closed()) continue;
        const SIZE s = SizeOf(*site);
        if (x > 0 && x + s.cx > client.cx) { x = 0; y += rowHeight; rowHeight = 0; }
        site->Move(RECT{x, y, x + s.cx, y + s.cy});
        x += s.cx;
        rowHeight = std::max(rowHeight, s.cy);
    }
}

void Page::OnClientResized() noexcept { Layout(); }

void Page::OnCloseRequested() noexcept { End(0); }

HRESULT Page::AddObject(const ObjectTag& tag) noexcept {
    try {
        CLSID clsid{};
        HRESULT hr = ClassIdOf(tag.classId, clsid);
        std::wstring error = L"no such class";
        Length width = tag.width, height = tag.height;
        // Without width or height attributes, the control's own _cx/_cy params size it.
        for (const auto& p : tag.params) {
            const bool cx = ::lstrcmpiW(p.first.c_str(), L"_cx") == 0;
            const bool cy = ::lstrcmpiW(p.first.c_str(), L"_cy") == 0;
            Length& l = cx ? width : height;
            if ((!cx && !cy) || l.given) continue;
            wchar_t* end = nullptr;
            const long himetric = std::wcstol(p.second.c_str(), &end, 10);
            if (end && *end == 0 && himetric >= 0) {
                const SIZE px = HimetricToPixels(SIZE{himetric, himetric});
                l.given = true;
                l.value = cx ? px.cx : px.cy;
            }
        }
        if (SUCCEEDED(hr)) hr = AddControl(tag.id, clsid, tag.params, width, height, nullptr, error);
        if (FAILED(hr))
            Error(pageName_ + L":" + std::to_wstring(tag.line + 1) + L": object \"" + tag.id + L"\" (" + tag.classId +
                  L"): " + error + L" failed (" + Hex(hr) + L")");
        return hr;
    } catch (const std::exception&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT Page::AddControl(const std::wstring& id, const CLSID& clsid, const ParamList& params, Length width,
                         Length height, ControlSite** out, std::wstring& error) noexcept {
    try {
        if (Find(id) || id == L"host") {
            error = L"a second control with this id";
            return E_INVALIDARG;
        }
        comfw::ComPtr<ControlSite> site;
        HRESULT hr = ControlSite::Make(site, this, id, width, height);
        if (FAILED(hr)) return hr;
        controls_.push_back(site);
        Layout();
        hr = site->Create(clsid, params, site->rect(), error);
        if (SUCCEEDED(hr)) {
            hr = engine_->AddNamedItem(id.c_str(), SCRIPTITEM_ISVISIBLE);
            if (FAILED(hr)) error = L"IActiveScript::AddNamedItem";
        }
        if (FAILED(hr)) {
            site->Close();
            controls_.pop_back();
            return hr;
        }
        if (out) *out = site.detach();
        return S_OK;
    } catch (const std::exception&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT Page::Echo(SAFEARRAY* words) noexcept {
    if (Ending()) return kPageEnded;
    try {
        std::wstring line;
        comfw::SafeArray copy;
        if (words && SUCCEEDED(comfw::SafeArray::CopyOf(words, copy))) {
            LONG lower = 0, upper = -1;
            copy.bounds(lower, upper);
            for (LONG i = lower; i <= upper; ++i) {
                comfw::Variant v;
                if (FAILED(copy.get_variant(i, *v.ptr()))) continue;
                if (i > lower) line += L' ';
                line += TextOfValue(v.get());
            }
        }
        const std::string text = Utf8(line) + "\n";
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
        return S_OK;
    } catch (const std::exception&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT Page::Sleep(LONG milliseconds) noexcept {
    if (Ending()) return kPageEnded;
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(std::max<LONG>(milliseconds, 0));
    for (;;) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
            if (Ending()) return kPageEnded;
        }
        if (Ending()) return kPageEnded;
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) return S_OK;
        HANDLE expired = watchdog_.expired();
        ::MsgWaitForMultipleObjectsEx(expired ? 1 : 0, expired ? &expired : nullptr,
                                      static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 0x7fffffff)),
                                      QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

HRESULT Page::Exit(LONG status) noexcept {
    End(static_cast<int>(status));
    return kPageEnded;
}

HRESULT Page::Resize(LONG width, LONG height) noexcept {
    if (Ending()) return kPageEnded;
    if (width <= 0 || height <= 0) return E_INVALIDARG;
    window_.SetClientSize(SIZE{width, height});
    Layout();  // WM_SIZE did too; this covers a size that did not change
    return S_OK;
}

HRESULT Page::Destroy(const std::wstring& id) noexcept {
    if (Ending()) return kPageEnded;
    ControlSite* site = Find(id);
    if (!site) return E_INVALIDARG;
    comfw::ComPtr<ControlSite> keep(site);
    keep->Close();
    Layout();
    return S_OK;
}

HRESULT Page::CreateControl(const std::wstring& id, const std::wstring& classText, Length width, Length height,
                            IDispatch** control) noexcept {
    if (Ending()) return kPageEnded;
    CLSID clsid{};
    HRESULT hr = ClassIdOf(classText, clsid);
    std::wstring error = L"no such class";
    ControlSite* site = nullptr;
    if (SUCCEEDED(hr)) hr = AddControl(id, clsid, ParamList{}, width, height, &site, error);
    if (FAILED(hr)) {
        try {
            Error(L"pagehost: createControl(\"" + id + L"\", \"" + classText + L"\"): " + error + L" failed (" +
                  Hex(hr) + L")");
        } catch (...) {
        }
        return hr;
    }
    comfw::ComPtr<ControlSite> owned = comfw::ComPtr<ControlSite>::Attach(site);
    return owned->control()->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(control));
}

HRESULT Page::Args(VARIANT* out) noexcept {
    return ::VariantCopy(out, const_cast<VARIANT*>(&args_.get()));
}

HRESULT Page::SaveScreenshot(const std::wstring& path) noexcept {
    if (!window_.hwnd()) return E_UNEXPECTED;
    return SavePng(
        window_.ClientSize(),
        [this](HDC dc) {
            RECT all{0, 0, window_.ClientSize().cx, window_.ClientSize().cy};
            ::FillRect(dc, &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
            for (const auto& site : controls_) site->DrawTo(dc);
        },
        path);
}

void Page::Screenshot() noexcept {
    if (options_.screenshotPath.empty() || !window_.hwnd()) return;
    const HRESULT hr = SaveScreenshot(options_.screenshotPath);
    if (FAILED(hr)) {
        Error(L"pagehost: cannot write the screenshot " + options_.screenshotPath + L" (" + Hex(hr) + L")");
        if (status_ == 0) status_ = kStatusHostError;
    }
}

void Page::TearDown() noexcept {
    if (!window_.hwnd() && !engine_ && controls_.empty()) {
        watchdog_.Stop();
        return;
    }
    ending_ = true;
    Screenshot();
    for (const auto& site : controls_) site->Close();
    args_.clear();
    if (engine_) {
        engine_->SetScriptState(SCRIPTSTATE_DISCONNECTED);
        engine_->Close();
    }
    if (scriptSite_) scriptSite_->Detach();
    if (host_) host_->Detach();
    if (document_) document_->Detach();
    if (frame_) frame_->Detach();
    parser_.reset();
    engine_.reset();
    scriptSite_.reset();
    host_.reset();
    controls_.clear();
    document_.reset();
    frame_.reset();
    window_.Detach();
    if (window_.hwnd()) ::DestroyWindow(window_.hwnd());
    watchdog_.Stop();
    std::fflush(stdout);
}

}  // namespace pagehost
