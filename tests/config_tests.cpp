// The advanced configuration parser's flags and exact log lines, read from our own log (which keep the log: log_tests).
#include "plugin-common/utils.h"
#include "pluginlog/pluginLogFile.h"
#include "tests/logTestSupport.h"

#include <gtest/gtest.h>

using namespace zova::test;
using Messages = std::vector<std::string>;

namespace {

struct Parsed {
    uint32_t flags;
    Messages messages;
};

Parsed Parse(const std::wstring& config) {
    const std::wstring path = PluginLogFilePath();
    const size_t before = ReadFileBytes(path).size();
    Parsed parsed{zova::ParseAdvancedConfig(config), {}};
    for (const std::string& line : SplitCrLfLines(ReadFileBytes(path).substr(before)))
        parsed.messages.push_back(MessageOf(line));
    return parsed;
}

std::string Final(int flags) { return "Advanced config parsed into the features: " + std::to_string(flags); }
std::string Bad(int n) { return "Bad name-value pair specified as option #" + std::to_string(n); }
std::string Unknown(int n) { return "Unknown feature specified as option #" + std::to_string(n); }

}  // namespace

// The rows pin the exact lines (empty: only the final one); fuzz/configFuzz.cpp checks flags of random option lists.
TEST(ConfigParser, FlagsAndLogLines) {
    struct Case { const wchar_t* config; uint32_t flags; Messages messages; };
    const Case cases[] = {
        // Empty or blank: no features, and no empty option either.
        {L"", 0, {}}, {L" \t\r\n ", 0, {}},
        {L"persistent=true;tunnelmks=true;usebrowserproxy=true;autoanswerquestions=true;cacheconnections=true", 31, {}},
        // White space around options, names and values is ignored; inside them it is part of them.
        {L"  persistent  =  true ;tunnelmks=true ", 6, {}}, {L"persis tent=true;tunnelmks=tr ue", 0, {Unknown(0)}},
        // Empty options at separators, also blank ones, are malformed pairs.
        {L";", 0, {Bad(0), Bad(1)}}, {L"persistent=true;", 4, {Bad(1)}},
        {L";tunnelmks=true;;persistent=true", 6, {Bad(0), Bad(2)}},
        {L"tunnelmks=true;   ;persistent=true", 6, {Bad(1)}},
        // An option without or with two equals signs is skipped.
        {L"usebrowserproxy", 0, {Bad(0)}},
        {L"tunnelmks=true;persistent=true=true;usebrowserproxy==true", 2, {Bad(1), Bad(2)}},
        // Names are case-sensitive and must be known; the other options still count.
        {L"Persistent=true", 0, {Unknown(0)}}, {L"persist=true;persistent=true;=true", 4, {Unknown(0), Unknown(2)}},
        // A value other than true sets no bit (fuzz/configFuzz.cpp), is silent and never clears a set bit.
        {L"persistent=true;persistent=false", 4, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.config));
        Parsed p = Parse(c.config);
        EXPECT_EQ(c.flags, p.flags);
        Messages expected = c.messages;
        expected.push_back(Final(static_cast<int>(c.flags)));
        EXPECT_EQ(expected, p.messages);
    }
}
