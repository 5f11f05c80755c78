// Site access control. This program runs under a name that contains
// "IExplore.EXE" (in mixed case), so the control in it takes it for the
// browser and guards its client-device operations. The pages run in the page
// host's browser-named copy (iexplore.exe), their origin from --url; the
// dialogs that the pages' controls show are read and answered from another
// process by sitedialog. Every case starts from the real settings file in
// the prefix's profile folder, set up as the case needs.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "axplugin/environmentProbes.h"
#include "axplugin/siteAccess.h"
#include "axplugin/zovaEmbeddedCtl.h"
#include "comfw/uniqueAny.h"
#include "pagehost/htmlNotImpl.h"
#include "plugin-common/settings.h"
#include "tests/ownLog.h"

namespace comfw {
template <> struct InterfaceBases<IHTMLDocument2> { using type = TypeList<IHTMLDocument, IDispatch>; };
}  // namespace comfw

namespace {

using Lines = std::vector<std::string>;
using comfw::ComPtr;

std::wstring Dir(const std::wstring& path) { return path.substr(0, path.find_last_of(L"\\/") + 1); }
std::wstring Self() {
    wchar_t self[MAX_PATH];
    return std::wstring(self, ::GetModuleFileNameW(nullptr, self, MAX_PATH));
}
// A Unix path of the build as the prefix sees it.
std::wstring Windows(const char* unixPath) {
    std::wstring out = L"Z:";
    for (const char* c = unixPath; *c; ++c) out += *c == '/' ? L'\\' : wchar_t(*c);
    return out;
}

std::wstring SettingsPath() {
    wchar_t profile[MAX_PATH];
    ::SHGetSpecialFolderPathW(nullptr, profile, CSIDL_PROFILE, TRUE);
    return std::wstring(profile) + L"\\.zova-plugin-settings.js";
}
// The settings file's bytes, or "(none)" when nothing stands there, or "(folder)".
std::string SettingsBytes() {
    const DWORD attributes = ::GetFileAttributesW(SettingsPath().c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return "(none)";
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "(folder)";
    std::ifstream file(SettingsPath().c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}
// Puts `bytes` at the settings path: "(none)", "(folder)" or the file's bytes.
void SetSettings(const std::string& bytes) {
    ::DeleteFileW(SettingsPath().c_str());
    ::RemoveDirectoryW(SettingsPath().c_str());
    if (bytes == "(folder)") ::CreateDirectoryW(SettingsPath().c_str(), nullptr);
    else if (bytes != "(none)") std::ofstream(SettingsPath().c_str(), std::ios::binary) << bytes;
    ASSERT_EQ(bytes, SettingsBytes());
}

Lines ReadLines(const std::wstring& path) {
    Lines lines;
    std::ifstream file(path.c_str(), std::ios::binary);
    for (std::string line; std::getline(file, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// The log messages of an ended process: its newest plugin-<pid>[-n].log.
Lines LogOf(DWORD pid) {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring dir = std::wstring(temp) + L"zova-plugin\\";
    WIN32_FIND_DATAW found;
    std::wstring newest;
    FILETIME newestTime{};
    for (const std::wstring pattern : {L".log", L"-*.log"}) {
        HANDLE find = ::FindFirstFileW((dir + L"plugin-" + std::to_wstring(pid) + pattern).c_str(), &found);
        for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = ::FindNextFileW(find, &found))
            if (::CompareFileTime(&found.ftLastWriteTime, &newestTime) >= 0) {
                newestTime = found.ftLastWriteTime;
                newest = dir + found.cFileName;
            }
        if (find != INVALID_HANDLE_VALUE) ::FindClose(find);
    }
    Lines messages;
    for (const std::string& line : ReadLines(newest))
        if (line.find("]: ") != std::string::npos) messages.push_back(line.substr(line.find("]: ") + 3));
    return messages;
}

// A program of the build folder, its standard output into `out`.
struct Process {
    comfw::unique_handle handle;
    DWORD pid = 0;
    Process(const std::wstring& commandLine, const std::wstring& out) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        const comfw::unique_file file(::CreateFileW(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                    &inherit, CREATE_ALWAYS, 0, nullptr));
        STARTUPINFOW si{sizeof si};
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = si.hStdError = file.get();
        PROCESS_INFORMATION pi{};
        std::wstring line = commandLine;
        if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
            ADD_FAILURE() << "did not start: " << ::GetLastError();
            return;
        }
        ::CloseHandle(pi.hThread);
        handle.reset(pi.hProcess);
        pid = pi.dwProcessId;
    }
    // Waits up to `ms` for the end; ends the process and fails when it runs longer.
    DWORD Wait(DWORD ms) {
        DWORD status = ~0u;
        if (!handle) return status;
        if (::WaitForSingleObject(handle.get(), ms) != WAIT_OBJECT_0) {
            ::TerminateProcess(handle.get(), 9);
            ADD_FAILURE() << "process " << pid << " did not end in time";
        }
        ::GetExitCodeProcess(handle.get(), &status);
        return status;
    }
};

std::wstring Temp(const std::wstring& name) {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    return temp + name + L"-" + std::to_wstring(::GetCurrentProcessId()) + L".txt";
}

struct PageRun {
    Lines out, dialogs, log;
};

// sitedialog answering `answers` (space-separated), started before the pages.
class Driver {
public:
    explicit Driver(const std::wstring& answers)
        : report_(Temp(L"site-dialogs")),
          process_(L"\"" + Dir(Self()) + L"sitedialog.exe\" \"" + report_ + L"\" " + answers, Temp(L"site-driver")) {}
    Lines Finish() {
        process_.Wait(15000);
        return ReadLines(report_);
    }

private:
    std::wstring report_;
    Process process_;
};

// A page in the browser-named page host; `url` empty: the page file's own.
class Page {
public:
    Page(const std::wstring& url, const std::wstring& steps, int n = 0, const wchar_t* page = L"siteAccess.html")
        : out_(Temp(L"site-page" + std::to_wstring(n))),
          process_(L"\"" + Dir(Self()) + L"iexplore.exe\" --timeout 50 " + (url.empty() ? L"" : L"--url " + url) +
                       L" \"" + Windows(ZOVA_TEST_PAGES) + L"\\" + page + L"\" -- " + steps,
                   out_) {}
    PageRun Finish() {
        PageRun run;
        EXPECT_EQ(0u, process_.Wait(60000)) << "page exit status";
        run.out = ReadLines(out_);
        run.log = LogOf(process_.pid);
        return run;
    }

private:
    std::wstring out_;
    Process process_;
};

PageRun RunPage(const std::wstring& url, const std::wstring& steps, const std::wstring& answers) {
    Driver driver(answers);
    PageRun run = Page(url, steps).Finish();
    run.dialogs = driver.Finish();
    return run;
}

bool Has(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

const char kShown[] = " ticked 'Deny (automatic in 10 seconds)' focus:deny";

// ------------------------------------------------------- the settings object

// First in this program: the first use of the process's settings is here.
TEST(Settings, FirstUseFromManyThreadsHandEditedValuesAndAnotherProcesssRemembers) {
    SetSettings("{\"auth\": {\"https:,one,\": \"1\", \"https:,two,\": \"false\", \"https:,three,\": \"no\",\n"
                "\"https:,four,\": {\"x\": \"true\"}, \"https:,five,\": true}}");
    constexpr int kThreads = 8, kKeys = 400;
    std::atomic<bool> go{false};
    std::vector<zova::PluginSettings*> seen(kThreads);
    std::vector<std::string> allowed(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            while (!go) std::this_thread::yield();
            zova::PluginSettings& settings = zova::PluginSettings::Instance();
            seen[t] = &settings;
            for (const char* site : {"one", "two", "three", "four", "five"})
                if (settings.IsSiteAllowed(std::string("https:,") + site + ",")) allowed[t] += site;
            for (int k = 0; k < kKeys; ++k) settings.AllowSite("t:,h" + std::to_string(t) + "-" + std::to_string(k) + ",", false);
        });
    go = true;
    for (std::thread& t : threads) t.join();
    zova::PluginSettings& settings = zova::PluginSettings::Instance();
    const Lines log = zova::test::OwnLogMessages();
    EXPECT_EQ(1, std::count_if(log.begin(), log.end(), [](auto& m) { return m.rfind("Using settings file", 0) == 0; }));
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(&settings, seen[t]);
        EXPECT_EQ("onefive", allowed[t]) << "only \"1\" and true allow";
        for (int k = 0; k < kKeys; ++k)
            ASSERT_TRUE(settings.IsSiteAllowed("t:,h" + std::to_string(t) + "-" + std::to_string(k) + ","));
    }

    // Another process remembers a site; this one then remembers its own: the
    // file keeps its entries in order, then the other's, then this one's. The
    // other's site reaches this process's file, not its decisions.
    const PageRun other = RunPage(L"https://other-1.lab.example/", L"list", L"allow-remember");
    EXPECT_EQ(Lines{"list allowed"}, other.out);
    settings.AllowSite("https:,host-01,", true);
    EXPECT_FALSE(settings.IsSiteAllowed("https:,other-1.lab.example,"));
    EXPECT_EQ("{\r\n    \"auth\": {\r\n        \"https:,one,\": \"1\",\r\n        \"https:,two,\": \"false\",\r\n"
              "        \"https:,three,\": \"no\",\r\n        \"https:,four,\": {\r\n            \"x\": \"true\"\r\n"
              "        },\r\n        \"https:,five,\": \"true\",\r\n        \"https:,other-1\": {\r\n"
              "            \"lab\": {\r\n                \"example,\": \"true\"\r\n            }\r\n        },\r\n"
              "        \"https:,host-01,\": \"true\"\r\n    }\r\n}\r\n",
              SettingsBytes());
}

// --------------------------------------------------------------- the origin

// Strict doubles of the browser's site (its own container and document) and
// location: the calls are counted, any other member fails the test.
struct Expected {
    HRESULT container = S_OK, location = S_OK, protocol = S_OK, hostname = S_OK, port = S_OK;
    bool document = true;
    int calls[5] = {};  // GetContainer, get_location, get_protocol, get_hostname, get_port
};
#define ZOVA_UNEXPECTED(call) \
    call noexcept override { return NotImplemented(#call); }

class FakeLocation final : public comfw::ComObject<FakeLocation, pagehost::HtmlLocationNotImpl> {
public:
    explicit FakeLocation(Expected& e) : e_(e) {}
    STDMETHODIMP get_protocol(BSTR* p) noexcept override { return Give(2, e_.protocol, L"HTTP:", p); }
    STDMETHODIMP get_hostname(BSTR* p) noexcept override { return Give(3, e_.hostname, L"host-01.lab.example", p); }
    STDMETHODIMP get_port(BSTR* p) noexcept override { return Give(4, e_.port, nullptr, p); }
    HRESULT NotImplemented(const char* member) noexcept override {
        ADD_FAILURE() << "unexpected call " << member;
        return E_NOTIMPL;
    }

private:
    HRESULT Give(int call, HRESULT hr, const wchar_t* text, BSTR* out) {
        ++e_.calls[call];
        EXPECT_TRUE(out && !*out);
        if (SUCCEEDED(hr) && text) *out = ::SysAllocString(text);
        return hr;
    }
    Expected& e_;
};

class FakePage final
    : public comfw::ComObject<FakePage, IOleClientSite, IOleContainer, pagehost::HtmlDocumentNotImpl> {
public:
    explicit FakePage(Expected& e) : e_(e) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override {
        if (!e_.document && ppv && ::IsEqualIID(riid, IID_IHTMLDocument2)) return *ppv = nullptr, E_NOINTERFACE;
        return ComObject::QueryInterface(riid, ppv);
    }
    STDMETHODIMP GetContainer(IOleContainer** out) noexcept override {
        ++e_.calls[0];
        EXPECT_TRUE(out && !*out);
        if (SUCCEEDED(e_.container)) (*out = this)->AddRef();
        return e_.container;
    }
    STDMETHODIMP get_location(IHTMLLocation** p) noexcept override {
        ++e_.calls[1];
        EXPECT_TRUE(p && !*p);
        ComPtr<FakeLocation> location;
        if (SUCCEEDED(e_.location)) FakeLocation::Make(location, e_);
        *p = location.detach();
        return e_.location;
    }
    ZOVA_UNEXPECTED(STDMETHODIMP SaveObject())
    ZOVA_UNEXPECTED(STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**))
    ZOVA_UNEXPECTED(STDMETHODIMP ShowObject())
    ZOVA_UNEXPECTED(STDMETHODIMP OnShowWindow(BOOL))
    ZOVA_UNEXPECTED(STDMETHODIMP RequestNewObjectLayout())
    ZOVA_UNEXPECTED(STDMETHODIMP ParseDisplayName(IBindCtx*, LPOLESTR, ULONG*, IMoniker**))
    ZOVA_UNEXPECTED(STDMETHODIMP EnumObjects(DWORD, IEnumUnknown**))
    ZOVA_UNEXPECTED(STDMETHODIMP LockContainer(BOOL))
    HRESULT NotImplemented(const char* member) noexcept override {
        ADD_FAILURE() << "unexpected call " << member;
        return E_NOTIMPL;
    }

private:
    Expected& e_;
};

TEST(PageOrigin, PartsAreReadInOrderAndEveryFailureIsReportedAndRefusesTheDevicesWithoutADialog) {
    const HRESULT kFail = E_ACCESSDENIED;
    const struct Row {
        const char* what;
        bool site;
        Expected expected;
        int calls[5];
        const char* origin;  // protocol|hostname|port after the read; "x" is what the caller had
        const char* line;    // the report, or none when the origin was read
    } rows[] = {
        {"read", true, {}, {1, 1, 1, 1, 1}, "HTTP:|host-01.lab.example|", nullptr},
        {"no site", false, {}, {0, 0, 0, 0, 0}, "x|x|x", "Failed to get the container: -2147418113"},
        {"container", true, {kFail}, {1, 0, 0, 0, 0}, "x|x|x", "Failed to get the container: -2147024891"},
        {"no HTML document", true, {S_OK, S_OK, S_OK, S_OK, S_OK, false}, {1, 0, 0, 0, 0}, "x|x|x",
         "QI for IHTMLDocument2 failed: -2147467262"},
        {"location", true, {S_OK, kFail}, {1, 1, 0, 0, 0}, "x|x|x", "Failed to get the document's location: -2147024891"},
        {"protocol", true, {S_OK, S_OK, kFail}, {1, 1, 1, 0, 0}, "x|x|x", "Failed to get the protocol: -2147024891"},
        {"hostname", true, {S_OK, S_OK, S_OK, kFail}, {1, 1, 1, 1, 0}, "HTTP:|x|x", "Failed to get the hostname: -2147024891"},
        {"port", true, {S_OK, S_OK, S_OK, S_OK, kFail}, {1, 1, 1, 1, 1}, "HTTP:|host-01.lab.example|x",
         "Failed to get the port: -2147024891"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Expected e = row.expected;
        ComPtr<zova::ZOVAEmbeddedCtl> control;
        ASSERT_EQ(S_OK, zova::ZOVAEmbeddedCtl::Make(control));
        ComPtr<FakePage> site;
        FakePage::Make(site, e);
        if (row.site) control->SetClientSite(site.get());
        zova::test::LogMark mark;
        std::wstring protocol = L"x", hostname = L"x", port = L"x";
        EXPECT_EQ(!row.line, control->GetPageOrigin(protocol, hostname, port));
        std::wstring origin = protocol + L"|" + hostname + L"|" + port;
        EXPECT_EQ(row.origin, std::string(origin.begin(), origin.end()));
        EXPECT_EQ(row.line ? Lines{row.line} : Lines{}, mark.NewMessages());
        EXPECT_EQ((std::vector<int>(row.calls, row.calls + 5)), (std::vector<int>(e.calls, e.calls + 5)));
        if (!row.line) continue;
        // The gate comes before the result pointer, the arguments and the console guard.
        const DWORD start = ::GetTickCount();
        EXPECT_EQ(E_ACCESSDENIED, control->getPhysicalClientDevices(7, nullptr));
        EXPECT_EQ(E_ACCESSDENIED, control->getPhysicalClientDeviceDetails(nullptr, nullptr));
        EXPECT_EQ(E_ACCESSDENIED, control->connectDevice(nullptr, nullptr, ZOVA_DB_PHYSICAL));
        EXPECT_EQ(E_ACCESSDENIED, control->disconnectDevice(nullptr));
        EXPECT_LT(::GetTickCount() - start, 2000u) << "no dialog";
        EXPECT_EQ(5 * row.calls[0], e.calls[0]);
        control->SetClientSite(nullptr);
    }
}

TEST(Probes, TheBrowserIsToldByItsNameInAnyCase) {
    // This program is "...IExplore.EXE": the browser. Its page host is too.
    EXPECT_TRUE(zova::IsIExploreProcess());
    EXPECT_NE(std::wstring::npos, Self().find(L"IExplore.EXE"));
}

// ---------------------------------------------------------- the dialog

// Reads a DLGTEMPLATEEX: a "sz_Or_Ord" is an ordinal ("#N") or a string.
struct TemplateReader {
    const BYTE* at;
    template <class T> T Get() {
        T value;
        std::memcpy(&value, at, sizeof value);
        at += sizeof value;
        return value;
    }
    std::string Text() {
        if (*reinterpret_cast<const WORD*>(at) == 0xFFFF) return Get<WORD>(), "#" + std::to_string(Get<WORD>());
        std::string text;
        for (WORD c; (c = Get<WORD>()) != 0;) text += static_cast<char>(c);
        return text;
    }
    void Align() { at = reinterpret_cast<const BYTE*>((reinterpret_cast<uintptr_t>(at) + 3) & ~uintptr_t(3)); }
};
std::string Describe(int id, const std::string& cls, int x, int y, int cx, int cy, DWORD style, const std::string& text) {
    char line[512];
    std::snprintf(line, sizeof line, "%d %s %d,%d %dx%d %08lx '%s'", id, cls.c_str(), x, y, cx, cy, style, text.c_str());
    return line;
}

TEST(ConfirmDialog, TheResourceHoldsTheDialogAsDesigned) {
    HRSRC found = ::FindResourceW(nullptr, MAKEINTRESOURCEW(101), MAKEINTRESOURCEW(5));  // RT_DIALOG
    ASSERT_TRUE(found);
    TemplateReader r{static_cast<const BYTE*>(::LockResource(::LoadResource(nullptr, found)))};
    ASSERT_EQ(1, r.Get<WORD>());  // version
    ASSERT_EQ(0xFFFF, r.Get<WORD>());
    r.Get<DWORD>(), r.Get<DWORD>();  // help id, extended style
    const DWORD style = r.Get<DWORD>();
    const WORD count = r.Get<WORD>();
    Lines seen;
    const short x = r.Get<short>(), y = r.Get<short>(), cx = r.Get<short>(), cy = r.Get<short>();
    const std::string menu = r.Text(), cls = r.Text(), title = r.Text();
    const WORD points = r.Get<WORD>();
    r.Get<WORD>(), r.Get<WORD>();  // weight, italic and character set
    seen.push_back(Describe(points, r.Text(), x, y, cx, cy, style, menu + cls + title));
    for (WORD i = 0; i < count; ++i) {
        r.Align();
        r.Get<DWORD>(), r.Get<DWORD>();  // help id, extended style
        const DWORD itemStyle = r.Get<DWORD>();
        const short ix = r.Get<short>(), iy = r.Get<short>(), icx = r.Get<short>(), icy = r.Get<short>();
        const int id = r.Get<int>();
        const std::string itemClass = r.Text(), text = r.Text();
        r.at += r.Get<WORD>();  // creation data
        seen.push_back(Describe(id, itemClass, ix, iy, icx, icy, itemStyle, text));
    }
    const DWORD child = WS_CHILD | WS_VISIBLE, label = child | WS_GROUP;
    const Lines designed = {
        Describe(8, "MS Shell Dlg", 0, 0, 294, 141,
                 WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS, "Corvix Access Control"),
        Describe(1, "#128", 107, 72, 50, 14, child | WS_TABSTOP | BS_PUSHBUTTON, "Allow"),
        Describe(2, "#128", 167, 72, 120, 14, child | WS_TABSTOP | BS_PUSHBUTTON, "Deny (automatic in %d seconds)"),
        Describe(-1, "#130", 7, 7, 280, 18, label | SS_LEFT,
                 "This site is using Velmora Corvix Plug-In. Do you want to allow it to access your operating system?"),
        Describe(-1, "#130", 7, 34, 71, 8, label | SS_RIGHT, "Protocol:"),
        Describe(-1, "#130", 7, 46, 71, 8, label | SS_RIGHT, "Hostname:"),
        Describe(-1, "#130", 7, 58, 71, 8, label | SS_RIGHT, "Port:"),
        Describe(1001, "#130", 83, 34, 69, 8, label | SS_LEFT, "<protocol>"),
        Describe(1002, "#130", 83, 46, 69, 8, label | SS_LEFT, "<hostname>"),
        Describe(1003, "#130", 83, 58, 69, 8, label | SS_LEFT, "<port>"),
        Describe(1004, "#128", 7, 95, 280, 10, child | WS_TABSTOP | BS_AUTOCHECKBOX, "Always ask before allowing this site"),
        Describe(-1, "#130", 7, 113, 280, 21, label | SS_LEFT,
                 "The Velmora Corvix Plug-In will give web applications and remote VMs access to your operating "
                 "system. Only allow sites you trust.")};
    EXPECT_EQ(designed, seen);
}

TEST(ConfirmDialog, IsOwnedByTheActiveWindowAndAnswersAsTheOutcomeTableSays) {
    HWND owner = ::CreateWindowExW(0, L"STATIC", L"page", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                                   nullptr, nullptr, nullptr);
    ::SetActiveWindow(owner);
    ASSERT_EQ(owner, ::GetActiveWindow());
    static HWND s_owner, s_seenOwner;
    s_owner = owner;
    // On the dialog's own modal loop: note its owner and press Allow with the box cleared.
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR, DWORD) {
        HWND dialog = ::FindWindowW(L"#32770", L"Corvix Access Control");
        if (!dialog || s_seenOwner) return;
        s_seenOwner = ::GetWindow(dialog, GW_OWNER);
        ::CheckDlgButton(dialog, 1004, BST_UNCHECKED);
        ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    });
    bool remember = false;
    EXPECT_TRUE(zova::ConfirmSiteAccess(L"https:", L"host-01.lab.example", L"443", remember));
    EXPECT_TRUE(remember);
    EXPECT_EQ(s_owner, s_seenOwner);
    ::KillTimer(nullptr, timer);
    ::DestroyWindow(owner);
}

// -------------------------------------------------- pages in the "browser"

TEST(SiteAccess, EachAnswerDecidesAsTheUserMeantAndOnlyARememberedAllowOutlivesTheProcess) {
    SetSettings("(none)");
    const std::wstring url = L"https://host-01.lab.example:8443/console.html";
    const std::string shown = std::string("https:|host-01.lab.example|8443") + kShown;
    // Deny, Esc and the close box refuse and leave nothing: each next call asks
    // again. Allow with the box ticked passes this call and every later one of
    // the process, on either control, without asking.
    PageRun run = RunPage(url, L"list list list list details@2 connect disconnect list@2", L"deny esc close allow");
    EXPECT_EQ((Lines{"list denied", "list denied", "list denied", "list allowed", "details@2 allowed",
                     "connect allowed", "disconnect allowed", "list@2 allowed"}),
              run.out);
    EXPECT_EQ(Lines(4, shown), run.dialogs);
    EXPECT_EQ("(none)", SettingsBytes());
    // A new process asks again. The countdown denies on its tenth tick.
    run = RunPage(url, L"list list", L"timeout allow-remember");
    EXPECT_EQ((Lines{"list denied", "list allowed"}), run.out);
    EXPECT_EQ((Lines{shown, "countdown 10 9 8 7 6 5 4 3 2 1 after 10 s", shown}), run.dialogs);
    // Remembered: a new process passes without asking.
    run = RunPage(url, L"connect", L"");
    EXPECT_EQ(Lines{"connect allowed"}, run.out);
    EXPECT_EQ("{\r\n    \"auth\": {\r\n        \"https:,host-01\": {\r\n            \"lab\": {\r\n"
              "                \"example,8443\": \"true\"\r\n            }\r\n        }\r\n    }\r\n}\r\n",
              SettingsBytes());
}

TEST(SiteAccess, OriginsAreShownNormalisedAndRememberedAsReported) {
    SetSettings("(none)");
    const struct {
        const wchar_t* url;
        const char* shown;
    } rows[] = {{L"https://host-01.lab.example/", "https:|host-01.lab.example|443"},
                {L"https://192.168.1.10:8443/", "https:|192.168.1.10|8443"},
                {L"HTTP://b\u00fcro/", "HTTP:|b\xc3\xbcro|(unset)"},
                {L"", "file:|(localhost)|(unset)"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.shown);
        const PageRun run = RunPage(row.url, L"list", L"allow-remember");
        EXPECT_EQ(Lines{"list allowed"}, run.out);
        EXPECT_EQ(Lines{row.shown + std::string(kShown)}, run.dialogs);
    }
    EXPECT_EQ("{\r\n    \"auth\": {\r\n        \"https:,host-01\": {\r\n            \"lab\": {\r\n"
              "                \"example,\": \"true\"\r\n            }\r\n        },\r\n"
              "        \"https:,192\": {\r\n            \"168\": {\r\n                \"1\": {\r\n"
              "                    \"10,8443\": \"true\"\r\n                }\r\n            }\r\n        },\r\n"
              "        \"HTTP:,b\xc3\xbcro,\": \"true\",\r\n        \"file:,,\": \"true\"\r\n    }\r\n}\r\n",
              SettingsBytes());
}

TEST(SiteAccess, AFileThatCannotBeReadIsNeverWrittenOverAndTheAllowHoldsForTheProcess) {
    const std::string path = [] {
        const std::wstring w = SettingsPath();
        return std::string(w.begin(), w.end());
    }();
    const struct {
        const char* what;
        std::string bytes;
        std::string reason;  // the reader's
    } rows[] = {{"malformed", "{\"auth\": {\"https:,host-01,\": \"true\",,}\r\n", path + "(1): expected key string"},
                {"a folder", "(folder)", path + ": cannot open file"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        SetSettings(row.bytes);
        const PageRun run = RunPage(L"https://host-01/", L"list details", L"allow-remember");
        EXPECT_EQ((Lines{"list allowed", "details allowed"}), run.out);
        EXPECT_EQ(1u, run.dialogs.size());
        EXPECT_EQ(row.bytes, SettingsBytes());
        EXPECT_TRUE(Has(run.log, "Failed to read config file \"" + path + "\": " + row.reason));
        EXPECT_TRUE(Has(run.log, "Failed to write config file \"" + path + "\": left as it is, since it cannot be read: " +
                                     row.reason));
    }
}

TEST(SiteAccess, WithoutAProfileFolderNothingIsReadOrWrittenAndTheAllowHoldsForTheProcess) {
    // The profile folders' parent made a file: the user's folder cannot be made.
    const wchar_t kProfiles[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
    wchar_t saved[MAX_PATH] = {};
    DWORD size = sizeof saved;
    ASSERT_EQ(ERROR_SUCCESS, ::RegGetValueW(HKEY_LOCAL_MACHINE, kProfiles, L"ProfilesDirectory",
                                            RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, saved, &size));
    auto setProfiles = [&](const wchar_t* value) {
        return ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kProfiles, L"ProfilesDirectory", REG_EXPAND_SZ, value,
                                 DWORD((wcslen(value) + 1) * sizeof(wchar_t)));
    };
    ASSERT_EQ(ERROR_SUCCESS, setProfiles(L"C:\\windows\\win.ini"));
    const PageRun run = RunPage(L"https://host-01/", L"list details", L"allow-remember");
    EXPECT_EQ(ERROR_SUCCESS, setProfiles(saved));
    EXPECT_EQ((Lines{"list allowed", "details allowed"}), run.out);
    EXPECT_EQ(1u, run.dialogs.size());
    for (const char* line : {"Failed to get the user's home directory: 3", "Using settings file \"\"",
                             "Failed to read config file \"\": <unspecified file>: cannot open file",
                             "Failed to write config file \"\": <unspecified file>: cannot open file"})
        EXPECT_TRUE(Has(run.log, line)) << line;
}

TEST(SiteAccess, TwoProcessesRememberingTwoSitesBothKeepThem) {
    SetSettings("(none)");
    // Both processes have read the (missing) file before either writes.
    Driver driver(L"--together 2 allow-remember allow-remember");
    Page first(L"https://host-01/", L"list", 1), second(L"https://host-02/", L"list", 2);
    EXPECT_EQ(Lines{"list allowed"}, first.Finish().out);
    EXPECT_EQ(Lines{"list allowed"}, second.Finish().out);
    EXPECT_EQ(2u, driver.Finish().size());
    const std::string bytes = SettingsBytes();
    EXPECT_NE(std::string::npos, bytes.find("\"https:,host-01,\": \"true\"")) << bytes;
    EXPECT_NE(std::string::npos, bytes.find("\"https:,host-02,\": \"true\"")) << bytes;
}

TEST(SiteAccess, TheDevicesOfTheReferenceConsoleAfterAnAllow) {
    SetSettings("(none)");
    Driver driver(L"allow");
    const PageRun run = Page(L"", L"", 0, L"events.html").Finish();
    EXPECT_EQ((Lines{"9 events", "done"}), run.out);
    EXPECT_EQ(Lines{std::string("file:|(localhost)|(unset)") + kShown}, driver.Finish());
}

}  // namespace
