// Site access control. This program's name contains "IExplore.EXE" (in mixed case), so the control in it takes it for
// the browser and guards its client-device operations. Pages run in the page host's browser-named copy (iexplore.exe),
// their origin from --url; sitedialog answers their dialogs from another process. Each case starts from the real
// settings file in the prefix's profile folder, set up as the case needs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "axplugin/siteAccess.h"
#include "axplugin/zovaEmbeddedCtl.h"
#include "comfw/bstr.h"
#include "comfw/scopeExit.h"
#include "comfw/uniqueAny.h"
#include "plugin-common/settings.h"
#include "tests/consoleTestSupport.h"
#include "tests/ownLog.h"

namespace {

using Lines = std::vector<std::string>;
using comfw::ComPtr;

// The test pages as the prefix sees the build's folders: under drive Z:, the Unix root.
const std::wstring kPages = L"Z:" ZOVA_TEST_PAGES L"\\";

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

// The log messages of an ended process: its newest plugin-<pid>*.log.
Lines LogOf(DWORD pid) {
    wchar_t temp[MAX_PATH];
    const std::wstring dir = std::wstring(temp, ::GetTempPathW(MAX_PATH, temp)) + L"zova-plugin\\";
    WIN32_FIND_DATAW found;
    std::wstring newest;
    FILETIME newestTime{};
    HANDLE find = ::FindFirstFileW((dir + L"plugin-" + std::to_wstring(pid) + L"*.log").c_str(), &found);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = ::FindNextFileW(find, &found))
        if (::CompareFileTime(&found.ftLastWriteTime, &newestTime) >= 0)
            newestTime = found.ftLastWriteTime, newest = dir + found.cFileName;
    ::FindClose(find);
    Lines messages;
    for (const std::string& line : ReadLines(newest))
        if (line.find("]: ") != std::string::npos) messages.push_back(line.substr(line.find("]: ") + 3));
    return messages;
}

// A program beside this one, started with its standard output into a file of its own: sitedialog or a page host.
struct Child : zova::test::Process {
    const std::wstring out = NewFile();

    Child(const std::wstring& program, const std::wstring& args) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        const comfw::unique_file file(::CreateFileW(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                                    CREATE_ALWAYS, 0, nullptr));
        if (!Start(L"\"" + ProgramFolder() + program + L"\" " + args, 0, file.get()))
            ADD_FAILURE() << "did not start: " << ::GetLastError();
    }
    static std::wstring NewFile() {
        static int count = 0;
        wchar_t temp[MAX_PATH];
        return std::wstring(temp, ::GetTempPathW(MAX_PATH, temp)) + L"site-" + std::to_wstring(++count) + L".txt";
    }
};

struct PageRun {
    Lines out, dialogs, log;
};

// A page with host.args `steps` (`url` empty: the page file's own) in the browser-named page host, its dialogs
// answered by sitedialog (`answers` space-separated), started before it.
PageRun RunPage(const std::wstring& url, const std::wstring& steps, const std::wstring& answers,
                const wchar_t* page = L"siteAccess.html") {
    const std::wstring report = Child::NewFile();
    Child driver(L"sitedialog.exe", L"\"" + report + L"\" " + answers);
    Child host(L"iexplore.exe", L"--timeout 50 " + (url.empty() ? L"" : L"--url " + url) + L" \"" + kPages + page +
                                    L"\" -- " + steps);
    EXPECT_EQ(0u, host.ExitCodeWithin(60000)) << "page exit status (259: still running)";
    EXPECT_EQ(0u, driver.ExitCodeWithin(15000)) << "sitedialog exit status: every answer found its dialog";
    return PageRun{ReadLines(host.out), ReadLines(report), LogOf(host.pi.dwProcessId)};
}

const char kShown[] = " ticked 'Deny (automatic in 10 seconds)' focus:deny";

