// The advanced configuration parser: the flags it returns and the exact log
// lines it leaves, read back from this test program's own log file.
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

// Parses and returns the flags with the messages the parse added to the log.
Parsed Parse(const std::wstring& config) {
    const std::wstring path = PluginLogFilePath();
    const size_t before = ReadFileBytes(path).size();
    Parsed parsed{zova::ParseAdvancedConfig(config), {}};
    for (const std::string& line : SplitCrLfLines(ReadFileBytes(path).substr(before))) {
        EXPECT_NE(std::string::npos, line.find("utils.cpp:")) << line;
        parsed.messages.push_back(MessageOf(line));
    }
    return parsed;
}

std::string Final(int flags) { return "Advanced config parsed into the features: " + std::to_string(flags); }
std::string Bad(int n) { return "Bad name-value pair specified as option #" + std::to_string(n); }
std::string Unknown(int n) { return "Unknown feature specified as option #" + std::to_string(n); }

}  // namespace

TEST(ConfigParser, LogsToAFile) {
    ASSERT_NE(L'\0', PluginLogFilePath()[0]) << "these tests read the log file back";
}

TEST(ConfigParser, EmptyOrBlankStringGivesNoFeaturesAndOnlyTheFinalLine) {
    for (const wchar_t* config : {L"", L"   ", L" \t\r\n "}) {
        Parsed p = Parse(config);
        EXPECT_EQ(0u, p.flags);
        EXPECT_EQ(Messages{Final(0)}, p.messages);
    }
}

TEST(ConfigParser, EachFeatureNameSetsItsOwnBit) {
    EXPECT_EQ(1u, Parse(L"usebrowserproxy=true").flags);
    EXPECT_EQ(2u, Parse(L"tunnelmks=true").flags);
    EXPECT_EQ(4u, Parse(L"persistent=true").flags);
    EXPECT_EQ(8u, Parse(L"autoanswerquestions=true").flags);
    EXPECT_EQ(16u, Parse(L"cacheconnections=true").flags);

    Parsed p = Parse(L"cacheconnections=true;autoanswerquestions=true;usebrowserproxy=true");
    EXPECT_EQ(25u, p.flags);
    EXPECT_EQ(Messages{Final(25)}, p.messages);
    EXPECT_EQ(31u, Parse(L"persistent=true;tunnelmks=true;usebrowserproxy=true;"
                         L"autoanswerquestions=true;cacheconnections=true").flags);
}

TEST(ConfigParser, WhiteSpaceAroundOptionsNamesAndValuesIsIgnored) {
    Parsed p = Parse(L"  persistent  =  true ;tunnelmks=true ");
    EXPECT_EQ(6u, p.flags);
    EXPECT_EQ(Messages{Final(6)}, p.messages);
    EXPECT_EQ(1u, Parse(L"\tusebrowserproxy\t=\ttrue\r\n").flags);
    // Inside a name or a value white space is part of it.
    Parsed inner = Parse(L"persis tent=true;tunnelmks=tr ue");
    EXPECT_EQ(0u, inner.flags);
    EXPECT_EQ((Messages{Unknown(0), Final(0)}), inner.messages);
}

TEST(ConfigParser, EmptyOptionsAtSeparatorsAreMalformedPairs) {
    Parsed single = Parse(L";");
    EXPECT_EQ(0u, single.flags);
    EXPECT_EQ((Messages{Bad(0), Bad(1), Final(0)}), single.messages);

    Parsed trailing = Parse(L"persistent=true;");
    EXPECT_EQ(4u, trailing.flags);
    EXPECT_EQ((Messages{Bad(1), Final(4)}), trailing.messages);

    Parsed inside = Parse(L";tunnelmks=true;;persistent=true");
    EXPECT_EQ(6u, inside.flags);
    EXPECT_EQ((Messages{Bad(0), Bad(2), Final(6)}), inside.messages);

    // A blank option between separators is empty once trimmed.
    Parsed blank = Parse(L"tunnelmks=true;   ;persistent=true");
    EXPECT_EQ(6u, blank.flags);
    EXPECT_EQ((Messages{Bad(1), Final(6)}), blank.messages);
}

TEST(ConfigParser, OptionWithoutOrWithTwoEqualsSignsIsSkipped) {
    Parsed bare = Parse(L"usebrowserproxy");
    EXPECT_EQ(0u, bare.flags);
    EXPECT_EQ((Messages{Bad(0), Final(0)}), bare.messages);

    Parsed two = Parse(L"tunnelmks=true;persistent=true=true;usebrowserproxy==true");
    EXPECT_EQ(2u, two.flags);
    EXPECT_EQ((Messages{Bad(1), Bad(2), Final(2)}), two.messages);
}

TEST(ConfigParser, NamesAreCaseSensitiveAndMustBeKnown) {
    Parsed capital = Parse(L"Persistent=true");
    EXPECT_EQ(0u, capital.flags);
    EXPECT_EQ((Messages{Unknown(0), Final(0)}), capital.messages);

    // The other options still count.
    Parsed mixed = Parse(L"persist=true;persistent=true;=true");
    EXPECT_EQ(4u, mixed.flags);
    EXPECT_EQ((Messages{Unknown(0), Unknown(2), Final(4)}), mixed.messages);
}

TEST(ConfigParser, OnlyTheValueTrueSetsABitAndOtherValuesAreSilent) {
    for (const wchar_t* config : {L"persistent=TRUE", L"persistent=1", L"persistent=True",
                                  L"persistent=false", L"persistent=", L"persistent=\"true\"",
                                  L"persistent=yes"}) {
        Parsed p = Parse(config);
        EXPECT_EQ(0u, p.flags) << Narrow(config);
        EXPECT_EQ(Messages{Final(0)}, p.messages) << Narrow(config);
    }
}

TEST(ConfigParser, ASetBitIsNeverCleared) {
    EXPECT_EQ(4u, Parse(L"persistent=true;persistent=false").flags);
    EXPECT_EQ(4u, Parse(L"persistent=true;persistent=true").flags);
    EXPECT_EQ(4u, Parse(L"persistent=false;persistent=true").flags);
}

// ---- Errors are reported (file kept), a clean parse only logs ----

TEST(ConfigParserReports, MalformedOrUnknownOptionKeepsTheLogCleanParseDoesNot) {
    struct Case {
        const wchar_t* config;
        bool kept;
    };
    for (const Case& c : {Case{L"persistent=true;tunnelmks=TRUE", false}, Case{L"", false},
                          Case{L"persistent=true;", true}, Case{L"Persistent=true", true}}) {
        ScratchTemp temp;
        ProbeResult r = RunProbe({L"config", c.config}, {temp.Path()});
        ASSERT_TRUE(r.finished);
        EXPECT_EQ(c.kept, FileExists(temp.LogFile(r.pid))) << Narrow(c.config);
    }
}
