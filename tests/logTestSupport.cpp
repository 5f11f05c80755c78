#include "tests/logTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

namespace zova::test {

namespace {

std::wstring UniqueName() {
    static int counter = 0;
    return L"zova-logtest-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
}

// The caller's environment with TMP and TEMP replaced.
std::vector<wchar_t> EnvironmentWithTemp(const std::wstring& tmp) {
    std::vector<wchar_t> block;
    wchar_t* env = GetEnvironmentStringsW();
    for (const wchar_t* p = env; *p; p += wcslen(p) + 1) {
        if (_wcsnicmp(p, L"TMP=", 4) != 0 && _wcsnicmp(p, L"TEMP=", 5) != 0)
            block.insert(block.end(), p, p + wcslen(p) + 1);
    }
    FreeEnvironmentStringsW(env);
    for (const std::wstring& var : {L"TMP=" + tmp, L"TEMP=" + tmp})
        block.insert(block.end(), var.c_str(), var.c_str() + var.size() + 1);
    block.push_back(L'\0');
    return block;
}

// One debug event: collects debugger output (narrow text, as WaitForDebugEvent always gives it), closes the handles
// it brings, passes exceptions on. True when the probe itself has exited.
bool HandleDebugEvent(const PROCESS_INFORMATION& pi, ProbeResult& result) {
    DEBUG_EVENT ev;
    if (!WaitForDebugEvent(&ev, 50))
        return false;
    DWORD status = DBG_CONTINUE;
    if (ev.dwDebugEventCode == OUTPUT_DEBUG_STRING_EVENT) {
        std::string text(ev.u.DebugString.nDebugStringLength, '\0');
        SIZE_T got = 0;
        ReadProcessMemory(pi.hProcess, ev.u.DebugString.lpDebugStringData, &text[0], text.size(), &got);
        result.debugOutput.push_back(text.substr(0, strnlen(text.c_str(), got)));
    } else if (ev.dwDebugEventCode == EXCEPTION_DEBUG_EVENT &&
             ev.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
        status = DBG_EXCEPTION_NOT_HANDLED;
    else if (ev.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT)
        CloseHandle(ev.u.CreateProcessInfo.hFile);
    else if (ev.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT)
        CloseHandle(ev.u.LoadDll.hFile);
    const bool exited = ev.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT && ev.dwProcessId == pi.dwProcessId;
    ContinueDebugEvent(ev.dwProcessId, ev.dwThreadId, status);
    if (exited)
        WaitForSingleObject(pi.hProcess, 10000);
    return exited;
}

}  // namespace

ScratchTemp::ScratchTemp() : path_((std::filesystem::temp_directory_path() / UniqueName()).wstring() + L"\\") {
    std::filesystem::remove_all(path_);
    std::filesystem::create_directory(path_);
}

ScratchTemp::~ScratchTemp() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::wstring ProbePath() { return ProgramFolder() + L"logprobe.exe"; }

ProbeResult RunProbe(const std::vector<std::wstring>& args, const ProbeOptions& options) {
    ProbeResult result;
    const std::wstring tag = UniqueName();
    const std::wstring program = options.program.empty() ? ProbePath() : options.program;
    std::wstring command = L"\"" + program + L"\"";
    for (const std::wstring& arg : args)  // no argument holds a quote or ends in a backslash
        command += L" \"" + (arg == L"hold" ? arg + L"\" \"" + tag + L"-ready\" \"" + tag + L"-release" : arg) + L"\"";

    std::vector<wchar_t> env = EnvironmentWithTemp(options.tmp);
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    const DWORD flags = CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED | (options.debug ? DEBUG_ONLY_THIS_PROCESS : 0);
    if (!CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE, flags, env.data(), nullptr, &si, &pi)) {
        ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
        return result;
    }
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, (tag + L"-ready").c_str());  // before the probe runs
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, (tag + L"-release").c_str());
    result.pid = pi.dwProcessId;
    if (options.beforeStart)
        options.beforeStart(pi.dwProcessId);
    ResumeThread(pi.hThread);

    bool held = false;
    for (const ULONGLONG deadline = GetTickCount64() + 60000;;) {
        if (options.debug ? HandleDebugEvent(pi, result) : WaitForSingleObject(pi.hProcess, 50) == WAIT_OBJECT_0)
            break;
        if (!held && WaitForSingleObject(ready, 0) == WAIT_OBJECT_0) {
            held = true;
            if (options.whileHeld)
                options.whileHeld(pi.dwProcessId);
            SetEvent(release);
        }
        if (GetTickCount64() > deadline) {
            ADD_FAILURE() << "the probe did not finish";
            TerminateProcess(pi.hProcess, 99);
            WaitForSingleObject(pi.hProcess, 10000);
            break;
        }
    }
    DWORD exitCode = 99;  // the probe exits with 0 once every command ran, "hold" included
    result.finished = GetExitCodeProcess(pi.hProcess, &exitCode) && exitCode == 0;
    for (HANDLE h : {pi.hThread, pi.hProcess, ready, release})
        CloseHandle(h);
    return result;
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ReadFileBytes(const std::wstring& path) {
    // The runtime opens for reading with write sharing: the log's own process may still hold the file for writing.
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> SplitCrLfLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t pos; (pos = text.find("\r\n", start)) != std::string::npos; start = pos + 2)
        lines.push_back(text.substr(start, pos - start));
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

std::string Narrow(const std::wstring& ascii) { return std::string(ascii.begin(), ascii.end()); }

std::string MessageOf(const std::string& line) {
    const size_t pos = line.find("]: ");
    return pos == std::string::npos ? line : line.substr(pos + 3);
}

}  // namespace zova::test
