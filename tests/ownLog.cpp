#include "tests/ownLog.h"

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace zova::test {

std::vector<std::string> OwnLogMessages() {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring path =
        std::wstring(temp) + L"zova-plugin\\plugin-" + std::to_wstring(::GetCurrentProcessId()) + L".log";
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
