// The log: line format, the file's life cycle across a whole process (through the probe program), the debugger mirror.
#include "pluginlog/logLine.h"
#include "tests/logTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

using namespace zova::test;
using Lines = std::vector<std::string>;

namespace {

std::string Format(const char* source, int line, const char* format, ...) {
    const SYSTEMTIME t = {2024, 1, 0, 2, 3, 4, 5, 6};  // 2024-01-02 03:04:05.006
    va_list args;
    va_start(args, format);
    std::string text = zova::log::FormatLine(t, source, line, format, args);
    va_end(args);
    return text;
}

// A message line's time, and its whole prefix with any source and line.
const std::string kTime = R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} )", kStamp = kTime + R"(\[[^\]]*\]: )";
std::string Escaped(const std::string& text) { return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)"); }

void ExpectMatches(const Lines& patterns, const Lines& got) {
    ASSERT_EQ(patterns.size(), got.size()) << ::testing::PrintToString(got);
    for (size_t i = 0; i < got.size(); ++i)
        EXPECT_TRUE(std::regex_match(got[i], std::regex(patterns[i]))) << got[i] << " !~ " << patterns[i];
}

// The message lines of a log file: everything after the three header lines.
Lines MessagesIn(const std::wstring& path) {
    Lines lines = SplitCrLfLines(ReadFileBytes(path)), messages;
    for (size_t i = 3; i < lines.size(); ++i)
        messages.push_back(MessageOf(lines[i]));
    return messages;
}

void WriteFile(const std::wstring& path, const std::string& text) { std::ofstream(std::filesystem::path(path), std::ios::binary) << text; }
std::string Parsed(int flags) { return "Advanced config parsed into the features: " + std::to_string(flags); }

}  // namespace

TEST(LogLine, FieldsAndMessage) {
    const std::pair<std::string, std::string> cases[] = {
        {"2024-01-02 03:04:05.006 [C:\\src\\axplugin\\probes.cpp:255]: IEIsProtectedModeProcess failed: -2147467259\n",
         Format("C:\\src\\axplugin\\probes.cpp", 255, "IEIsProtectedModeProcess failed: %d", -2147467259)},
        {"2024-01-02 03:04:05.006 [a.cpp:-1]: \n", Format("a.cpp", -1, nullptr)},
        {"Binding to [ZOVA_MONIKER_x]\n", MessageOf(Format("s", 1, "Binding to [%S]", L"ZOVA_MONIKER_x"))},
        // An overlong message is cut, the line stays whole; at the limit nothing is lost.
        {std::string(2047, 'y') + "\n", MessageOf(Format("s", 1, "%s", std::string(5000, 'y').c_str()))},
        {std::string(2047, 'z') + "\n", MessageOf(Format("s", 1, "%s", std::string(2047, 'z').c_str()))},
    };
    for (const auto& [expected, got] : cases)
        EXPECT_EQ(expected, got);
    // The mirror widens each byte without sign extension.
    EXPECT_EQ(std::wstring(L"a\u00e9\u0080\n"), zova::log::WidenBytes("a\xe9\x80\n"));
}

// Deleted at exit unless an error report or the keep mark came, or a ".keeplog" file or folder lies in the log folder;
// the folder stays. A file an earlier process of the same id kept is never overwritten.
TEST(LogFile, KeepAndDeleteRules) {
    enum Before { kNothing, kMarkerFile, kMarkerFolder, kEarlierFile };
    struct Case { std::vector<std::wstring> args; Before before; bool kept; Lines messages; };
    // Each run stops at "hold" before it exits, to read the file while it is open.
    const Case cases[] = {{{L"log", L"one", L"hold"}, kNothing, false, {"one"}},
                          {{L"log", L"a", L"report", L"b", L"log", L"c", L"hold"}, kNothing, true, {"a", "b", "c"}},
                          {{L"log", L"a", L"keep", L"log", L"b", L"hold"}, kNothing, true, {"a", "b"}},
                          {{L"log", L"clean", L"hold"}, kMarkerFile, true, {"clean"}},
                          {{L"log", L"clean", L"hold"}, kMarkerFolder, true, {"clean"}},
                          {{L"report", L"now", L"hold"}, kEarlierFile, true, {"now"}},
                          {{L"log", L"now", L"hold"}, kEarlierFile, false, {"now"}},
                          // The configuration parser reports a malformed or unknown option; a clean parse is traced.
                          {{L"config", L"persistent=true;tunnelmks=TRUE", L"hold"}, kNothing, false, {Parsed(4)}},
                          {{L"config", L"persistent=true;", L"hold"}, kNothing, true,
                           {"Bad name-value pair specified as option #1", Parsed(4)}},
                          {{L"config", L"Persistent=true", L"hold"}, kNothing, true,
                           {"Unknown feature specified as option #0", Parsed(0)}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.messages) + " before " + std::to_string(c.before));
        ScratchTemp temp;
        ProbeOptions options{temp.Path()};
        options.beforeStart = [&](DWORD pid) {
            if (c.before != kNothing) std::filesystem::create_directory(temp.LogDir());
            if (c.before == kMarkerFile) WriteFile(temp.LogDir() + L"\\.keeplog", "");
            if (c.before == kMarkerFolder) std::filesystem::create_directory(temp.LogDir() + L"\\.keeplog");
            if (c.before == kEarlierFile) WriteFile(temp.LogFile(pid), "earlier\r\n");
        };
        const wchar_t* suffix = c.before == kEarlierFile ? L"-1" : L"";
        // Every line is flushed as it is written.
        options.whileHeld = [&](DWORD pid) { EXPECT_EQ(c.messages, MessagesIn(temp.LogFile(pid, suffix))); };
        ProbeResult r = RunProbe(c.args, options);
        ASSERT_TRUE(r.finished);
        EXPECT_EQ(c.kept, FileExists(temp.LogFile(r.pid, suffix)));
        EXPECT_EQ(c.kept ? c.messages : Lines{}, MessagesIn(temp.LogFile(r.pid, suffix)));
        if (c.before == kEarlierFile) { EXPECT_EQ("earlier\r\n", ReadFileBytes(temp.LogFile(r.pid))); }
        EXPECT_TRUE(std::filesystem::is_directory(temp.LogDir()));
    }
}

