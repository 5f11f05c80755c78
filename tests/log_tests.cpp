// The log: line format, file life cycle across a whole process (through the
// probe program) and the debugger mirror.
#include "pluginlog/logLine.h"
#include "tests/logTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

using namespace zova::test;

namespace {

std::string Format(const SYSTEMTIME& t, const char* source, int line, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = zova::log::FormatLine(t, source, line, format, args);
    va_end(args);
    return text;
}

SYSTEMTIME Time(WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s, WORD ms) {
    SYSTEMTIME t = {};
    t.wYear = y; t.wMonth = mo; t.wDay = d; t.wHour = h; t.wMinute = mi; t.wSecond = s; t.wMilliseconds = ms;
    return t;
}

const std::regex kLinePrefix(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} \[)");

std::vector<std::string> LinesOf(const std::wstring& path) { return SplitCrLfLines(ReadFileBytes(path)); }

// The message lines of a log file: everything after the three header lines.
std::vector<std::string> MessagesIn(const std::wstring& path) {
    std::vector<std::string> lines = LinesOf(path), messages;
    for (size_t i = 3; i < lines.size(); ++i)
        messages.push_back(MessageOf(lines[i]));
    return messages;
}

}  // namespace

// ---- One line, built in-process from a fixed time ----

TEST(LogLine, TimestampFieldsAreZeroPaddedAndSourceAndLineAreVerbatim) {
    EXPECT_EQ("2024-01-02 03:04:05.006 [C:\\src\\axplugin\\probes.cpp:255]: "
              "IEIsProtectedModeProcess failed: -2147467259\n",
              Format(Time(2024, 1, 2, 3, 4, 5, 6), "C:\\src\\axplugin\\probes.cpp", 255,
                     "IEIsProtectedModeProcess failed: %d", -2147467259));
    EXPECT_EQ("1999-12-31 23:59:59.999 [a.cpp:-1]: x\n",
              Format(Time(1999, 12, 31, 23, 59, 59, 999), "a.cpp", -1, "x"));
}

TEST(LogLine, FollowsMicrosoftPrintfRules) {
    const SYSTEMTIME t = Time(2024, 5, 6, 7, 8, 9, 10);
    EXPECT_EQ("Binding to [ZOVA_MONIKER_x]\n",
              MessageOf(Format(t, "s", 1, "Binding to [%S]", L"ZOVA_MONIKER_x")));
    EXPECT_EQ("000000001234ABCD\n", MessageOf(Format(t, "s", 1, "%p", reinterpret_cast<void*>(0x1234abcdULL))));
    EXPECT_EQ("narrow wide\n", MessageOf(Format(t, "s", 1, "%hs %ls", "narrow", L"wide")));
}

TEST(LogLine, OverlongMessageIsCutAndTheLineStaysWhole) {
    const std::string big(5000, 'y');
    const std::string line = Format(Time(2024, 1, 1, 0, 0, 0, 0), "s.cpp", 9, "%s", big.c_str());
    const std::string message = MessageOf(line);
    EXPECT_EQ(std::string(2047, 'y') + "\n", message);
    // Exactly at the limit nothing is lost.
    const std::string fits(2047, 'z');
    EXPECT_EQ(fits + "\n", MessageOf(Format(Time(2024, 1, 1, 0, 0, 0, 0), "s.cpp", 9, "%s", fits.c_str())));
}

TEST(LogLine, WideTextTheRuntimeCannotConvertStopsTheMessageNotTheLine) {
    // The Microsoft runtime converts a "%S" argument as a whole and stops the
    // message there when a character lies outside the C locale; the text
    // before the argument stays and the line still ends properly.
    const std::string line = Format(Time(2024, 1, 1, 0, 0, 0, 0), "s.cpp", 3, "[%S] tail", L"ab\u4e2dcd");
    EXPECT_EQ("[\n", MessageOf(line));
    // Latin-1 characters pass through as single bytes.
    EXPECT_EQ("[\xe9] tail\n", MessageOf(Format(Time(2024, 1, 1, 0, 0, 0, 0), "s", 3, "[%S] tail", L"\u00e9")));
}

TEST(LogLine, NullFormatGivesAnEmptyMessage) {
    EXPECT_EQ("\n", MessageOf(Format(Time(2024, 1, 1, 0, 0, 0, 0), "s", 1, nullptr)));
}

