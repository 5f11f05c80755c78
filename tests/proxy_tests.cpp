// Browser proxy resolution on the platform's WinHTTP. Each case writes the user's proxy settings (read once per process
// by WinHttpGetIEProxyConfigForCurrentUser) and, in a fresh process of this program, checks the log and Connect's tenth
// argument from a control with the browser-proxy feature. Auto-configuration scripts come from a Winsock server here.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "axplugin/browserProxy.h"
#include "plugin-common/utils.h"
#include "tests/consoleTestSupport.h"
#include "tests/controlFakes.h"
#include "tests/ownLog.h"
#include "zova/consoleContract.h"

namespace {

using Lines = std::vector<std::string>;
using testing::Contains;
using testing::StartsWith;

const wchar_t kConnections[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
const wchar_t kValue[] = L"DefaultConnectionSettings";
constexpr DWORD kDirect = 1, kManual = 2, kScript = 4, kDetect = 8;  // flags of the settings

// The settings value: 0x46, a counter, the flags, then proxy, bypass list and script URL (byte count, text), padding.
std::vector<BYTE> Settings(DWORD flags, const std::string& proxy, const std::string& bypass, const std::string& url) {
    std::vector<BYTE> out;
    auto dword = [&out](size_t v) { for (int shift = 0; shift < 32; shift += 8) out.push_back(BYTE(v >> shift)); };
    for (DWORD v : {DWORD(0x46), DWORD(7), flags}) dword(v);
    for (const std::string* text : {&proxy, &bypass, &url}) {
        dword(text->size());
        out.insert(out.end(), text->begin(), text->end());
    }
    out.resize(out.size() + 32);
    return out;
}
void WriteSettings(const std::vector<BYTE>& bytes, DWORD type = REG_BINARY) {
    EXPECT_EQ(ERROR_SUCCESS, ::RegSetKeyValueW(HKEY_CURRENT_USER, kConnections, kValue, type, bytes.data(),
                                               DWORD(bytes.size())));
}

// Keeps the user's settings value and puts it back (or removes it) at the end.
struct SavedSettings {
    std::vector<BYTE> bytes = std::vector<BYTE>(65536);
    DWORD type = REG_BINARY, size = 65536;
    const bool had = ::RegGetValueW(HKEY_CURRENT_USER, kConnections, kValue, RRF_RT_ANY, &type, bytes.data(),
                                    &size) == ERROR_SUCCESS;
    ~SavedSettings() {
        bytes.resize(size);
        if (had) WriteSettings(bytes, type);
        else ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kConnections, kValue);
    }
};

const char kPacScript[] =
    "function FindProxyForURL(url, host) {\n"
    "  if (host == \"intranet\") return \"DIRECT\";\n"
    "  return \"PROXY pac-proxy:3128\";\n"
    "}\n";

// A one-thread HTTP server on 127.0.0.1 that answers every request with kPacScript.
struct PacServer {
    PacServer() {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
        listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{AF_INET};  // port 0: any free one
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int size = sizeof address;
        EXPECT_TRUE(::bind(listener, reinterpret_cast<sockaddr*>(&address), size) == 0 && ::listen(listener, 8) == 0 &&
                    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) == 0);
        url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/proxy.pac";
        thread = std::thread([this] { Serve(); });
    }
    ~PacServer() {
        ::closesocket(listener);  // ends the accept
        thread.join();
        ::WSACleanup();
    }
    // The answer goes out at once; the request is read until the client closes, so that closing loses nothing.
    void Serve() {
        const std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: application/x-ns-proxy-autoconfig\r\n"
                                  "Content-Length: " + std::to_string(sizeof kPacScript - 1) +
                                  "\r\nConnection: close\r\n\r\n" + kPacScript;
        for (SOCKET client; (client = ::accept(listener, nullptr, nullptr)) != INVALID_SOCKET; ::closesocket(client)) {
            ::send(client, reply.data(), int(reply.size()), 0);
            ::shutdown(client, SD_SEND);
            for (char buffer[2048]; ::recv(client, buffer, sizeof buffer, 0) > 0;) continue;
        }
    }
    SOCKET listener = INVALID_SOCKET;
    std::thread thread;
    std::string url;
};

