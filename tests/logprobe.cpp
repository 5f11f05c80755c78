// A host process for the log: the log opens before main and closes after it,
// exactly as in a module that links it. The arguments are commands, run in
// order:
//   log TEXT          a trace with TEXT as its message
//   report TEXT       an error report (write + keep)
//   keep              the keep mark alone
//   at SOURCE LINE N  "IEIsProtectedModeProcess failed: %d" with N, as if
//                     written from SOURCE:LINE
//   wide TEXT         "Binding to [%S]" with TEXT as a wide string
//   formats           a pointer, a negative number and an unsigned one
//   long N            a message of N characters 'x'
//   config TEXT       parses TEXT as an advanced configuration string
//   hold READY GO     sets event READY, then waits for event GO
#include "plugin-common/utils.h"
#include "pluginlog/pluginLog.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <string>

namespace {

std::string Narrow(const wchar_t* s) {
    std::string out;
    for (; *s; ++s)
        out += static_cast<char>(*s);
    return out;
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 1; i < argc; ++i) {
        const std::wstring cmd = argv[i];
        auto next = [&]() -> const wchar_t* { return i + 1 < argc ? argv[++i] : L""; };
        if (cmd == L"log") {
            ZOVA_LOG("%s", Narrow(next()).c_str());
        } else if (cmd == L"report") {
            ZOVA_REPORT("%s", Narrow(next()).c_str());
        } else if (cmd == L"keep") {
            PluginLogKeep();
        } else if (cmd == L"at") {
            const std::string source = Narrow(next());
            const int line = _wtoi(next());
            PluginLogWrite(source.c_str(), line, "IEIsProtectedModeProcess failed: %d", _wtoi(next()));
        } else if (cmd == L"wide") {
            ZOVA_LOG("Binding to [%S]", next());
        } else if (cmd == L"formats") {
            ZOVA_LOG("p=%p d=%d u=%u", reinterpret_cast<void*>(0x1234abcdULL), -5, 4000000000u);
        } else if (cmd == L"long") {
            ZOVA_LOG("%s", std::string(_wtoi(next()), 'x').c_str());
        } else if (cmd == L"config") {
            zova::ParseAdvancedConfig(next());
        } else if (cmd == L"hold") {
            HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, next());
            HANDLE go = OpenEventW(SYNCHRONIZE, FALSE, next());
            if (!ready || !go)
                return 2;
            SetEvent(ready);
            WaitForSingleObject(go, 60000);
        } else {
            return 3;
        }
    }
    LocalFree(argv);
    return 0;
}
