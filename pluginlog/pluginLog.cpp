// The module-wide log object: opened by the module's static initialisation,
// closed (and its file deleted unless kept) by its static termination.
#include "pluginlog/pluginLog.h"

#include "pluginlog/logLine.h"
#include "pluginlog/pluginLogFile.h"

#include <windows.h>
#include <share.h>
#include <shlwapi.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <string>

namespace {

// Sends one of the log's own failures to the debugger: the text, then "\n"
// as a second call.
void DebugOutput(const std::wstring& text) {
    OutputDebugStringW(text.c_str());
    OutputDebugStringW(L"\n");
}

void DebugFailure(const wchar_t* what, unsigned long code) {
    DebugOutput(what + std::to_wstring(code));
}

void DebugFailureErrno(const wchar_t* what, int error) {
    DebugOutput(what + std::to_wstring(error));
}

// A file of the same name can only be left by an earlier process with the
// same id (or another module of this process that links the log); it was
// kept on purpose, so it is never truncated: the next free suffix is taken.
std::wstring ChooseFilePath(const std::wstring& directory, DWORD pid) {
    const std::wstring base = directory + L"\\plugin-" + std::to_wstring(pid);
    for (int n = 0; n < 100; ++n) {
        std::wstring path = n == 0 ? base + L".log" : base + L"-" + std::to_wstring(n) + L".log";
        if (!PathFileExistsW(path.c_str()))
            return path;
    }
    return std::wstring();
}

class PluginLog {
public:
    PluginLog() noexcept { Open(); }
    ~PluginLog() { Close(); }
    PluginLog(const PluginLog&) = delete;
    PluginLog& operator=(const PluginLog&) = delete;

    void Keep() noexcept { keep_ = true; }
    bool Kept() const noexcept { return keep_; }
    void ClearKeep() noexcept { keep_ = false; }
    const std::wstring& FilePath() const noexcept { return filePath_; }

    void WriteLine(const char* source, int line, const char* format, va_list args) noexcept {
        try {
            SYSTEMTIME now;
            GetLocalTime(&now);
            const std::string text = zova::log::FormatLine(now, source, line, format, args);
            if (stream_) {
                // One fputs per line: the stream's own lock keeps it whole.
                if (fputs(text.c_str(), stream_) < 0)
                    DebugFailureErrno(L"fputs failed: ", errno);
                fflush(stream_);
            }
            // The line already ends in "\n": no second call here.
            OutputDebugStringW(zova::log::WidenBytes(text).c_str());
        } catch (...) {
            // Out of memory while building the line: the line is lost, the
            // caller goes on.
        }
    }

private:
    void Open() noexcept {
        try {
            wchar_t temp[MAX_PATH];
            const DWORD length = GetTempPathW(MAX_PATH, temp);
            if (length == 0 || length > MAX_PATH) {
                // Nothing sound to build a path from: debugger-only mode.
                DebugFailure(L"GetTempPath failed: ", length == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER);
                return;
            }
            directoryPath_ = std::wstring(temp, length) + L"zova-plugin";
            if (!PathIsDirectoryW(directoryPath_.c_str()) &&
                !CreateDirectoryW(directoryPath_.c_str(), nullptr))
                DebugFailure(L"CreateDirectory failed: ", GetLastError());

            const std::wstring path = ChooseFilePath(directoryPath_, GetCurrentProcessId());
            if (path.empty()) {
                DebugOutput(L"No free log file name in " + directoryPath_);
                return;
            }
            filePath_ = path;
            // Others may read the file while it is open, but not write it.
            stream_ = _wfsopen(filePath_.c_str(), L"wt", _SH_DENYWR);
            if (!stream_) {
                DebugOutput(L"Failed to open file " + filePath_ + L": " + std::to_wstring(errno));
                return;
            }
            WriteHeader();
        } catch (...) {
        }
    }

    void WriteHeader() {
        wchar_t path[MAX_PATH];
        if (GetModuleFileNameW(nullptr, path, MAX_PATH) == 0)
            DebugFailure(L"GetModuleFileName failed: ", GetLastError());
        else
            WriteHeaderLine(L"Executable: %s\n", path);

        HMODULE self = nullptr;
        if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                    GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                reinterpret_cast<LPCWSTR>(&PluginLogWrite), &self))
            DebugFailure(L"GetModuleHandleEx failed: ", GetLastError());
        else if (GetModuleFileNameW(self, path, MAX_PATH) == 0)
            DebugFailure(L"GetModuleFileName failed: ", GetLastError());
        else
            WriteHeaderLine(L"DLL: %s\n", path);

        fputs("\n", stream_);
        fflush(stream_);
    }

    // The header goes through the runtime's wide formatted write, which turns
    // the wide path into narrow text on this text-mode stream. mingw's own
    // fwprintf (the default in C++ builds) takes "%s" as a narrow string, so
    // the Microsoft runtime's is called by name: there "%s" is wide.
    void WriteHeaderLine(const wchar_t* format, const wchar_t* path) {
        const long before = ftell(stream_);
        if (__ms_fwprintf(stream_, format, path) < 0) {
            DebugFailureErrno(L"fwprintf failed: ", errno);
            // A character the conversion cannot express stops the write
            // midway; end that partial line so the next one starts clean.
            if (ftell(stream_) != before)
                fputs("\n", stream_);
        }
    }

    void Close() noexcept {
        if (!stream_)
            return;
        fclose(stream_);
        stream_ = nullptr;
        const std::wstring marker = directoryPath_ + L"\\.keeplog";
        if (keep_ || PathFileExistsW(marker.c_str()))
            return;
        if (!DeleteFileW(filePath_.c_str()))
            DebugOutput(L"Failed to delete file " + filePath_ + L": " + std::to_wstring(GetLastError()));
    }

    bool keep_ = false;
    FILE* stream_ = nullptr;
    std::wstring filePath_;
    std::wstring directoryPath_;
};

// Constructed before, and destroyed after, the module's other static objects,
// so that their constructors and destructors can log too.
PluginLog g_log __attribute__((init_priority(101)));

}  // namespace

extern "C" void PluginLogWrite(const char* sourceFile, int sourceLine, const char* format, ...) {
    va_list args;
    va_start(args, format);
    g_log.WriteLine(sourceFile, sourceLine, format, args);
    va_end(args);
}

extern "C" int PluginLogKeepMarked(void) { return g_log.Kept() ? 1 : 0; }
extern "C" void PluginLogClearKeepForTesting(void) { g_log.ClearKeep(); }

extern "C" void PluginLogKeep(void) {
    g_log.Keep();
}

const wchar_t* PluginLogFilePath() {
    return g_log.FilePath().c_str();
}
