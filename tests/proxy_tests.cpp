// Browser proxy resolution on the platform's own WinHTTP. Each case writes the user's proxy settings (read by
// WinHttpGetIEProxyConfigForCurrentUser), runs proxy_client, a fresh process whose control connects with the
// browser-proxy feature, and checks Connect's tenth argument as the console got it and the client's log.
// Auto-configuration scripts come from a Winsock server here.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "axplugin/browserProxy.h"
#include "tests/consoleTestSupport.h"

namespace {

const wchar_t kConnections[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
const wchar_t kValue[] = L"DefaultConnectionSettings";
constexpr DWORD kDirect = 1, kManual = 2, kScript = 4, kDetect = 8;  // flags of the settings

// The settings value: 0x46, a counter, the flags, then proxy, bypass list and
// script URL, each a byte count and narrow text, then padding.
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
std::wstring Hex(const std::vector<BYTE>& bytes) {
    std::wstring out;
    for (BYTE b : bytes) out += {L"0123456789abcdef"[b >> 4], L"0123456789abcdef"[b & 15]};
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

std::vector<std::string> Starting(const std::vector<std::string>& lines, const std::string& prefix) {
    std::vector<std::string> out;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(out), [&](auto& l) { return l.rfind(prefix, 0) == 0; });
    return out;
}

// Runs proxy_client with `args`; gives its exit status, result lines and log messages.
DWORD RunClient(const std::wstring& args, std::vector<std::string>& results, std::vector<std::string>& log) {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring out = temp + (L"proxy-client-" + std::to_wstring(::GetCurrentProcessId()) + L".txt");
    zova::test::Process client;
    const std::wstring line = L"\"" + ProgramFolder() + L"proxy_client.exe\" \"" + out + L"\" " + args;
    const DWORD status = client.Start(line, CREATE_NO_WINDOW) ? client.ExitCodeWithin(60000) : ~0u;
    std::string text;
    for (std::ifstream file(out.c_str()); std::getline(file, text);) {
        if (text.rfind("log ", 0) == 0) log.push_back(text.substr(4));
        else results.push_back(text);
    }
    ::DeleteFileW(out.c_str());
    return status;
}

// The record of a connect for `host` (a null host arrives empty) with `proxy` as the tenth argument.
std::string Connected(const std::string& host, const std::string& proxy, HRESULT hr = S_OK) {
    return "connect " + std::to_string(int(hr)) + " host 8 [" + host + "] proxy 8 [" + proxy + "]";
}

const char kPacScript[] =
    "function FindProxyForURL(url, host) {\n"
    "  if (host == \"intranet\") return \"DIRECT\";\n"
    "  return \"PROXY pac-proxy:3128\";\n"
    "}\n";

// A one-thread HTTP server on 127.0.0.1 that answers every request with kPacScript and records the request lines.
class PacServer {
public:
    PacServer() {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
        listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{AF_INET};  // port 0: any free one
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int size = sizeof address;
        EXPECT_TRUE(::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) == 0 && ::listen(listener_, 8) == 0 &&
                    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) == 0);
        url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/proxy.pac";
        thread_ = std::thread([this] { Serve(); });
    }
    ~PacServer() {
        ::closesocket(listener_);  // ends the accept
        thread_.join();
        ::WSACleanup();
    }
    std::vector<std::string> Requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    std::string url;

private:
    void Serve() {
        for (SOCKET client; (client = ::accept(listener_, nullptr, nullptr)) != INVALID_SOCKET;) {
            std::string request;
            char buffer[2048];
            for (int n; request.find("\r\n\r\n") == std::string::npos && (n = ::recv(client, buffer, 2048, 0)) > 0;)
                request.append(buffer, n);
            const std::lock_guard<std::mutex> lock(mutex_);  // until the answer is sent
            requests_.push_back(request.substr(0, request.find("\r\n")));
            const std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: application/x-ns-proxy-autoconfig\r\n"
                                      "Content-Length: " + std::to_string(sizeof kPacScript - 1) +
                                      "\r\nConnection: close\r\n\r\n" + kPacScript;
            ::send(client, reply.data(), int(reply.size()), 0);
            ::shutdown(client, SD_SEND);
            while (::recv(client, buffer, sizeof buffer, 0) > 0) continue;
            ::closesocket(client);
        }
    }
    SOCKET listener_ = INVALID_SOCKET;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::string> requests_;
};

struct ProxyCase {
    const char* what;
    DWORD flags;  // with kScript, the URL of the server's script
    const char *proxy, *bypass;
    size_t cut;                        // the value is cut to this many bytes (0: whole)
    const wchar_t* run;                // the client's mode and hosts
    const char* later;                 // "@" there: the client writes settings with this manual proxy
    std::vector<std::string> results;  // what the client wrote
    DWORD failure;                     // the error "Getting proxy for URL failed" reports (0: no such line)
};

