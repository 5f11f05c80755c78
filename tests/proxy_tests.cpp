// Browser proxy resolution on the platform's own WinHTTP. Each case writes
// the user's proxy settings (the binary value DefaultConnectionSettings that
// WinHttpGetIEProxyConfigForCurrentUser reads), then runs proxy_client, a
// fresh process whose control connects with the browser-proxy feature on, and
// checks what the console received as Connect's tenth argument and what the
// client's log says. The settings are put back after every case.
// Auto-configuration scripts come from a small HTTP server in this process.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "axplugin/browserProxy.h"

namespace {

const wchar_t kConnections[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
const wchar_t kValue[] = L"DefaultConnectionSettings";

// Flags of the settings value.
constexpr DWORD kDirect = 1, kManualProxy = 2, kAutoConfigUrl = 4, kAutoDetect = 8;

// The settings value: a header (0x46, a counter, the flags), then proxy,
// bypass list and auto-configuration URL, each a byte count and narrow text,
// then padding.
std::vector<BYTE> Settings(DWORD flags, const std::string& proxy, const std::string& bypass = "",
                           const std::string& url = "") {
    std::vector<BYTE> out;
    auto dword = [&out](DWORD v) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<BYTE>(v >> (8 * i)));
    };
    auto text = [&](const std::string& s) {
        dword(static_cast<DWORD>(s.size()));
        out.insert(out.end(), s.begin(), s.end());
    };
    dword(0x46);
    dword(7);
    dword(flags);
    text(proxy);
    text(bypass);
    text(url);
    out.resize(out.size() + 32, 0);
    return out;
}

std::wstring Hex(const std::vector<BYTE>& bytes) {
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring out;
    for (BYTE b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// Saves the user's settings value at construction and puts it back (or
// removes it, if there was none) at destruction.
class SettingsGuard {
public:
    SettingsGuard() {
        DWORD size = 0, type = 0;
        if (::RegGetValueW(HKEY_CURRENT_USER, kConnections, kValue, RRF_RT_ANY, &type, nullptr, &size) ==
            ERROR_SUCCESS) {
            saved_.resize(size);
            had_ = ::RegGetValueW(HKEY_CURRENT_USER, kConnections, kValue, RRF_RT_ANY, &type, saved_.data(),
                                  &size) == ERROR_SUCCESS;
            saved_.resize(size);
            type_ = type;
        }
    }
    ~SettingsGuard() {
        HKEY key = nullptr;
        if (::RegCreateKeyExW(HKEY_CURRENT_USER, kConnections, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                              nullptr) != ERROR_SUCCESS)
            return;
        if (had_)
            ::RegSetValueExW(key, kValue, 0, type_, saved_.data(), static_cast<DWORD>(saved_.size()));
        else
            ::RegDeleteValueW(key, kValue);
        ::RegCloseKey(key);
    }
    void Write(const std::vector<BYTE>& bytes) {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, kConnections, 0, nullptr, 0, KEY_SET_VALUE,
                                                   nullptr, &key, nullptr));
        EXPECT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key, kValue, 0, REG_BINARY, bytes.data(),
                                                  static_cast<DWORD>(bytes.size())));
        ::RegCloseKey(key);
    }

private:
    bool had_ = false;
    DWORD type_ = REG_BINARY;
    std::vector<BYTE> saved_;
};

// What one proxy_client run wrote.
struct ClientRun {
    DWORD status = ~0u;
    std::vector<std::string> results;  // "connect ..." and "thread ..." lines
    std::vector<std::string> log;      // the client's log messages

    bool Logged(const std::string& message) const {
        return std::find(log.begin(), log.end(), message) != log.end();
    }
    size_t LoggedStartingWith(const std::string& prefix) const {
        return std::count_if(log.begin(), log.end(), [&](const std::string& m) { return m.rfind(prefix, 0) == 0; });
    }
};

std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path, n);
    return p.substr(0, p.find_last_of(L"\\/") + 1);
}