// First in this program: the first use of the process's settings is here.
TEST(Settings, FirstUseFromManyThreadsHandEditedValuesAndSitesOtherProcessesRemember) {
    SetSettings("{\"auth\": {\"https:,one,\": \"1\", \"https:,two,\": \"false\", \"https:,three,\": \"no\",\n"
                "\"https:,four,\": {\"x\": \"true\"}, \"https:,five,\": true}}");
    constexpr int kThreads = 8, kKeys = 400;
    const auto key = [](int t, int k) { return "t:,h" + std::to_string(t) + "-" + std::to_string(k) + ","; };
    std::atomic<bool> go{false};
    std::vector<std::string> allowed(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            while (!go) std::this_thread::yield();
            zova::PluginSettings& settings = zova::PluginSettings::Instance();
            for (const char* site : {"one", "two", "three", "four", "five"})
                if (settings.IsSiteAllowed(std::string("https:,") + site + ",")) allowed[t] += site;
            for (int k = 0; k < kKeys; ++k) settings.AllowSite(key(t, k), false);
        });
    go = true;
    for (std::thread& t : threads) t.join();
    zova::PluginSettings& settings = zova::PluginSettings::Instance();
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ("onefive", allowed[t]) << "only \"1\" and true allow";
        for (int k = 0; k < kKeys; ++k) ASSERT_TRUE(settings.IsSiteAllowed(key(t, k)));
    }

    // Other processes remember sites, shown to the user normalised; then this one remembers its own. The file keeps
    // its entries in order, then the others', then this one's; the others' sites reach this file, not its decisions.
    const std::pair<const wchar_t*, std::string> others[] = {
        {L"https://host-01.lab.example/", "https:|host-01.lab.example|443"},
        {L"https://192.168.1.10:8443/", "https:|192.168.1.10|8443"},
        {L"HTTP://b\u00fcro/", "HTTP:|b\xc3\xbcro|(unset)"},
        {L"", "file:|(localhost)|(unset)"}};  // each page's URL, and its origin as shown
    for (const auto& [url, shown] : others) {
        SCOPED_TRACE(shown);
        const PageRun run = RunPage(url, L"list", L"allow-remember");
        EXPECT_EQ(Lines{"list allowed"}, run.out);
        EXPECT_EQ(Lines{shown + kShown}, run.dialogs);
    }
    settings.AllowSite("https:,host-01,", true);
    EXPECT_FALSE(settings.IsSiteAllowed("https:,host-01.lab.example,"));
    EXPECT_EQ("{\r\n    \"auth\": {\r\n        \"https:,one,\": \"1\",\r\n        \"https:,two,\": \"false\",\r\n"
              "        \"https:,three,\": \"no\",\r\n        \"https:,four,\": {\r\n            \"x\": \"true\"\r\n"
              "        },\r\n        \"https:,five,\": \"true\",\r\n        \"https:,host-01\": {\r\n"
              "            \"lab\": {\r\n                \"example,\": \"true\"\r\n            }\r\n        },\r\n"
              "        \"https:,192\": {\r\n            \"168\": {\r\n                \"1\": {\r\n"
              "                    \"10,8443\": \"true\"\r\n                }\r\n            }\r\n        },\r\n"
              "        \"HTTP:,b\xc3\xbcro,\": \"true\",\r\n        \"file:,,\": \"true\",\r\n"
              "        \"https:,host-01,\": \"true\"\r\n    }\r\n}\r\n",
              SettingsBytes());
}

// A strict double of the browser's client site: only GetContainer is expected; it gives a non-HTML container, or fails.
class FakeSite final : public comfw::ComObject<FakeSite, IOleClientSite, IOleContainer> {
public:
    HRESULT container = S_OK;
    int calls = 0;
    STDMETHODIMP GetContainer(IOleContainer** out) noexcept override {
        ++calls;
        EXPECT_TRUE(out && !*out);
        if (SUCCEEDED(container)) (*out = this)->AddRef();
        return container;
    }
#define ZOVA_UNEXPECTED(call) \
    call noexcept override { return ADD_FAILURE() << "unexpected " #call, E_NOTIMPL; }
    ZOVA_UNEXPECTED(STDMETHODIMP SaveObject())
    ZOVA_UNEXPECTED(STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**))
    ZOVA_UNEXPECTED(STDMETHODIMP ShowObject())
    ZOVA_UNEXPECTED(STDMETHODIMP OnShowWindow(BOOL))
    ZOVA_UNEXPECTED(STDMETHODIMP RequestNewObjectLayout())
    ZOVA_UNEXPECTED(STDMETHODIMP ParseDisplayName(IBindCtx*, LPOLESTR, ULONG*, IMoniker**))
    ZOVA_UNEXPECTED(STDMETHODIMP EnumObjects(DWORD, IEnumUnknown**))
    ZOVA_UNEXPECTED(STDMETHODIMP LockContainer(BOOL))
};