TEST(LogLine, MirrorWidensEachByteWithoutSignExtension) {
    EXPECT_EQ(std::wstring(L"a\u00e9\u0080\n"), zova::log::WidenBytes("a\xe9\x80\n"));
}

// ---- The file over a process's life ----

TEST(LogFile, HeaderNamesExecutableAndModuleThenAnEmptyLine) {
    ScratchTemp temp;
    ProbeResult r = RunProbe({L"report", L"x"}, {temp.Path()});
    ASSERT_TRUE(r.finished);
    const std::vector<std::string> lines = LinesOf(temp.LogFile(r.pid));
    ASSERT_EQ(4u, lines.size());  // 3 header lines, then the message
    EXPECT_EQ("Executable: " + Narrow(ProbePath()), lines[0]);
    // The log is linked into the probe itself, so the module is the executable.
    EXPECT_EQ("DLL: " + Narrow(ProbePath()), lines[1]);
    EXPECT_EQ("", lines[2]);
    EXPECT_EQ("x", MessageOf(lines[3]));
}

TEST(LogFile, MessageLinesAreExactAndEndInCrLf) {
    ScratchTemp temp;
    ProbeResult r = RunProbe({L"at", L"C:\\work\\axplugin\\envProbe.cpp", L"255", L"-2147467259",
                              L"formats", L"wide", L"ZOVA_MONIKER_a", L"report", L"end"},
                             {temp.Path()});
    ASSERT_TRUE(r.finished);
    const std::string data = ReadFileBytes(temp.LogFile(r.pid));
    ASSERT_EQ("\r\n", data.substr(data.size() - 2));
    EXPECT_EQ(std::string::npos, data.find("\r\r"));
    const std::vector<std::string> lines = SplitCrLfLines(data);
    ASSERT_EQ(7u, lines.size());
    const std::regex first(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} )"
                           R"(\[C:\\work\\axplugin\\envProbe\.cpp:255\]: IEIsProtectedModeProcess failed: -2147467259$)");
    EXPECT_TRUE(std::regex_match(lines[3], first)) << lines[3];
    EXPECT_EQ("p=000000001234ABCD d=-5 u=4000000000", MessageOf(lines[4]));
    EXPECT_EQ("Binding to [ZOVA_MONIKER_a]", MessageOf(lines[5]));
    for (size_t i = 3; i < 7; ++i)
        EXPECT_TRUE(std::regex_search(lines[i], kLinePrefix)) << lines[i];
    EXPECT_NE(std::string::npos, lines[6].find("logprobe.cpp:")) << "ZOVA_REPORT passes the caller's file";
}

TEST(LogFile, OverlongMessageIsCutOnDisk) {
    ScratchTemp temp;
    ProbeResult r = RunProbe({L"long", L"3000", L"report", L"after"}, {temp.Path()});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ((std::vector<std::string>{std::string(2047, 'x'), "after"}), MessagesIn(temp.LogFile(r.pid)));
}

TEST(LogFile, WithoutErrorOrMarkerTheFileIsDeletedAtExitAndTheFolderStays) {
    ScratchTemp temp;
    bool existedWhileRunning = false;
    std::vector<std::string> messagesWhileRunning;
    ProbeOptions options{temp.Path()};
    options.whileHeld = [&](DWORD pid) {
        existedWhileRunning = FileExists(temp.LogFile(pid));
        messagesWhileRunning = MessagesIn(temp.LogFile(pid));  // flushed per line
    };
    ProbeResult r = RunProbe({L"log", L"one", L"hold", L"log", L"two"}, options);
    ASSERT_TRUE(r.finished);
    EXPECT_TRUE(existedWhileRunning);
    EXPECT_EQ(std::vector<std::string>{"one"}, messagesWhileRunning);
    EXPECT_FALSE(FileExists(temp.LogFile(r.pid)));
    EXPECT_TRUE(GetFileAttributesW(temp.LogDir().c_str()) & FILE_ATTRIBUTE_DIRECTORY);
}