ClientRun RunClient(const std::wstring& args) {
    ClientRun run;
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring out = std::wstring(temp) + L"proxy-client-" + std::to_wstring(::GetCurrentProcessId()) +
                             L"-" + std::to_wstring(::GetTickCount64()) + L".txt";
    std::wstring line = L"\"" + ProgramFolder() + L"proxy_client.exe\" \"" + out + L"\" " + args;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si,
                          &pi)) {
        ADD_FAILURE() << "proxy_client did not start: " << ::GetLastError();
        return run;
    }
    if (::WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0) {
        ::TerminateProcess(pi.hProcess, 9);
        ADD_FAILURE() << "proxy_client did not end in time";
    }
    ::GetExitCodeProcess(pi.hProcess, &run.status);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);

    std::ifstream file(out.c_str(), std::ios::binary);
    std::string text;
    while (std::getline(file, text)) {
        if (text.rfind("log ", 0) == 0)
            run.log.push_back(text.substr(4));
        else if (text.rfind("startup ", 0) != 0)
            run.results.push_back(text);
        else if (text != "startup 0")
            ADD_FAILURE() << "proxy_client: " << text;
    }
    file.close();
    ::DeleteFileW(out.c_str());
    return run;
}

// The record line of a successful connect for `host` (as the console saw it,
// a null host arrives empty) with `proxy` as the tenth argument.
std::string Connected(const std::string& host, const std::string& proxy) {
    return "connect 0 host 8 [" + host + "] proxy 8 [" + proxy + "]";
}

// A one-thread HTTP server on 127.0.0.1 that answers every request with a
// proxy auto-configuration script and records the request lines.
class PacServer {
public:
    explicit PacServer(std::string script) : script_(std::move(script)) {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
        listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        int size = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, 8) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            ADD_FAILURE() << "PAC server: " << ::WSAGetLastError();
            return;
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~PacServer() {
        ::closesocket(listener_);  // ends the accept
        if (thread_.joinable()) thread_.join();
        ::WSACleanup();
    }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    std::vector<std::string> Requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }

private:
    void Serve() {
        for (;;) {
            SOCKET client = ::accept(listener_, nullptr, nullptr);
            if (client == INVALID_SOCKET) return;
            std::string request;
            char buffer[2048];
            while (request.find("\r\n\r\n") == std::string::npos) {
                const int n = ::recv(client, buffer, sizeof buffer, 0);
                if (n <= 0) break;
                request.append(buffer, n);
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(request.substr(0, request.find("\r\n")));
            }
            const std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: application/x-ns-proxy-autoconfig\r\n"
                                      "Content-Length: " + std::to_string(script_.size()) +
                                      "\r\nConnection: close\r\n\r\n" + script_;
            ::send(client, reply.data(), static_cast<int>(reply.size()), 0);
            ::shutdown(client, SD_SEND);
            while (::recv(client, buffer, sizeof buffer, 0) > 0) {
            }
            ::closesocket(client);
        }
    }

    std::string script_;
    SOCKET listener_ = INVALID_SOCKET;
    unsigned short port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::string> requests_;
};

const char kPacScript[] =
    "function FindProxyForURL(url, host) {\n"
    "  if (host == \"intranet\") return \"DIRECT\";\n"
    "  return \"PROXY pac-proxy:3128\";\n"
    "}\n";

}  // namespace

TEST(ManualProxyFromSetting, TakesTheFirstHttpsEntryElseTheWholeSetting) {
    using zova::ManualProxyFromSetting;
    EXPECT_EQ(L"proxy:8080", ManualProxyFromSetting(L"proxy:8080"));
    EXPECT_EQ(L"b:443", ManualProxyFromSetting(L"ftp=a:21;https=b:443;socks=c:1080"));
    EXPECT_EQ(L"b:443", ManualProxyFromSetting(L"https=b:443"));
    EXPECT_EQ(L"b:443", ManualProxyFromSetting(L"http=a:80;https=b:443"));
    EXPECT_EQ(L"", ManualProxyFromSetting(L"ftp=a:21;https="));
    EXPECT_EQ(L"", ManualProxyFromSetting(L"https=;ftp=a:21"));
    EXPECT_EQ(L"b:1", ManualProxyFromSetting(L"https=b:1;https=c:2"));
    // Other schemes' entries without an https one are passed on whole.
    EXPECT_EQ(L"ftp=a:21;socks=c:1080", ManualProxyFromSetting(L"ftp=a:21;socks=c:1080"));
    // The key is matched exactly: case counts, and it may end a longer name.
    EXPECT_EQ(L"HTTPS=b:443", ManualProxyFromSetting(L"HTTPS=b:443"));
    EXPECT_EQ(L"q:1", ManualProxyFromSetting(L"xhttps=q:1;https=b:2"));
    EXPECT_EQ(L"", ManualProxyFromSetting(L""));
}