// Without an origin each client-device operation is refused first, before any pointer, argument or console check.
TEST(PageOrigin, WithoutASiteOrAnHTMLDocumentTheDevicesAreRefusedAndTheFailureReported) {
    const struct {
        bool site;
        HRESULT container;
        const char* line;
    } rows[] = {{false, S_OK, "Failed to get the container: -2147418113"},
                {true, E_ACCESSDENIED, "Failed to get the container: -2147024891"},
                {true, S_OK, "QI for IHTMLDocument2 failed: -2147467262"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        const ComPtr<zova::ZOVAEmbeddedCtl> control = zova::test::Made<zova::ZOVAEmbeddedCtl>();
        const ComPtr<FakeSite> site = zova::test::Made<FakeSite>();
        site->container = row.container;
        if (row.site) control->SetClientSite(site.get());
        zova::test::LogMark mark;
        const DWORD start = ::GetTickCount();
        EXPECT_EQ(E_ACCESSDENIED, control->getPhysicalClientDevices(7, nullptr));
        EXPECT_EQ(E_ACCESSDENIED, control->getPhysicalClientDeviceDetails(nullptr, nullptr));
        EXPECT_EQ(E_ACCESSDENIED, control->connectDevice(nullptr, nullptr, ZOVA_DB_PHYSICAL));
        EXPECT_EQ(E_ACCESSDENIED, control->disconnectDevice(nullptr));
        ComPtr<IErrorInfo> error;  // what a page's e.description shows
        comfw::Bstr description;
        ASSERT_EQ(S_OK, ::GetErrorInfo(0, error.put()));
        error->GetDescription(description.put());
        EXPECT_EQ(L"disconnectDevice: this site may not use the devices of this computer (the user denied it, or the "
                  L"page's origin is unknown)",
                  description.str());
        EXPECT_LT(::GetTickCount() - start, 2000u) << "no dialog";
        EXPECT_EQ(Lines(4, row.line), mark.NewMessages());
        EXPECT_EQ(row.site ? 4 : 0, site->calls);
        control->SetClientSite(nullptr);
    }
}

// The protected-mode query fails (reported, not kept), then answers, and that answer is kept for the process: the
// third call does not ask. (The test's entry lets a native ieframe.dll load: WINEDLLOVERRIDES ieframe=n.)
TEST(Probes, AFailedProtectedModeQueryIsReportedAndAnAnswerIsKept) {
    ::SetEnvironmentVariableW(L"ZOVA_PROTECTED_MODE", L"fail yes no");
    Child page(L"protected\\pagehost.exe", L"\"" + kPages + L"protectedMode.html\"");
    EXPECT_EQ(0u, page.ExitCodeWithin(30000));
    ::SetEnvironmentVariableW(L"ZOVA_PROTECTED_MODE", nullptr);
    EXPECT_EQ(Lines{"-2147467259 true true"}, ReadLines(page.out));
    EXPECT_THAT(LogOf(page.pi.dwProcessId), testing::Contains("IEIsProtectedModeProcess failed: -2147467259"));
}

// (What each answer decides: the SiteAccess pages, whose dialogs another process answers.)
TEST(ConfirmDialog, IsOwnedByTheActiveWindow) {
    HWND owner = ::CreateWindowExW(0, L"STATIC", L"page", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                                   nullptr, nullptr, nullptr);
    ::SetActiveWindow(owner);
    ASSERT_EQ(owner, ::GetActiveWindow());
    static HWND s_seenOwner;
    // On the dialog's own modal loop: note its owner and press Allow.
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR, DWORD) {
        HWND dialog = ::FindWindowW(L"#32770", L"Corvix Access Control");
        if (!dialog || s_seenOwner) return;
        s_seenOwner = ::GetWindow(dialog, GW_OWNER);
        ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    });
    bool remember = false;
    EXPECT_TRUE(zova::ConfirmSiteAccess(L"https:", L"host-01.lab.example", L"443", remember));
    EXPECT_EQ(owner, s_seenOwner);
    ::KillTimer(nullptr, timer);
    ::DestroyWindow(owner);
}

