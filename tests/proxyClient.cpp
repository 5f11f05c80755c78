// proxy_client OUT MODE HOST...: a case of proxy_tests in a fresh process (the
// control reads the proxy settings once per process), writing to OUT:
//   connect: a control with the browser-proxy feature connects to each HOST ("-":
//     a null host; "@HEX": first write the bytes HEX as the proxy settings), giving
//     "connect <hr> host <vt> [<text>] proxy <vt> [<text>]" from the console's record.
//   threads: all HOSTs resolved at once, a thread each: "thread <host> [<proxy>]".
// Then "log <message>" per log message. Exit status 0 when every step could be taken.
#include <windows.h>
#include <shellapi.h>

#include <fstream>
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

using zova::ZOVAEmbeddedCtl;

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }  // ASCII here
comfw::Bstr Text(const std::wstring& text) { return comfw::Bstr::Attach(::SysAllocString(text.c_str())); }
std::string Describe(const comfw::Variant& v) {
    return std::to_string(v.vt()) + " [" + Narrow(zova::test::TextOf(v.get())) + "]";
}

bool WriteSettings(const std::wstring& hex) {
    std::vector<BYTE> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(BYTE(std::stoul(hex.substr(i, 2), nullptr, 16)));
    const wchar_t* key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
    return ::RegSetKeyValueW(HKEY_CURRENT_USER, key, L"DefaultConnectionSettings", REG_BINARY, bytes.data(),
                             DWORD(bytes.size())) == ERROR_SUCCESS;
}

bool RunConnects(const std::vector<std::wstring>& hosts, std::vector<std::string>& out) {
    comfw::ComPtr<ZOVAEmbeddedCtl> control;
    if (FAILED(ZOVAEmbeddedCtl::Make(control))) return false;
    HWND parent = zova::test::MakeHostWindow();
    RECT r{0, 0, 320, 200};
    control->CreateWindowFor(parent, &r, nullptr, 0x56000000, 0);
    comfw::Bstr id;
    HRESULT hr = control->startup(2, ZOVA_EVENT_MESSAGES, Text(L"usebrowserproxy=true").get(), id.put());
    bool ok = SUCCEEDED(hr);
    if (!ok) out.push_back("startup " + std::to_string(int(hr)));
    for (size_t i = 0; ok && i < hosts.size(); ++i) {
        if (hosts[i][0] == L'@') {
            ok = WriteSettings(hosts[i].substr(1));
            continue;
        }
        hr = control->connect(hosts[i] == L"-" ? nullptr : Text(hosts[i]).get(), nullptr, VARIANT_FALSE, nullptr,
                              Text(L"user").get(), nullptr, nullptr, nullptr, nullptr);
        comfw::Variant args;
        ok = SUCCEEDED(zova::CallConsoleInto(control->vm_control(), 1000, args.ptr()));
        const std::vector<comfw::Variant> seen = zova::test::Elements(args.get());
        ok = ok && seen.size() == 10;
        if (ok) out.push_back("connect " + std::to_string(int(hr)) + " host " + Describe(seen[0]) + " proxy " +
                              Describe(seen[9]));
    }
    control->shutdown();
    control.reset();
    ::DestroyWindow(parent);
    return ok;
}

bool RunThreads(const std::vector<std::wstring>& hosts, std::vector<std::string>& out) {
    HANDLE go = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::vector<std::wstring> answers(hosts.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < hosts.size(); ++i)
        threads.emplace_back([&, i] {
            const HRESULT init = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            ::WaitForSingleObject(go, INFINITE);
            answers[i] = zova::ResolveBrowserProxy(hosts[i]);
            if (SUCCEEDED(init)) ::CoUninitialize();
        });
    ::Sleep(100);  // every thread is waiting at the start line
    ::SetEvent(go);
    for (std::thread& t : threads) t.join();
    ::CloseHandle(go);
    for (size_t i = 0; i < hosts.size(); ++i)
        out.push_back("thread " + Narrow(hosts[i]) + " [" + Narrow(answers[i]) + "]");
    return !hosts.empty();
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (!argv || argc < 3 || FAILED(::OleInitialize(nullptr))) return 2;
    const std::vector<std::wstring> hosts(argv + 3, argv + argc);
    std::vector<std::string> out;
    const bool ok = std::wstring(argv[2]) == L"threads" ? RunThreads(hosts, out) : RunConnects(hosts, out);
    for (const std::string& message : zova::test::OwnLogMessages()) out.push_back("log " + message);
    ::OleUninitialize();

    std::ofstream file(argv[1], std::ios::binary);
    for (const std::string& line : out) file << line << '\n';
    return ok && file.flush() ? 0 : 2;
}
