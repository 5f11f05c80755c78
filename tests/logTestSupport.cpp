#include "tests/logTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace zova::test {

namespace {

std::wstring ModuleDir() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s(path, n);
    return s.substr(0, s.find_last_of(L'\\') + 1);
}

std::wstring RealTemp() {
    wchar_t path[MAX_PATH];
    DWORD n = GetTempPathW(MAX_PATH, path);
    return std::wstring(path, n);
}

// The caller's environment with TMP and TEMP replaced.
std::vector<wchar_t> EnvironmentWithTemp(const std::wstring& tmp) {
    std::vector<wchar_t> block;
    wchar_t* env = GetEnvironmentStringsW();
    for (const wchar_t* p = env; *p; p += wcslen(p) + 1) {
        if (_wcsnicmp(p, L"TMP=", 4) == 0 || _wcsnicmp(p, L"TEMP=", 5) == 0)
            continue;
        block.insert(block.end(), p, p + wcslen(p) + 1);
    }
    FreeEnvironmentStringsW(env);
    for (const std::wstring& var : {L"TMP=" + tmp, L"TEMP=" + tmp})
        block.insert(block.end(), var.c_str(), var.c_str() + var.size() + 1);
    block.push_back(L'\0');
    return block;
}

std::wstring Quote(const std::wstring& arg) {
    std::wstring out = L"\"";
    for (wchar_t c : arg) {
        if (c == L'"')
            out += L'\\';
        out += c;
    }
    return out + L"\"";
}

// Reads the text of an OUTPUT_DEBUG_STRING_EVENT from the debuggee.
std::string ReadDebugString(HANDLE process, const OUTPUT_DEBUG_STRING_INFO& info) {
    const size_t chars = info.nDebugStringLength;
    const size_t unit = info.fUnicode ? sizeof(wchar_t) : 1;
    std::vector<char> raw(chars * unit);
    SIZE_T got = 0;
    if (!ReadProcessMemory(process, info.lpDebugStringData, raw.data(), raw.size(), &got))
        return "<unreadable>";
    std::string text;
    if (info.fUnicode) {
        const wchar_t* w = reinterpret_cast<const wchar_t*>(raw.data());
        for (size_t i = 0; i < got / 2 && w[i]; ++i)
            text += static_cast<char>(w[i] < 0x100 ? w[i] : '?');
    } else {
        for (size_t i = 0; i < got && raw[i]; ++i)
            text += raw[i];
    }
    return text;
}

}  // namespace

ScratchTemp::ScratchTemp() {
    static int counter = 0;
    path_ = RealTemp() + L"zova-logtest-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(++counter) + L"\\";
    std::filesystem::remove_all(path_);
    CreateDirectoryW(path_.c_str(), nullptr);
}

ScratchTemp::~ScratchTemp() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::wstring ScratchTemp::LogFile(DWORD pid, const wchar_t* suffix) const {
    return LogDir() + L"\\plugin-" + std::to_wstring(pid) + suffix + L".log";
}

std::wstring ProbePath() { return ModuleDir() + L"logprobe.exe"; }

ProbeResult RunProbe(const std::vector<std::wstring>& args, const ProbeOptions& options) {
    ProbeResult result;
    static int counter = 0;
    const std::wstring tag = L"zova-logtest-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                             std::to_wstring(++counter);
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, (tag + L"-ready").c_str());
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, (tag + L"-release").c_str());

    const std::wstring program = options.program.empty() ? ProbePath() : options.program;
    std::wstring command = Quote(program);
    for (const std::wstring& arg : args) {
        command += L" " + Quote(arg);
        if (arg == L"hold")
            command += L" " + Quote(tag + L"-ready") + L" " + Quote(tag + L"-release");
    }

    std::vector<wchar_t> env = EnvironmentWithTemp(options.tmp);
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    DWORD flags = CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED;
    if (options.debug)
        flags |= DEBUG_ONLY_THIS_PROCESS;
    if (!CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE, flags, env.data(), nullptr,
                        &si, &pi)) {
        ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
        CloseHandle(ready);
        CloseHandle(release);
        return result;
    }
    result.started = true;
    result.pid = pi.dwProcessId;
    if (options.beforeStart)
        options.beforeStart(pi.dwProcessId);
    ResumeThread(pi.hThread);

    bool heldDone = false;
    const ULONGLONG deadline = GetTickCount64() + 60000;
    for (;;) {
        if (options.debug) {
            DEBUG_EVENT ev;
            if (WaitForDebugEvent(&ev, 50)) {
                DWORD status = DBG_CONTINUE;
                if (ev.dwDebugEventCode == OUTPUT_DEBUG_STRING_EVENT)
                    result.debugOutput.push_back(ReadDebugString(pi.hProcess, ev.u.DebugString));
                else if (ev.dwDebugEventCode == EXCEPTION_DEBUG_EVENT &&
                         ev.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
                    status = DBG_EXCEPTION_NOT_HANDLED;
                else if (ev.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT)
                    CloseHandle(ev.u.CreateProcessInfo.hFile);
                else if (ev.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT)
                    CloseHandle(ev.u.LoadDll.hFile);
                const bool exited = ev.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT &&
                                    ev.dwProcessId == pi.dwProcessId;
                ContinueDebugEvent(ev.dwProcessId, ev.dwThreadId, status);
                if (exited) {
                    WaitForSingleObject(pi.hProcess, 10000);
                    break;
                }
            }
        } else if (WaitForSingleObject(pi.hProcess, 50) == WAIT_OBJECT_0) {
            break;
        }
        if (!heldDone && WaitForSingleObject(ready, 0) == WAIT_OBJECT_0) {
            heldDone = true;
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
    result.finished = GetExitCodeProcess(pi.hProcess, &result.exitCode) && result.exitCode != 99;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    CloseHandle(ready);
    CloseHandle(release);
    return result;
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadFileBytes(const std::wstring& path) {
    // The log's own process keeps the file open for writing: share writes.
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return std::string();
    std::string data;
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0)
        data.append(buf, got);
    CloseHandle(h);
    return data;
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

std::string Narrow(const std::wstring& ascii) {
    std::string s;
    for (wchar_t c : ascii)
        s += static_cast<char>(c);
    return s;
}

std::string MessageOf(const std::string& line) {
    const size_t pos = line.find("]: ");
    return pos == std::string::npos ? line : line.substr(pos + 3);
}

}  // namespace zova::test