TEST(SiteAccess, EachAnswerDecidesAsTheUserMeantAndOnlyARememberedAllowOutlivesTheProcess) {
    SetSettings("(none)");
    const std::wstring url = L"https://host-01.lab.example:8443/console.html";
    const std::string shown = std::string("https:|host-01.lab.example|8443") + kShown;
    // Deny, Esc and the close box refuse and leave nothing: each next call asks again. Allow with the box ticked
    // passes this call and every later one of the process, on either control, without asking.
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
}

// An unreadable settings file (here a folder; a malformed one: fuzz/settingsFuzz.cpp) is left as it was; without a
// profile folder (its parent a file) nothing is read or written. Either way the allow holds for the process, reported.
TEST(SiteAccess, AnUnreadableFileIsNeverWrittenOverAndWithoutAProfileNothingIsWritten) {
    const std::wstring wide = SettingsPath();
    const std::string path(wide.begin(), wide.end()), kept = "left as it is, since it cannot be read: ";
    const wchar_t kProfiles[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
    wchar_t saved[MAX_PATH] = {};
    DWORD size = sizeof saved;
    ASSERT_EQ(ERROR_SUCCESS, ::RegGetValueW(HKEY_LOCAL_MACHINE, kProfiles, L"ProfilesDirectory",
                                            RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, saved, &size));
    auto setProfiles = [&](const wchar_t* value) {
        return ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kProfiles, L"ProfilesDirectory", REG_EXPAND_SZ, value,
                                 DWORD((wcslen(value) + 1) * sizeof(wchar_t)));
    };
    const auto restore = comfw::scope_exit([&] { EXPECT_EQ(ERROR_SUCCESS, setProfiles(saved)); });
    const struct {
        std::string bytes;
        const wchar_t* profiles;  // or the prefix's own; the last row
        Lines log;
    } rows[] = {
        {"(folder)", nullptr,
         {"Failed to read config file \"" + path + "\": " + path + ": cannot open file",
          "Failed to write config file \"" + path + "\": " + kept + path + ": cannot open file"}},
        {"(none)", L"C:\\windows\\win.ini",
         {"Failed to get the user's home directory: 3", "Using settings file \"\"",
          "Failed to read config file \"\": <unspecified file>: cannot open file",
          "Failed to write config file \"\": <unspecified file>: cannot open file"}}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.bytes);
        SetSettings(row.bytes);
        if (row.profiles) {
            ASSERT_EQ(ERROR_SUCCESS, setProfiles(row.profiles));
        }
        const PageRun run = RunPage(L"https://host-01/", L"list details", L"allow-remember");
        EXPECT_EQ((Lines{"list allowed", "details allowed"}), run.out);
        EXPECT_EQ(1u, run.dialogs.size());
        EXPECT_EQ(row.bytes, SettingsBytes());
        EXPECT_THAT(run.log, testing::IsSupersetOf(row.log));
    }
}

TEST(SiteAccess, TheDevicesOfTheReferenceConsoleAfterAnAllow) {
    SetSettings("(none)");
    const PageRun run = RunPage(L"", L"", L"allow", L"events.html");
    EXPECT_EQ((Lines{"9 events", "done"}), run.out);
    EXPECT_EQ(Lines{std::string("file:|(localhost)|(unset)") + kShown}, run.dialogs);
}

}  // namespace