TEST(BrowserProxy, ManualProxyForEveryHost) {
    SettingsGuard guard;
    guard.Write(Settings(kDirect | kManualProxy, "proxy:8080"));
    const ClientRun run = RunClient(L"connect esx.example other");
    EXPECT_EQ(0u, run.status);
    EXPECT_EQ((std::vector<std::string>{Connected("esx.example", "proxy:8080"), Connected("other", "proxy:8080")}),
              run.results);
    EXPECT_TRUE(run.Logged("Browser proxy feature is enabled"));
    EXPECT_EQ(0u, run.LoggedStartingWith("Getting proxy for URL failed"));
}

TEST(BrowserProxy, HttpsEntryOfASchemeList) {
    SettingsGuard guard;
    guard.Write(Settings(kManualProxy, "ftp=a:21;https=b:443"));
    const ClientRun run = RunClient(L"connect esx.example");
    EXPECT_EQ(0u, run.status);
    EXPECT_EQ((std::vector<std::string>{Connected("esx.example", "b:443")}), run.results);
}

TEST(BrowserProxy, HttpsEntryWithNothingBehindItGivesNoProxy) {
    SettingsGuard guard;
    guard.Write(Settings(kManualProxy, "ftp=a:21;https="));
    const ClientRun run = RunClient(L"connect esx.example");
    EXPECT_EQ(0u, run.status);
    // An empty string, not the null of a connect without the feature.
    EXPECT_EQ((std::vector<std::string>{Connected("esx.example", "")}), run.results);
}

TEST(BrowserProxy, BypassListMatchesWholeHostNamesExactly) {
    SettingsGuard guard;
    guard.Write(Settings(kManualProxy, "p:3128", "h1;;h2;*.example"));
    const ClientRun run = RunClient(L"connect h1 H1 h2 x.example *.example h");
    EXPECT_EQ(0u, run.status);
    EXPECT_EQ((std::vector<std::string>{Connected("h1", ""), Connected("H1", "p:3128"), Connected("h2", ""),
                                        Connected("x.example", "p:3128"), Connected("*.example", ""),
                                        Connected("h", "p:3128")}),
              run.results);
}

TEST(BrowserProxy, SettingsAreReadOncePerProcess) {
    SettingsGuard guard;
    guard.Write(Settings(kManualProxy, "first:1", "h1"));
    // The client changes the settings between its connects; the second still
    // sees the first digest, bypass list included.
    const std::wstring later = Hex(Settings(kManualProxy, "second:2"));
    const ClientRun run = RunClient(L"connect a @settings=" + later + L" a h1");
    EXPECT_EQ(0u, run.status);
    EXPECT_EQ((std::vector<std::string>{Connected("a", "first:1"), Connected("a", "first:1"), Connected("h1", "")}),
              run.results);
}

TEST(BrowserProxy, AutoDetectionIgnoresTheManualProxyAndAsksWinHttp) {
    SettingsGuard guard;
    guard.Write(Settings(kManualProxy | kAutoDetect, "manual:8080"));
    const ClientRun run = RunClient(L"connect esx.example");
    EXPECT_EQ(0u, run.status);
    // Nothing is discovered in the test prefix: WinHTTP fails, and connect
    // goes on with the empty proxy.
    EXPECT_EQ((std::vector<std::string>{Connected("esx.example", "")}), run.results);
    EXPECT_TRUE(run.Logged("Getting proxy for URL failed, rc=" + std::to_string(ERROR_WINHTTP_AUTODETECTION_FAILED)))
        << ::testing::PrintToString(run.log);
}