struct ProxyCase {
    const char* what;
    DWORD flags;  // with kScript, the URL of the server's script
    const char *proxy, *bypass;
    size_t cut;          // the value is cut to this many bytes (0: whole)
    const wchar_t* run;  // "connect" or "threads" (all at once, a thread each), then the hosts ("-": a null host)
    const char* later;   // at host "@" the case writes settings with this manual proxy
    Lines proxies;       // what each host got ("null": a null string)
    DWORD failure;       // the error "Getting proxy for URL failed" reports (0: no such line)
};

const ProxyCase kCases[] = {
    {"manual proxy", kDirect | kManual, "proxy:8080", "", 0, L"connect host-02.lab.example other", "",
     {"proxy:8080", "proxy:8080"}, 0},
    {"bypass list: whole names, case counts, no wildcards", kManual, "p:3128", "h1;;h2;*.example", 0,
     L"connect h1 H1 h2 x.example *.example h", "", {"", "p:3128", "", "p:3128", "", "p:3128"}, 0},
    // Changed settings are not seen: the first read, bypass list included, holds.
    {"settings read once", kManual, "first:1", "h1", 0, L"connect a @ a h1", "second:2", {"first:1", "first:1", ""}, 0},
    {"auto-detection ignores the manual proxy, finds nothing here", kManual | kDetect, "manual:8080", "", 0,
     L"connect host-02.lab.example", "", {""}, ERROR_WINHTTP_AUTODETECTION_FAILED},
    {"the script's URL wins over manual proxy and discovery", kManual | kScript | kDetect, "manual:8080", "", 0,
     L"connect host-02.lab.example intranet", "", {"pac-proxy:3128", ""}, 0},
    // Cut before the proxy's length, WinHTTP's read fails: no report, no second read, no WinHTTP session.
    {"unreadable settings", kManual, "p:3128", "", 12, L"connect host-02.lab.example @ host-02.lab.example", "p:3128",
     {"", ""}, 0},
    // WinHTTP fetches the script, then refuses "https://" with no host: no proxy, and the next host resolves.
    {"null host name", kScript, "", "", 0, L"connect - host-02.lab.example", "", {"", "pac-proxy:3128"},
     ERROR_WINHTTP_INVALID_URL},
    {"first reads on several threads at once", kManual, "ftp=a:21;https=b:443", "h1;h3", 0,
     L"threads h0 h1 h2 h3 h0 h1 h2 h3 h0 h1 h2 h3", "",
     {"b:443", "", "b:443", "", "b:443", "", "b:443", "", "b:443", "", "b:443", ""}, 0},
};

// Runs BrowserProxy.DISABLED_Case on case `index` in a fresh process of this program, its output here; it must pass.
void RunCase(size_t index) {
    ::SetEnvironmentVariableW(L"ZOVA_PROXY_CASE", std::to_wstring(index).c_str());
    zova::test::Process client;
    const std::wstring line = L"\"" + ProgramFolder() + L"proxy_tests.exe\" --gtest_also_run_disabled_tests "
                              L"--gtest_filter=BrowserProxy.DISABLED_Case";
    ASSERT_TRUE(client.Start(line, CREATE_NO_WINDOW, ::GetStdHandle(STD_OUTPUT_HANDLE)));
    EXPECT_EQ(0u, client.ExitCodeWithin(60000)) << kCases[index].what;
}

// ------------------------------------------------------- the case's own process

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }  // ASCII here
comfw::Bstr Text(const std::wstring& text) { return comfw::Bstr::Attach(::SysAllocString(text.c_str())); }
// A string argument's text ("null": a null string; "?": no such argument or another type).
std::string Shown(const VARIANT* v) { return !v || v->vt != VT_BSTR ? "?" : v->bstrVal ? Narrow(v->bstrVal) : "null"; }

