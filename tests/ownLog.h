// Reads back the lines that this test process has written to its own log.
#pragma once

#include <string>
#include <vector>

namespace zova::test {

// Marks the current end of the log: messages after the mark are "new".
class LogMark {
public:
    LogMark();
    std::vector<std::string> NewMessages() const;
    bool Saw(const std::string& message) const;

private:
    size_t start_;
};

}  // namespace zova::test
