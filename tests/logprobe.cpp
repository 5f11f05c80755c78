// A module that hosts the log, loaded by the logprobe program: the log opens when the module loads (before main) and
// closes when it unloads (after main), as in the control's module. The program's arguments are commands, in order:
//   log TEXT / report TEXT   a trace / an error report (write + keep) of TEXT
//   keep                     the keep mark alone
//   at SOURCE LINE N         "IEIsProtectedModeProcess failed: %d" with N, as if written from SOURCE:LINE
//   config TEXT              parses TEXT as an advanced configuration string
//   hold READY GO            sets event READY, then waits for event GO
#include "plugin-common/utils.h"
#include "pluginlog/pluginLog.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <string>

extern "C" __declspec(dllexport) int RunLogProbe(int argc, wchar_t** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::wstring cmd = argv[i];
        auto next = [&]() -> const wchar_t* { return i + 1 < argc ? argv[++i] : L""; };
        auto narrow = [](const wchar_t* s) { return std::string(s, s + wcslen(s)); };  // ASCII only
        if (cmd == L"log") {
            ZOVA_LOG("%s", narrow(next()).c_str());
        } else if (cmd == L"report") {
            ZOVA_REPORT("%s", narrow(next()).c_str());
        } else if (cmd == L"keep") {
            PluginLogKeep();
        } else if (cmd == L"at") {
            const std::string source = narrow(next());
            const int line = _wtoi(next());
            PluginLogWrite(source.c_str(), line, "IEIsProtectedModeProcess failed: %d", _wtoi(next()));
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
    return 0;
}
