// The page's run: loading, the host window, objects and scripts in document
// order, the controls' layout, and the teardown. The script engine is in
// pageScript.cpp, the host object's methods in pageHostMethods.cpp.
#include "pagehost/page.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>

#include "comfw/hresult.h"
#include "comfw/oleControlBase.h"
#include "pagehost/hostObject.h"
#include "pagehost/windowObject.h"
#include "pagehost/pageFrame.h"
#include "pagehost/dialogShot.h"
#include "pagehost/pageLayout.h"
#include "pagehost/screenshot.h"
#include "pagehost/scriptSite.h"
#include "pagehost/text.h"

namespace pagehost {
namespace {

constexpr SIZE kDefaultClient{800, 600};
constexpr DWORD kTimeoutGraceMs = 3000;

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

// A message that cannot be built for want of memory is dropped: the exit
// status still tells the failure.
void Page::Error(const std::wstring& text) noexcept {
    try {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", Utf8(text).c_str());
        std::fflush(stderr);
    }
    COMFW_CATCH_LOG()
}

void Page::Warn(const std::wstring& what, HRESULT hr) noexcept {
    try {
        Error(L"pagehost: warning: " + what + L" (" + Hex(hr) + L")");
    }
    COMFW_CATCH_LOG()
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
        for (PageItem& item : items)
            if (item.kind == PageItem::Kind::Script && !item.script.src.empty() && !LoadScriptFile(item.script))
                return false;
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

bool Page::LoadScriptFile(ScriptBlock& block) {
    // Relative to the page's folder, unless the src names a drive or a root.
    std::wstring path = block.src;
    for (wchar_t& c : path) if (c == L'/') c = L'\\';
    const bool rooted = path[0] == L'\\' || (path.size() > 1 && path[1] == L':');
    const size_t slash = options_.pagePath.find_last_of(L"\\/");
    if (!rooted && slash != std::wstring::npos) path = options_.pagePath.substr(0, slash + 1) + path;
    std::string bytes;
    if (!ReadFileBytes(path, bytes)) {
        Error(pageName_ + L": cannot read the script \"" + block.src + L"\" (" + path + L")");
        return false;
    }
    block.code = DecodePageText(bytes);
    return true;
}

int Page::Run() noexcept {
    PageItems items;
    if (!Load(items)) return kStatusHostError;

    // Wide enough for the fixed widths of the page's objects and tall enough
    // for their rows (percentages count as nothing yet).
    SIZE client = kDefaultClient;
    for (const PageItem& item : items) {
        const Length& w = item.object.width;
        if (item.kind == PageItem::Kind::Object && w.given && !w.percent)
            client.cx = std::max<LONG>(client.cx, w.value);
    }
    RowFlow flow(client.cx);
    for (const PageItem& item : items) {
        if (item.kind != PageItem::Kind::Object) continue;
        flow.Place(SIZE{ResolveLength(item.object.width, 0, kDefaultControl.cx),
                        ResolveLength(item.object.height, 0, kDefaultControl.cy)});
    }
    client.cy = std::max<LONG>(client.cy, flow.Height());

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
    // As a browser keeps a page, this host keeps it while a timer may still call it.
    while (!timers_.empty() && Sleep(50) == S_OK) {}
    Ending();
    TearDown();
    return status_;
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

ControlSite* Page::Find(const std::wstring& id) const noexcept {
    for (const auto& site : controls_) if (site->id() == id) return site.get();
    return nullptr;
}

std::vector<IUnknown*> Page::LiveControls() {
    std::vector<IUnknown*> live;
    for (const auto& site : controls_) if (!site->closed() && site->control()) live.push_back(site->control());
    return live;
}

void Page::Layout() noexcept {
    const SIZE client = window_.hwnd() ? window_.ClientSize() : kDefaultClient;
    RowFlow flow(window_.ClientSize().cx);
    for (const auto& site : controls_) {
        if (site->closed()) continue;
        site->Move(flow.Place(SIZE{ResolveLength(site->width(), client.cx, kDefaultControl.cx),
                                   ResolveLength(site->height(), client.cy, kDefaultControl.cy)}));
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
                const SIZE px = comfw::HimetricToPixels(SIZE{himetric, himetric});
                l.given = true;
                l.value = cx ? px.cx : px.cy;
            }
        }
        if (SUCCEEDED(hr)) hr = AddControl(tag.id, clsid, tag.params, width, height, nullptr, error);
        if (FAILED(hr))
            Error(pageName_ + L":" + std::to_wstring(tag.line + 1) + L": object \"" + tag.id + L"\" (" + tag.classId +
                  L"): " + error + L" failed (" + Hex(hr) + L")");
        return hr;
    }
    COMFW_CATCH_RETURN()
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
    }
    COMFW_CATCH_RETURN()
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
    for (const auto& timer : timers_) ::KillTimer(window_.hwnd(), timer.first);
    timers_.clear();
    for (const auto& site : controls_) site->Close();
    args_.clear();
    if (engine_) {
        engine_->SetScriptState(SCRIPTSTATE_DISCONNECTED);
        engine_->Close();
    }
    if (scriptSite_) scriptSite_->Detach();
    if (host_) host_->Detach();
    if (windowObject_) windowObject_->Detach();
    if (document_) document_->Detach();
    if (frame_) frame_->Detach();
    parser_.reset();
    engine_.reset();
    scriptSite_.reset();
    host_.reset();
    windowObject_.reset();
    controls_.clear();
    document_.reset();
    frame_.reset();
    window_.Detach();
    if (window_.hwnd()) ::DestroyWindow(window_.hwnd());
    watchdog_.Stop();
    std::fflush(stdout);
}

}  // namespace pagehost
