// One page run: the host window, the script engine, the page's controls and
// the document they see. Run() goes through the page in document order
// (objects are created, scripts run as they come) and then tears it all down.
// page.cpp runs the page, pageScript.cpp drives the script engine and
// pageHostMethods.cpp does what the host object's methods ask.
#pragma once

#include <windows.h>
#include <activscp.h>
#include <map>
#include <string>
#include <vector>

#include "comfw/comPtr.h"
#include "comfw/variant.h"
#include "pagehost/controlSite.h"
#include "pagehost/hostWindow.h"
#include "pagehost/pageDocument.h"
#include "pagehost/pageSource.h"
#include "pagehost/pageUrl.h"
#include "pagehost/watchdog.h"

namespace pagehost {

class HostObject;
class WindowObject;
class PageFrame;
class ScriptSite;

struct Options {
    std::wstring pagePath;
    std::wstring url;             // empty: the page file's file: URL
    std::wstring screenshotPath;  // empty: none
    std::wstring dialogShotPath;  // empty: none
    DWORD timeoutMs = 0;          // 0: no limit
    std::vector<std::wstring> args;
};

// Exit statuses besides host.exit's own.
constexpr int kStatusScriptError = 1;
constexpr int kStatusHostError = 2;
constexpr int kStatusTimeout = 3;

// What host methods return once the page is ending, so that the script that
// called them unwinds at once.
constexpr HRESULT kPageEnded = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0201);

class Page final : public PageControls, public HostWindowEvents {
public:
    explicit Page(Options options);
    ~Page();
    Page(const Page&) = delete;
    Page& operator=(const Page&) = delete;

    // Runs the page to its end; the exit status.
    int Run() noexcept;

    // The host object's methods.
    HRESULT Echo(SAFEARRAY* words) noexcept;
    HRESULT Sleep(LONG milliseconds) noexcept;
    HRESULT Exit(LONG status) noexcept;
    HRESULT Resize(LONG width, LONG height) noexcept;
    // Writes a PNG of the host window to `path` now.
    HRESULT SaveScreenshot(const std::wstring& path) noexcept;
    const std::wstring& screenshot_path() const noexcept { return options_.screenshotPath; }
    HRESULT Destroy(const std::wstring& id) noexcept;
    HRESULT CreateControl(const std::wstring& id, const std::wstring& classText, Length width, Length height,
                          IDispatch** control) noexcept;
    HRESULT Args(VARIANT* out) noexcept;

    // The window object's: a timer that calls `handler` after `milliseconds`
    // (again and again with `repeat`) while the page runs; the page waits for
    // its timers before it ends. Alert prints its message.
    HRESULT StartTimer(IDispatch* handler, LONG milliseconds, bool repeat, LONG* timer) noexcept;
    void StopTimer(LONG timer) noexcept;
    HRESULT Alert(const VARIANT& message) noexcept;

    // For the script site.
    HRESULT ItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** info) noexcept;
    void ScriptError(IActiveScriptError* error) noexcept;

    // For the control sites and event sinks.
    HWND Window() const noexcept { return window_.hwnd(); }
    HRESULT Document(IOleContainer** out) noexcept;
    HRESULT Frame(IOleInPlaceFrame** out) noexcept;
    HRESULT FireEvent(const std::wstring& controlId, const std::wstring& eventName, DISPPARAMS* params,
                      VARIANT* result) noexcept;
    void Warn(const std::wstring& what, HRESULT hr) noexcept;

    // PageControls
    std::vector<IUnknown*> LiveControls() override;
    // HostWindowEvents
    void OnClientResized() noexcept override;
    void OnCloseRequested() noexcept override;
    void OnTimer(UINT_PTR id) noexcept override;

private:
    bool Load(PageItems& items) noexcept;
    bool StartScript() noexcept;
    HRESULT BuildArgs() noexcept;
    // Reads a <script src>'s file into the block; false (reported) when it cannot.
    bool LoadScriptFile(ScriptBlock& block);
    HRESULT RunScript(const ScriptBlock& block) noexcept;
    HRESULT AddObject(const ObjectTag& tag) noexcept;
    HRESULT AddControl(const std::wstring& id, const CLSID& clsid, const ParamList& params, Length width,
                       Length height, ControlSite** out, std::wstring& error) noexcept;
    ControlSite* Find(const std::wstring& id) const noexcept;
    // Places every control by the page's layout (pageLayout.h) at its tag's size.
    void Layout() noexcept;
    // Ends the page with this status (the first end wins).
    void End(int status) noexcept;
    // Notices an expired time limit; true when the page is ending.
    bool Ending() noexcept;
    void Screenshot() noexcept;
    void TearDown() noexcept;
    void Error(const std::wstring& text) noexcept;
    // Calls a script function; a failure is reported as a script error in `where` and ends the page.
    HRESULT CallScript(IDispatch* function, DISPID id, DISPPARAMS* params, VARIANT* result,
                       const std::wstring& where) noexcept;

    Options options_;
    PageUrl url_;
    std::wstring pageName_;  // the page file's name, for messages
    // The name each parsed script is reported under, by its source context
    // (the index here): the page's name, or a <script src> as written.
    std::vector<std::wstring> sources_;
    HostWindow window_;
    Watchdog watchdog_;
    comfw::ComPtr<PageFrame> frame_;
    comfw::ComPtr<PageDocument> document_;
    comfw::ComPtr<ScriptSite> scriptSite_;
    comfw::ComPtr<IActiveScript> engine_;
    comfw::ComPtr<IActiveScriptParse> parser_;
    comfw::ComPtr<HostObject> host_;
    comfw::ComPtr<WindowObject> windowObject_;
    struct Timer {
        comfw::ComPtr<IDispatch> handler;
        bool repeat = false;
        bool running = false;  // a nested message loop in its function does not call it again
    };
    std::map<UINT_PTR, Timer> timers_;
    UINT_PTR lastTimer_ = 0;
    comfw::Variant args_;
    std::vector<comfw::ComPtr<ControlSite>> controls_;
    // <script for=ID event=name>: (lower-case ID, lower-case name) -> script function
    std::map<std::pair<std::wstring, std::wstring>, std::wstring> boundHandlers_;
    bool ending_ = false;
    int status_ = 0;
    int handlerCount_ = 0;
};

}  // namespace pagehost