const ProxyCase kCases[] = {
    {"manual proxy", kDirect | kManual, "proxy:8080", "", 0, L"connect host-02.lab.example other", "",
     {Connected("host-02.lab.example", "proxy:8080"), Connected("other", "proxy:8080")}, 0},
    {"https entry of a scheme list", kManual, "ftp=a:21;https=b:443", "", 0, L"connect host-02.lab.example", "",
     {Connected("host-02.lab.example", "b:443")}, 0},
    {"https entry with nothing behind it: empty, not null", kManual, "ftp=a:21;https=", "", 0,
     L"connect host-02.lab.example", "", {Connected("host-02.lab.example", "")}, 0},
    {"bypass list: whole names, case counts, no wildcards", kManual, "p:3128", "h1;;h2;*.example", 0,
     L"connect h1 H1 h2 x.example *.example h", "",
     {Connected("h1", ""), Connected("H1", "p:3128"), Connected("h2", ""), Connected("x.example", "p:3128"),
      Connected("*.example", ""), Connected("h", "p:3128")}, 0},
    // Changed settings are not seen: the first read, bypass list included, holds.
    {"settings read once", kManual, "first:1", "h1", 0, L"connect a @ a h1", "second:2",
     {Connected("a", "first:1"), Connected("a", "first:1"), Connected("h1", "")}, 0},
    {"auto-detection ignores the manual proxy, finds nothing here", kManual | kDetect, "manual:8080", "", 0,
     L"connect host-02.lab.example", "", {Connected("host-02.lab.example", "")}, ERROR_WINHTTP_AUTODETECTION_FAILED},
    {"the script's URL wins over manual proxy and discovery", kManual | kScript | kDetect, "manual:8080", "", 0,
     L"connect host-02.lab.example intranet", "", {Connected("host-02.lab.example", "pac-proxy:3128"), Connected("intranet", "")}, 0},
    // Cut before the proxy's length, WinHTTP's read fails: no report, no second read, no WinHTTP session.
    {"unreadable settings", kManual, "p:3128", "", 12, L"connect host-02.lab.example @ host-02.lab.example", "p:3128",
     {Connected("host-02.lab.example", ""), Connected("host-02.lab.example", "")}, 0},
    // WinHTTP fetches the script, then refuses "https://" with no host; the
    // console records the null host name (empty across processes) and refuses it.
    {"null host name", kScript, "", "", 0, L"connect - host-02.lab.example", "",
     {Connected("", "", E_INVALIDARG), Connected("host-02.lab.example", "pac-proxy:3128")}, ERROR_WINHTTP_INVALID_URL},
    {"first reads on several threads at once", kManual, "ftp=a:21;https=b:443", "h1;h3", 0,
     L"threads h0 h1 h2 h3 h0 h1 h2 h3 h0 h1 h2 h3", "",
     {"thread h0 [b:443]", "thread h1 []", "thread h2 [b:443]", "thread h3 []", "thread h0 [b:443]", "thread h1 []",
      "thread h2 [b:443]", "thread h3 []", "thread h0 [b:443]", "thread h1 []", "thread h2 [b:443]", "thread h3 []"}, 0},
};

}  // namespace

TEST(ManualProxyFromSetting, TakesTheFirstHttpsEntryElseTheWholeSetting) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"proxy:8080", L"proxy:8080"}, {L"ftp=a:21;https=b:443;socks=c:1080", L"b:443"}, {L"https=b:443", L"b:443"},
        {L"http=a:80;https=b:443", L"b:443"}, {L"ftp=a:21;https=", L""}, {L"https=;ftp=a:21", L""},
        {L"https=b:1;https=c:2", L"b:1"}, {L"", L""},
        // Other schemes' entries without an https one are passed on whole.
        {L"ftp=a:21;socks=c:1080", L"ftp=a:21;socks=c:1080"},
        // The key is matched exactly: case counts, and it may end a longer name.
        {L"HTTPS=b:443", L"HTTPS=b:443"}, {L"xhttps=q:1;https=b:2", L"q:1"}};
    for (const auto& [setting, proxy] : cases) EXPECT_EQ(proxy, zova::ManualProxyFromSetting(setting)) << setting;
}

TEST(BrowserProxy, ResolvesFromTheUsersSettingsOncePerProcess) {
    PacServer server;
    SavedSettings saved;
    for (const ProxyCase& c : kCases) {
        SCOPED_TRACE(c.what);
        std::vector<BYTE> bytes = Settings(c.flags, c.proxy, c.bypass, c.flags & kScript ? server.url : "");
        if (c.cut) bytes.resize(c.cut);
        WriteSettings(bytes);
        std::wstring args = c.run;
        const size_t at = args.find(L'@');
        if (at != std::wstring::npos) args.insert(at + 1, Hex(Settings(kManual, c.later, "", "")));
        const size_t fetched = server.Requests().size();
        std::vector<std::string> results, log;
        EXPECT_EQ(0u, RunClient(args, results, log));
        EXPECT_EQ(c.results, results);
        // Every connect says the feature is on; a failed resolution is reported
        // with WinHTTP's error, and opening WinHTTP never fails.
        EXPECT_EQ(Starting(results, "connect").size(), Starting(log, "Browser proxy feature is enabled").size());
        EXPECT_EQ(c.failure ? std::vector<std::string>{"Getting proxy for URL failed, rc=" + std::to_string(c.failure)}
                            : std::vector<std::string>{},
                  Starting(log, "Getting proxy for URL failed"));
        EXPECT_EQ(std::vector<std::string>{}, Starting(log, "WinHttpOpen failed"));
        // A script is fetched from the server, and only then.
        const std::vector<std::string> requests = server.Requests();
        EXPECT_EQ(c.flags & kScript ? "GET /proxy.pac HTTP/1.1" : "",
                  requests.size() > fetched ? requests[fetched] : std::string());
    }
}
