#include "tests/ownLog.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "pluginlog/pluginLogFile.h"

namespace zova::test {

// The messages (text after "]: ") of this process's log file, in order.
static std::vector<std::string> OwnLogMessages() {
    // The runtime reads with write sharing: the log holds its file open for writing.
    std::ifstream file(std::filesystem::path(PluginLogFilePath()), std::ios::binary);
    std::vector<std::string> messages;
    for (std::string line; std::getline(file, line);) {
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
