// proxy_client: a fresh process for one proxy resolution case. The control
// reads the user's proxy settings once per module load, so each case of
// proxy_tests runs here in a process of its own. It writes what it saw to a
// file (UTF-8, one item a line):
//
//   proxy_client OUT connect HOST...   starts a control with the browser-proxy
//       feature and connects once per HOST ("-" is a null host name;
//       "@settings=HEX" rewrites the user's proxy settings before the next
//       connect). Per connect: "connect <hr> host <vt> [<text>] proxy <vt> [<text>]"
//       from the console's record of the call (test hook 1000).
//   proxy_client OUT threads N HOST... resolves on N threads at once, each
//       with its own apartment, the i-th thread the host i modulo their count.
//       Per thread: "thread <i> [<answer>]".
//
// Then every line of this process's log: "log <message>". Exit status 0 when
// all steps could be taken, 2 otherwise.
#include <windows.h>
#include <objbase.h>
#include <ole2.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "axplugin/browserProxy.h"
#include "axplugin/zovaEmbeddedCtl.h"
#include "comfw/bstr.h"
#include "tests/consoleTestSupport.h"
#include "tests/ownLog.h"
#include "win32/plugin/consoleCall.h"

namespace {

using comfw::Bstr;
using comfw::ComPtr;
using zova::ZOVAEmbeddedCtl;

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                        nullptr);
    std::string out(n, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::string Describe(const VARIANT& v) {
    std::string out = std::to_string(v.vt);
    if (v.vt == VT_BSTR) out += " [" + Utf8(zova::test::TextOf(v)) + "]";
    return out;
}

bool WriteSettings(const std::wstring& hex) {
    std::vector<BYTE> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<BYTE>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections",
                          0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const LONG rc = ::RegSetValueExW(key, L"DefaultConnectionSettings", 0, REG_BINARY, bytes.data(),
                                     static_cast<DWORD>(bytes.size()));
    ::RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

bool RunConnects(const std::vector<std::wstring>& hosts, std::vector<std::string>& out) {
    ComPtr<ZOVAEmbeddedCtl> control;
    if (FAILED(ZOVAEmbeddedCtl::Make(control))) return false;
    HWND parent = ::CreateWindowExW(0, L"STATIC", L"proxy client", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, 400,
                                    300, nullptr, nullptr, nullptr, nullptr);
    RECT r{0, 0, 320, 200};
    control->CreateWindowFor(parent, &r, nullptr, 0x56000000, 0);
    Bstr config, id;
    Bstr::FromText(L"usebrowserproxy=true", config);
    HRESULT hr = control->startup(2, ZOVA_EVENT_MESSAGES, config.get(), id.put());
    out.push_back("startup " + std::to_string(static_cast<int>(hr)));
    bool ok = SUCCEEDED(hr);
    for (const std::wstring& host : hosts) {
        if (!ok) break;
        if (host.rfind(L"@settings=", 0) == 0) {
            ok = WriteSettings(host.substr(10));
            continue;
        }
        Bstr name;
        if (host != L"-") Bstr::FromText(host.c_str(), name);
        Bstr user;
        Bstr::FromText(L"user", user);
        hr = control->connect(name.get(), nullptr, VARIANT_FALSE, nullptr, user.get(), nullptr, nullptr, nullptr,
                              nullptr);
        comfw::Variant args;
        if (FAILED(zova::CallConsoleInto(control->vm_control(), 1000, args.ptr()))) {
            ok = false;
            break;
        }
        const std::vector<comfw::Variant> seen = zova::test::Elements(args.get());
        if (seen.size() != 10) {
            out.push_back("connect " + std::to_string(static_cast<int>(hr)) + " not recorded");
            continue;
        }
        out.push_back("connect " + std::to_string(static_cast<int>(hr)) + " host " + Describe(seen[0].get()) +
                      " proxy " + Describe(seen[9].get()));
    }
    control->shutdown();
    control.reset();
    ::DestroyWindow(parent);
    return ok;
}

bool RunThreads(int count, const std::vector<std::wstring>& hosts, std::vector<std::string>& out) {
    if (count <= 0 || hosts.empty()) return false;
    HANDLE go = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::vector<std::wstring> answers(count);
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i) {
        threads.emplace_back([&, i] {
            const HRESULT init = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            ::WaitForSingleObject(go, INFINITE);
            answers[i] = zova::ResolveBrowserProxy(hosts[i % hosts.size()]);
            if (SUCCEEDED(init)) ::CoUninitialize();
        });
    }
    ::Sleep(100);  // every thread is waiting at the start line
    ::SetEvent(go);
    for (std::thread& t : threads) t.join();
    ::CloseHandle(go);
    for (int i = 0; i < count; ++i) out.push_back("thread " + std::to_string(i) + " [" + Utf8(answers[i]) + "]");
    return true;
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (!argv || argc < 3) return 2;
    if (FAILED(::OleInitialize(nullptr))) return 2;
    const std::wstring outPath = argv[1], mode = argv[2];
    std::vector<std::string> out;
    bool ok = false;
    if (mode == L"connect") {
        ok = RunConnects(std::vector<std::wstring>(argv + 3, argv + argc), out);
    } else if (mode == L"threads" && argc >= 5) {
        ok = RunThreads(_wtoi(argv[3]), std::vector<std::wstring>(argv + 4, argv + argc), out);
    }
    for (const std::string& message : zova::test::OwnLogMessages()) out.push_back("log " + message);
    ::OleUninitialize();

    FILE* file = _wfopen(outPath.c_str(), L"wb");
    if (!file) return 2;
    for (const std::string& line : out) std::fprintf(file, "%s\n", line.c_str());
    std::fclose(file);
    return ok ? 0 : 2;
}