// The probe under the debugger, its TEMP a fresh scratch folder.
class LogMirror : public ::testing::Test {
protected:
    ScratchTemp temp;
    ProbeOptions options{temp.Path(), true};
};

TEST_F(LogMirror, FileHasTheHeaderThenExactCrLfLinesAndTheDebuggerGetsEveryLine) {
    ProbeResult r = RunProbe({L"at", L"C:\\work\\axplugin\\envProbe.cpp", L"255", L"-2147467259", L"report", L"end"},
                             options);
    ASSERT_TRUE(r.finished);
    const std::string data = ReadFileBytes(temp.LogFile(r.pid));
    ASSERT_EQ("\r\n", data.substr(data.size() - 2));
    // The header names the log's module (the probe's DLL) apart from the program; ZOVA_REPORT passes the caller's file.
    Lines lines = SplitCrLfLines(data);
    const std::wstring module = ProgramFolder() + L"logprobe_module.dll";
    ExpectMatches({"Executable: " + Escaped(Narrow(ProbePath())), "DLL: " + Escaped(Narrow(module)), "",
                   kTime + R"(\[C:\\work\\axplugin\\envProbe\.cpp:255\]: IEIsProtectedModeProcess failed: -2147467259)",
                   kTime + R"(\[.*logprobe\.cpp:\d+\]: end)"},
                  lines);
    lines.erase(lines.begin(), lines.begin() + 3);
    for (std::string& line : lines)
        line += "\n";  // the mirror gets the line with its own "\n", no CR
    EXPECT_EQ(lines, r.debugOutput);
}

// Without a usable file the log goes on for the debugger only; each failure of its own is a call, then one with "\n".
TEST_F(LogMirror, UnopenableFileLeavesDebuggerOnlyModeAndNothingIsDeleted) {
    // A plain file where the log folder belongs: no folder (183: ERROR_ALREADY_EXISTS), so no log file either.
    options.beforeStart = [&](DWORD) { WriteFile(temp.LogDir(), "blocker"); };
    ProbeResult r = RunProbe({L"report", L"still seen"}, options);
    ASSERT_TRUE(r.finished);
    ExpectMatches({"CreateDirectory failed: 183", "\n", "Failed to open file " + Escaped(Narrow(temp.LogFile(r.pid))) + R"(: \d+)",
                   "\n", kStamp + "still seen\n"}, r.debugOutput);
    EXPECT_EQ("blocker", ReadFileBytes(temp.LogDir()));
}

TEST_F(LogMirror, NoTemporaryFolderLeavesDebuggerOnlyMode) {
    options.tmp += std::wstring(300, L'd');  // longer than GetTempPathW's 260-character buffer
    ProbeResult r = RunProbe({L"log", L"still seen"}, options);
    ASSERT_TRUE(r.finished);
    ExpectMatches({R"(GetTempPath failed: \d+)", "\n", kStamp + "still seen\n"}, r.debugOutput);
}

// Both header lines name a program path the runtime cannot convert: both writes fail with EILSEQ (42). The runtime
// writes the path up to the failing character; that partial line is ended, so the header keeps its three lines.
TEST_F(LogMirror, HeaderPathTheTextConversionCannotExpressIsReportedAndSkipped) {
    const std::wstring folder = temp.Path() + L"\u63a2";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    options.program = folder + L"\\logprobe.exe";
    ASSERT_TRUE(CopyFileW(ProbePath().c_str(), options.program.c_str(), TRUE));
    ASSERT_TRUE(CopyFileW((ProgramFolder() + L"logprobe_module.dll").c_str(), (folder + L"\\logprobe_module.dll").c_str(), TRUE));
    ProbeResult r = RunProbe({L"report", L"after"}, options);
    ASSERT_TRUE(r.finished);
    ExpectMatches({"fwprintf failed: 42", "\n", "fwprintf failed: 42", "\n", kStamp + "after\n"}, r.debugOutput);
    ExpectMatches({"Executable: (?!.*DLL: ).*", "DLL: .*", "", kStamp + "after"},
                  SplitCrLfLines(ReadFileBytes(temp.LogFile(r.pid))));
}
