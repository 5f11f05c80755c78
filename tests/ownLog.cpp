#include "tests/ownLog.h"

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace zova::test {

namespace {

// This process's log file. Process ids are reused, and the log of an earlier
// process with the same id may have been kept: then the log took the next
// free suffix ("plugin-<pid>-<n>.log"). The one this process writes is the
// one that it holds open for writing, which refuses a reader that denies
// writers.
std::wstring OwnLogPath() {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring base = std::wstring(temp) + L"zova-plugin\\plugin-" + std::to_wstring(::GetCurrentProcessId());
    for (int n = 0; n < 100; ++n) {
        const std::wstring path = n == 0 ? base + L".log" : base + L"-" + std::to_wstring(n) + L".log";
        HANDLE probe = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (probe != INVALID_HANDLE_VALUE) {
            ::CloseHandle(probe);  // an earlier process's kept log
            continue;
        }
        if (::GetLastError() == ERROR_SHARING_VIOLATION) return path;
        if (::GetLastError() == ERROR_FILE_NOT_FOUND) break;
    }
    return base + L".log";
}

}  // namespace

std::vector<std::string> OwnLogMessages() {
    const std::wstring path = OwnLogPath();
    std::vector<std::string> messages;
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return messages;
    std::string text;
    char buffer[8192];
    DWORD read = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) text.append(buffer, read);
    ::CloseHandle(file);
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t at = line.find("]: ");
        if (at != std::string::npos) messages.push_back(line.substr(at + 3));
    }
    return messages;
}

LogMark::LogMark() : start_(OwnLogMessages().size()) {}

std::vector<std::string> LogMark::NewMessages() const {
    std::vector<std::string> all = OwnLogMessages();
    return std::vector<std::string>(all.begin() + std::min(start_, all.size()), all.end());
}

bool LogMark::Saw(const std::string& message) const {
    const std::vector<std::string> seen = NewMessages();
    return std::find(seen.begin(), seen.end(), message) != seen.end();
}

}  // namespace zova::test