TEST(BrowserProxy, AutoConfigurationScriptIsFetchedAndEvaluatedPerHost) {
    PacServer server(kPacScript);
    SettingsGuard guard;
    // The script's URL wins over the manual proxy and over discovery.
    guard.Write(Settings(kManualProxy | kAutoConfigUrl | kAutoDetect, "manual:8080", "", server.Url("/proxy.pac")));
    const ClientRun run = RunClient(L"connect esx.example intranet");
    EXPECT_EQ(0u, run.status);
    EXPECT_EQ((std::vector<std::string>{Connected("esx.example", "pac-proxy:3128"), Connected("intranet", "")}),
              run.results);
    EXPECT_EQ(0u, run.LoggedStartingWith("Getting proxy for URL failed"));
    const std::vector<std::string> requests = server.Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ("GET /proxy.pac HTTP/1.1", requests.front());
}

TEST(BrowserProxy, UnreadableSettingsGiveNoProxyAndAreNotReadAgain) {
    SettingsGuard guard;
    // A header with its flags but cut before the proxy's length: WinHTTP's
    // read fails (a value shorter than the header would read as defaults).
    std::vector<BYTE> cut = Settings(kManualProxy, "p:3128");
    cut.resize(12);
    guard.Write(cut);
    const std::wstring readable = Hex(Settings(kManualProxy, "p:3128"));
    const ClientRun run = RunClient(L"connect esx.example @settings=" + readable + L" esx.example");
    EXPECT_EQ(0u, run.status);
    EXPECT_EQ((std::vector<std::string>{Connected("esx.example", ""), Connected("esx.example", "")}), run.results);
    // The failed read is not reported, and WinHTTP is never asked.
    EXPECT_EQ(0u, run.LoggedStartingWith("Getting proxy for URL failed"));
    EXPECT_EQ(0u, run.LoggedStartingWith("WinHttpOpen failed"));
    EXPECT_EQ(2u, std::count(run.log.begin(), run.log.end(), "Browser proxy feature is enabled"));
}

TEST(BrowserProxy, NullHostNameResolvesForTheSchemeAloneAndIsPassedOn) {
    PacServer server(kPacScript);
    SettingsGuard guard;
    guard.Write(Settings(kAutoConfigUrl, "", "", server.Url("/proxy.pac")));
    const ClientRun run = RunClient(L"connect - esx.example");
    EXPECT_EQ(0u, run.status);
    // WinHTTP fetches the script, then refuses "https://" with no host as an
    // invalid URL: the resolution is empty and reported. The console records
    // the null host name (empty across the process boundary) and refuses it.
    EXPECT_EQ((std::vector<std::string>{"connect " + std::to_string(E_INVALIDARG) + " host 8 [] proxy 8 []",
                                        Connected("esx.example", "pac-proxy:3128")}),
              run.results);
    EXPECT_TRUE(run.Logged("Getting proxy for URL failed, rc=" + std::to_string(ERROR_WINHTTP_INVALID_URL)))
        << ::testing::PrintToString(run.log);
    EXPECT_FALSE(server.Requests().empty());
}

TEST(BrowserProxy, ConcurrentFirstResolutionsAllSeeOneDigest) {
    SettingsGuard guard;
    guard.Write(Settings(kManualProxy, "ftp=a:21;https=b:443", "h1;h3"));
    const ClientRun run = RunClient(L"threads 12 h0 h1 h2 h3");
    EXPECT_EQ(0u, run.status);
    ASSERT_EQ(12u, run.results.size());
    for (int i = 0; i < 12; ++i) {
        const std::string expected = (i % 4 == 1 || i % 4 == 3) ? "" : "b:443";
        EXPECT_EQ("thread " + std::to_string(i) + " [" + expected + "]", run.results[i]);
    }
}
