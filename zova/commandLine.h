// The console process's command line, as the control writes it:
//   "<path>" --parent-PID <n> --instance-ID "<id>" --modes <n>
//            --message-mode <n> --features <n>
// All five switches are required, each once, in any order.
#pragma once

#include <windows.h>
#include <string>

namespace zova::console {

struct ConsoleOptions {
    DWORD parentPid = 0;
    std::wstring instanceId;
    LONG modes = 0;
    LONG messageMode = 0;
    ULONG features = 0;
};

// Feature bits that the console acts on.
constexpr ULONG kFeaturePersistent = 4;
// Message mode in which messages for the user are raised as onMessage events.
constexpr LONG kEventMessages = 2;

// Parses a whole command line (program name first). On failure `error` says
// what is wrong.
bool ParseCommandLine(const wchar_t* commandLine, ConsoleOptions& out, std::wstring& error);

}  // namespace zova::console