// A control with the browser-proxy feature, on the link's stand-in, connects to each host: Connect's tenth arguments.
Lines Connect(const ProxyCase& c, const std::vector<std::wstring>& hosts) {
    zova::test::ControlRig rig;
    rig.link.process->AnswerUI4(ZOVA_DISPID_GET_FEATURE_FLAGS, zova::kFeatureUseBrowserProxy);
    EXPECT_EQ(S_OK, rig.Startup());
    Lines proxies;
    for (const std::wstring& host : hosts) {
        if (host == L"@") {
            WriteSettings(Settings(kManual, c.later, "", ""));
            continue;
        }
        EXPECT_EQ(S_OK, rig.control->connect(host == L"-" ? nullptr : Text(host).get(), nullptr, VARIANT_FALSE,
                                             nullptr, Text(L"user").get(), nullptr, nullptr, nullptr, nullptr));
        const auto* call = rig.link.vm->LastCall(ZOVA_DISPID_CONNECT);
        proxies.push_back(Shown(call && call->args.size() == 10 ? &call->args[9] : nullptr));
    }
    return proxies;
}

// Every host resolved at once, a thread each.
Lines ResolveAtOnce(const std::vector<std::wstring>& hosts) {
    std::atomic<bool> go{false};
    Lines answers(hosts.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < hosts.size(); ++i)
        threads.emplace_back([&, i] {
            const HRESULT init = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            while (!go) std::this_thread::yield();
            answers[i] = Narrow(zova::ResolveBrowserProxy(hosts[i]));
            if (SUCCEEDED(init)) ::CoUninitialize();
        });
    ::Sleep(100);  // every thread is waiting at the start line
    go = true;
    for (std::thread& t : threads) t.join();
    return answers;
}

}  // namespace

TEST(ManualProxyFromSetting, TakesTheFirstHttpsEntryElseTheWholeSetting) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        // Without an https entry the whole setting, other schemes' entries too (a plain proxy: kCases).
        {L"ftp=a:21;socks=c:1080", L"ftp=a:21;socks=c:1080"}, {L"https=b:443", L"b:443"}, {L"ftp=a:21;https=", L""},
        {L"ftp=a:21;https=b:443;socks=c:1080", L"b:443"}, {L"https=;ftp=a:21", L""}, {L"https=b:1;https=c:2", L"b:1"},
        // The key is matched exactly: case counts, and it may end a longer name.
        {L"HTTPS=b:443", L"HTTPS=b:443"}, {L"xhttps=q:1;https=b:2", L"q:1"}};
    for (const auto& [setting, proxy] : cases) EXPECT_EQ(proxy, zova::ManualProxyFromSetting(setting)) << setting;
}

TEST(BrowserProxy, ResolvesFromTheUsersSettingsOncePerProcess) {
    PacServer server;
    SavedSettings saved;
    for (size_t i = 0; i < std::size(kCases); ++i) {
        const ProxyCase& c = kCases[i];
        std::vector<BYTE> bytes = Settings(c.flags, c.proxy, c.bypass, c.flags & kScript ? server.url : "");
        if (c.cut) bytes.resize(c.cut);
        WriteSettings(bytes);
        RunCase(i);
    }
}

// Case ZOVA_PROXY_CASE, run by the test above in a fresh process.
TEST(BrowserProxy, DISABLED_Case) {
    const wchar_t* index = ::_wgetenv(L"ZOVA_PROXY_CASE");
    ASSERT_TRUE(index);
    const ProxyCase& c = kCases[std::stoul(index)];
    std::wistringstream run(c.run);
    std::wstring mode;
    run >> mode;
    const std::vector<std::wstring> hosts{std::istream_iterator<std::wstring, wchar_t>(run), {}};
    const zova::test::LogMark mark;
    const Lines proxies = mode == L"threads" ? ResolveAtOnce(hosts) : Connect(c, hosts);
    EXPECT_EQ(c.proxies, proxies);
    // Every connect says the feature is on; a failed resolution is reported with WinHTTP's error.
    const Lines log = mark.NewMessages();
    const size_t connects = mode == L"connect" ? proxies.size() : 0, failures = c.failure ? 1 : 0;
    EXPECT_THAT(log, Contains(StartsWith("Browser proxy feature is enabled")).Times(connects));
    EXPECT_THAT(log, Contains(StartsWith("Getting proxy for URL failed")).Times(failures));
    EXPECT_THAT(log, Contains("Getting proxy for URL failed, rc=" + std::to_string(c.failure)).Times(failures));
}