TEST(LogFile, AnErrorReportOrAKeepMarkKeepsTheFile) {
    {
        ScratchTemp temp;
        ProbeResult r = RunProbe({L"log", L"a", L"report", L"b", L"log", L"c"}, {temp.Path()});
        ASSERT_TRUE(r.finished);
        EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), MessagesIn(temp.LogFile(r.pid)));
    }
    {
        ScratchTemp temp;
        // The keep mark alone, without an error line of its own.
        ProbeResult r = RunProbe({L"log", L"a", L"keep", L"log", L"b"}, {temp.Path()});
        ASSERT_TRUE(r.finished);
        EXPECT_EQ((std::vector<std::string>{"a", "b"}), MessagesIn(temp.LogFile(r.pid)));
    }
}

TEST(LogFile, KeepMarkerFileOrDirectoryKeepsCleanLogs) {
    for (bool asDirectory : {false, true}) {
        ScratchTemp temp;
        ProbeOptions options{temp.Path()};
        options.beforeStart = [&](DWORD) {
            CreateDirectoryW(temp.LogDir().c_str(), nullptr);
            const std::wstring marker = temp.LogDir() + L"\\.keeplog";
            if (asDirectory)
                CreateDirectoryW(marker.c_str(), nullptr);
            else
                CloseHandle(CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        };
        ProbeResult r = RunProbe({L"log", L"clean"}, options);
        ASSERT_TRUE(r.finished);
        EXPECT_EQ(std::vector<std::string>{"clean"}, MessagesIn(temp.LogFile(r.pid)))
            << (asDirectory ? "marker directory" : "marker file");
    }
}

TEST(LogFile, TwoProcessesWriteTwoFiles) {
    ScratchTemp temp;
    ProbeResult inner;
    ProbeOptions options{temp.Path()};
    options.whileHeld = [&](DWORD) { inner = RunProbe({L"report", L"second"}, {temp.Path()}); };
    ProbeResult outer = RunProbe({L"log", L"first", L"hold", L"report", L"first again"}, options);
    ASSERT_TRUE(outer.finished);
    ASSERT_TRUE(inner.finished);
    ASSERT_NE(outer.pid, inner.pid);
    EXPECT_EQ((std::vector<std::string>{"first", "first again"}), MessagesIn(temp.LogFile(outer.pid)));
    EXPECT_EQ(std::vector<std::string>{"second"}, MessagesIn(temp.LogFile(inner.pid)));
}

TEST(LogFile, KeptFileOfAnEarlierProcessWithTheSameIdIsNeverOverwritten) {
    for (bool report : {true, false}) {
        ScratchTemp temp;
        ProbeOptions options{temp.Path()};
        options.beforeStart = [&](DWORD pid) {
            CreateDirectoryW(temp.LogDir().c_str(), nullptr);
            HANDLE h = CreateFileW(temp.LogFile(pid).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
            DWORD written = 0;
            WriteFile(h, "earlier\r\n", 9, &written, nullptr);
            CloseHandle(h);
        };
        ProbeResult r = RunProbe({report ? L"report" : L"log", L"now"}, options);
        ASSERT_TRUE(r.finished);
        EXPECT_EQ("earlier\r\n", ReadFileBytes(temp.LogFile(r.pid)));
        if (report)
            EXPECT_EQ(std::vector<std::string>{"now"}, MessagesIn(temp.LogFile(r.pid, L"-1")));
        else
            EXPECT_FALSE(FileExists(temp.LogFile(r.pid, L"-1")));
    }
}

// ---- The debugger mirror ----

TEST(LogMirror, EveryLineReachesTheDebuggerAsWrittenToTheFile) {
    ScratchTemp temp;
    ProbeOptions options{temp.Path()};
    options.debug = true;
    ProbeResult r = RunProbe({L"log", L"one", L"formats", L"report", L"three"}, options);
    ASSERT_TRUE(r.finished);
    const std::vector<std::string> lines = LinesOf(temp.LogFile(r.pid));
    ASSERT_EQ(6u, lines.size());
    std::vector<std::string> expected(lines.begin() + 3, lines.end());
    for (std::string& line : expected)
        line += "\n";  // the mirror gets the line with its own "\n", no CR
    EXPECT_EQ(expected, r.debugOutput);
}

TEST(LogMirror, UnopenableFileLeavesDebuggerOnlyModeAndNothingIsDeleted) {
    ScratchTemp temp;
    ProbeOptions options{temp.Path()};
    options.debug = true;
    // A plain file where the log folder belongs: the folder cannot be made
    // and the log file cannot be opened.
    options.beforeStart = [&](DWORD) {
        HANDLE h = CreateFileW(temp.LogDir().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        DWORD written = 0;
        WriteFile(h, "blocker", 7, &written, nullptr);
        CloseHandle(h);
    };
    ProbeResult r = RunProbe({L"report", L"still seen"}, options);
    ASSERT_TRUE(r.finished);
    ASSERT_EQ(5u, r.debugOutput.size()) << ::testing::PrintToString(r.debugOutput);
    EXPECT_EQ("CreateDirectory failed: 183", r.debugOutput[0]);  // ERROR_ALREADY_EXISTS
    EXPECT_EQ("\n", r.debugOutput[1]);
    const std::string openFailed = "Failed to open file " + Narrow(temp.LogFile(r.pid)) + ": ";
    EXPECT_EQ(openFailed, r.debugOutput[2].substr(0, openFailed.size()));
    EXPECT_TRUE(std::regex_match(r.debugOutput[2].substr(openFailed.size()), std::regex(R"(\d+)")))
        << r.debugOutput[2];
    EXPECT_EQ("\n", r.debugOutput[3]);
    EXPECT_TRUE(std::regex_search(r.debugOutput[4], kLinePrefix));
    EXPECT_EQ("still seen\n", MessageOf(r.debugOutput[4]));
    EXPECT_EQ("blocker", ReadFileBytes(temp.LogDir()));
}

TEST(LogMirror, NoTemporaryFolderLeavesDebuggerOnlyMode) {
    ScratchTemp temp;
    ProbeOptions options;
    options.debug = true;
    // Longer than the 260-character path buffer: GetTempPathW cannot fill it.
    options.tmp = temp.Path() + std::wstring(300, L'd');
    ProbeResult r = RunProbe({L"log", L"still seen"}, options);
    ASSERT_TRUE(r.finished);
    ASSERT_EQ(3u, r.debugOutput.size()) << ::testing::PrintToString(r.debugOutput);
    EXPECT_EQ("GetTempPath failed: ", r.debugOutput[0].substr(0, 20));
    EXPECT_EQ("\n", r.debugOutput[1]);
    EXPECT_EQ("still seen\n", MessageOf(r.debugOutput[2]));
}

TEST(LogMirror, HeaderPathTheTextConversionCannotExpressIsReportedAndSkipped) {
    ScratchTemp temp;
    const std::wstring folder = temp.Path() + L"\u63a2";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ProbeOptions options{temp.Path()};
    options.debug = true;
    options.program = folder + L"\\logprobe.exe";
    ASSERT_TRUE(CopyFileW(ProbePath().c_str(), options.program.c_str(), TRUE));
    ProbeResult r = RunProbe({L"report", L"after"}, options);
    ASSERT_TRUE(r.finished);
    // Both header lines name the copy: both writes fail with EILSEQ (42).
    ASSERT_EQ(5u, r.debugOutput.size()) << ::testing::PrintToString(r.debugOutput);
    EXPECT_EQ("fwprintf failed: 42", r.debugOutput[0]);
    EXPECT_EQ("\n", r.debugOutput[1]);
    EXPECT_EQ("fwprintf failed: 42", r.debugOutput[2]);
    EXPECT_EQ("\n", r.debugOutput[3]);
    EXPECT_EQ("after\n", MessageOf(r.debugOutput[4]));
    // Whatever the failed writes left is ended, so the message line stays whole.
    // The runtime writes the path up to the failing character; that partial
    // line is ended, so the header keeps its three lines.
    const std::vector<std::string> lines = LinesOf(temp.LogFile(r.pid));
    ASSERT_EQ(4u, lines.size()) << ::testing::PrintToString(lines);
    EXPECT_EQ(0u, lines[0].rfind("Executable: ", 0)) << lines[0];
    EXPECT_EQ(std::string::npos, lines[0].find("DLL: ")) << lines[0];
    EXPECT_EQ(0u, lines[1].rfind("DLL: ", 0)) << lines[1];
    EXPECT_EQ("", lines[2]);
    EXPECT_TRUE(std::regex_search(lines[3], kLinePrefix)) << lines[3];
    EXPECT_EQ("after", MessageOf(lines[3]));
}
