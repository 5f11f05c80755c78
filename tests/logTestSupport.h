// The log's test support: a scratch TEMP folder, the probe program run with it (maybe under a debugger), file reading.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/programFolder.h"

namespace zova::test {

// A fresh folder in the real temporary folder, removed with its content; Path() ends in a backslash, as GetTempPathW's.
class ScratchTemp {
public:
    ScratchTemp();
    ~ScratchTemp();
    ScratchTemp(const ScratchTemp&) = delete;
    ScratchTemp& operator=(const ScratchTemp&) = delete;
    const std::wstring& Path() const { return path_; }
    std::wstring LogDir() const { return path_ + L"zova-plugin"; }
    std::wstring LogFile(DWORD pid, const wchar_t* suffix = L"") const {
        return LogDir() + L"\\plugin-" + std::to_wstring(pid) + suffix + L".log";
    }

private:
    std::wstring path_;
};

struct ProbeOptions {
    std::wstring tmp;                            // TMP and TEMP of the probe
    bool debug = false;                          // run it under the debugger loop
    std::function<void(DWORD pid)> beforeStart;  // runs while the probe is still suspended
    std::function<void(DWORD pid)> whileHeld;    // runs while the probe waits at "hold"
    std::wstring program;                        // another copy of the probe; default ProbePath()
};

struct ProbeResult {
    bool finished = false;  // ran every command and exited with 0
    DWORD pid = 0;
    std::vector<std::string> debugOutput;  // one entry per debugger-output call
};

// Runs logprobe.exe (next to the test program) with the given arguments. The argument "hold" is expanded with the
// names of the two events the probe waits on; whileHeld then runs while the probe is stopped there.
ProbeResult RunProbe(const std::vector<std::wstring>& args, const ProbeOptions& options);
std::wstring ProbePath();  // as the log's header names it

bool FileExists(const std::wstring& path);
std::string ReadFileBytes(const std::wstring& path);  // empty if unreadable
// Splits at "\r\n"; a final piece without one is returned as well.
std::vector<std::string> SplitCrLfLines(const std::string& text);
std::string Narrow(const std::wstring& ascii);
// The part of a message line after "]: ", or the whole line if it has none.
std::string MessageOf(const std::string& line);

}  // namespace zova::test
