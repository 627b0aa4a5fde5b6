#include "foundation/NvLog.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace nv {
namespace {

namespace fs = std::filesystem;

// A log whose clock stands still, so time stamps can be compared exactly.
class TFixedClockLog : public TNvLog {
public:
    TDateTime at = EncodeDate(2026, 12, 7) + EncodeTime(13, 5, 9, 42);

protected:
    TDateTime CurrentTime() const override { return at; }
};

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = FormatSettings();
        SetFormatSettings(DefaultFormatSettings());
        static std::atomic<int> serial{0};
        dir_ = fs::temp_directory_path() /
               ("nv-log-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial));
        fs::remove_all(dir_);
        ASSERT_TRUE(fs::create_directories(dir_));
    }
    void TearDown() override {
        SetFormatSettings(saved_);
        std::error_code ec;
        fs::permissions(dir_, fs::perms::owner_all, ec);
        fs::remove_all(dir_, ec);
    }

    static std::string ReadFile(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static std::string AsFile(const TNvLog& log) {
        std::string text;
        for (int i = 0; i < log.Count(); ++i)
            text += log.Lines(i) + "\r\n";
        return text;
    }
    static std::vector<std::string> LinesOf(const TNvLog& log) {
        std::vector<std::string> lines;
        for (int i = 0; i < log.Count(); ++i)
            lines.push_back(log.Lines(i));
        return lines;
    }
    std::vector<std::string> FolderEntries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_))
            names.push_back(entry.path().filename().string());
        return names;
    }

    fs::path dir_;

private:
    TFormatSettings saved_;
};

TEST_F(LogTest, StartsInactiveEmptyWithTheDefaultFormatAndCapacity) {
    TNvLog log;
    EXPECT_FALSE(log.Active());
    EXPECT_EQ(log.Count(), 0);
    EXPECT_EQ(log.MaxLines(), 100);
    EXPECT_EQ(log.DateTimeFormat(), "yyyy/mm/dd hh:nn:ss.zzz");
    EXPECT_EQ(log.FileName(), "");
}

TEST_F(LogTest, ALineIsTheTimeStampABlankAndTheMessage) {
    TFixedClockLog log;
    log.SetActive(true);
    std::vector<std::string> changes;
    std::vector<std::string> newLines;
    TObject* changeSender = nullptr;
    log.OnChange = [&](TObject* sender, const std::string& message) {
        changeSender = sender;
        changes.push_back(message);
    };
    log.Buffer().OnNewLine = [&](TObject*, const std::string& line) { newLines.push_back(line); };

    EXPECT_EQ(log.AddLine("Connected"), "2026/12/07 13:05:09.042 Connected");
    EXPECT_EQ(LinesOf(log), std::vector<std::string>{"2026/12/07 13:05:09.042 Connected"});
    EXPECT_EQ(changes, std::vector<std::string>{"Connected"});
    EXPECT_EQ(changeSender, &log);
    EXPECT_EQ(newLines, std::vector<std::string>{"2026/12/07 13:05:09.042 Connected"});

    // The separators are the regional ones.
    TFormatSettings other = DefaultFormatSettings();
    other.DateSeparator = "-";
    other.TimeSeparator = ".";
    SetFormatSettings(other);
    EXPECT_EQ(log.AddLine("x"), "2026-12-07 13.05.09.042 x");
    log.SetDateTimeFormat("hh:nn");
    EXPECT_EQ(log.AddLine("y"), "13.05 y");
}

TEST_F(LogTest, CapacityKeepsTheNewestLinesOldestFirst) {
    TFixedClockLog log;
    log.SetActive(true);
    log.SetDateTimeFormat("'t'");
    log.SetMaxLines(3);
    for (int i = 1; i <= 5; ++i)
        log.AddLine("line " + std::to_string(i));
    EXPECT_EQ(LinesOf(log), (std::vector<std::string>{"t line 3", "t line 4", "t line 5"}));

    // Lowering the limit drops the oldest at once; raising it brings nothing back.
    log.SetMaxLines(2);
    EXPECT_EQ(LinesOf(log), (std::vector<std::string>{"t line 4", "t line 5"}));
    log.SetMaxLines(10);
    EXPECT_EQ(log.Count(), 2);
}

TEST_F(LogTest, ZeroOrNegativeCapacityKeepsEveryLine) {
    for (int capacity : {0, -5}) {
        TNvLog log;
        log.SetActive(true);
        log.SetMaxLines(capacity);
        for (int i = 0; i < 250; ++i)
            log.AddLine("m");
        EXPECT_EQ(log.Count(), 250) << capacity;
        EXPECT_EQ(log.MaxLines(), capacity);
    }
}

TEST_F(LogTest, AnInactiveLogRecordsNothingFiresNothingAndLeavesItsFileAlone) {
    fs::path file = dir_ / "log.txt";
    std::ofstream(file, std::ios::binary) << "earlier run\r\n";
    TNvLog log;
    log.SetFileName(file.string());
    int events = 0;
    log.OnChange = [&](TObject*, const std::string&) { ++events; };
    log.Buffer().OnNewLine = [&](TObject*, const std::string&) { ++events; };
    EXPECT_EQ(log.AddLine("ignored"), "");
    EXPECT_EQ(log.Count(), 0);
    EXPECT_EQ(events, 0);
    EXPECT_EQ(ReadFile(file), "earlier run\r\n");

    // Switching off keeps what was recorded.
    log.SetActive(true);
    log.AddLine("kept");
    log.SetActive(false);
    log.AddLine("dropped");
    EXPECT_EQ(log.Count(), 1);
    EXPECT_EQ(events, 2);
}

TEST_F(LogTest, TheFileHoldsExactlyTheLinesInMemoryAfterEveryLine) {
    fs::path file = dir_ / "mirror.log";
    TFixedClockLog log;
    log.SetActive(true);
    log.SetMaxLines(2);
    log.SetFileName(file.string());
    for (const char* message : {"first", "second \xC3\xA4", "third"}) {
        log.AddLine(message);
        EXPECT_EQ(ReadFile(file), AsFile(log)) << message;
    }
    EXPECT_EQ(ReadFile(file), "2026/12/07 13:05:09.042 second \xC3\xA4\r\n2026/12/07 13:05:09.042 third\r\n");
    // No temporary files are left behind.
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"mirror.log"});
}

TEST_F(LogTest, AChangedFileNameTakesEffectWithTheNextLine) {
    fs::path first = dir_ / "a.log";
    fs::path second = dir_ / "b.log";
    TFixedClockLog log;
    log.SetActive(true);
    log.SetFileName(first.string());
    log.AddLine("one");
    log.SetFileName(second.string());
    EXPECT_FALSE(fs::exists(second));
    log.AddLine("two");
    EXPECT_EQ(ReadFile(first), "2026/12/07 13:05:09.042 one\r\n");
    EXPECT_EQ(ReadFile(second), AsFile(log));
}

TEST_F(LogTest, AFileThatCannotBeWrittenCostsNoLineAndRaisesNothing) {
    TNvLog log;
    log.SetActive(true);
    log.SetFileName((dir_ / "no-such-folder" / "x.log").string());
    std::string changed;
    log.OnChange = [&](TObject*, const std::string& message) { changed = message; };
    EXPECT_NO_THROW(log.AddLine("still here"));
    EXPECT_EQ(log.Count(), 1);
    EXPECT_EQ(changed, "still here");
    EXPECT_FALSE(fs::exists(dir_ / "no-such-folder"));
}

#ifndef _WIN32
TEST_F(LogTest, AWriteThatFailsHalfWayKeepsThePreviousFile) {
    fs::path file = dir_ / "run.log";
    TFixedClockLog log;
    log.SetActive(true);
    log.SetFileName(file.string());
    log.AddLine("short");
    const std::string before = ReadFile(file);
    ASSERT_EQ(before, "2026/12/07 13:05:09.042 short\r\n");

    // A file size limit makes the next write fail part of the way through (as a full disk
    // would), whoever runs the test.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    log.AddLine(std::string(200, 'x'));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(ReadFile(file), before);
    EXPECT_EQ(log.Count(), 2);
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"run.log"});

    // The next line writes the whole buffer again.
    log.AddLine("after");
    EXPECT_EQ(ReadFile(file), AsFile(log));
    EXPECT_EQ(log.Count(), 3);
}

TEST_F(LogTest, AReadOnlyFolderKeepsTheOldFile) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind the superuser; the size-limit test covers the failure";
    fs::path file = dir_ / "ro.log";
    TNvLog log;
    log.SetActive(true);
    log.SetFileName(file.string());
    log.AddLine("one");
    const std::string before = ReadFile(file);
    fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
    log.AddLine("two");
    fs::permissions(dir_, fs::perms::owner_all);
    EXPECT_EQ(ReadFile(file), before);
    EXPECT_EQ(log.Count(), 2);
}
#endif

TEST_F(LogTest, SaveToFileReportsSuccessAndFailure) {
    TNvLogBuffer buffer;
    EXPECT_TRUE(buffer.SaveToFile((dir_ / "empty.log").string()));
    EXPECT_EQ(ReadFile(dir_ / "empty.log"), "");
    buffer.AddNewLine("a");
    EXPECT_FALSE(buffer.SaveToFile((dir_ / "missing" / "a.log").string()));
    // A folder in the way of the file is not replaced.
    fs::create_directory(dir_ / "taken");
    EXPECT_FALSE(buffer.SaveToFile((dir_ / "taken").string()));
    EXPECT_TRUE(fs::is_directory(dir_ / "taken"));
}

TEST_F(LogTest, AssignCopiesFileNameLimitAndSwitchOnly) {
    TFixedClockLog source;
    source.SetActive(true);
    const std::string elsewhere = (dir_ / "elsewhere.log").string();
    source.SetFileName(elsewhere);
    source.SetMaxLines(7);
    source.SetDateTimeFormat("hh");
    source.AddLine("not copied");
    TNvLog target;
    target.Assign(&source);
    EXPECT_TRUE(target.Active());
    EXPECT_EQ(target.FileName(), elsewhere);
    EXPECT_EQ(target.MaxLines(), 7);
    EXPECT_EQ(target.DateTimeFormat(), "yyyy/mm/dd hh:nn:ss.zzz");
    EXPECT_EQ(target.Count(), 0);

    TNvStringList list;
    list.Add("replaced");
    list.Assign(&source);
    EXPECT_EQ(list.ToVector(), std::vector<std::string>{"13 not copied"});

    try {
        target.Assign(&list);
        FAIL() << "no exception";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a TNvStringList to a TNvLog");
    }
    try {
        target.Assign(&source.Buffer());
        FAIL() << "no exception";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a TNvLogBuffer to a TNvLog");
    }
}

// ---- AddLogLine ----------------------------------------------------------------------------------

TEST_F(LogTest, AddLogLineWithNewestAtTheBottomDropsTheFirstLine) {
    TNvStringList lines;
    lines.Add("a");
    lines.Add("b");
    AddLogLine(lines, "c", 2, "", lloAppend);
    EXPECT_EQ(lines.ToVector(), (std::vector<std::string>{"b", "c"}));
}

TEST_F(LogTest, AddLogLineWithNewestAtTheTopDropsTheLastLine) {
    TNvStringList lines;
    lines.Add("b");
    lines.Add("a");
    AddLogLine(lines, "c", 2, "", 0);
    EXPECT_EQ(lines.ToVector(), (std::vector<std::string>{"c", "b"}));
    // A list already over the limit is cut down to it.
    for (const char* extra : {"x", "y", "z"})
        lines.Add(extra);
    AddLogLine(lines, "d", 2, "", 0);
    EXPECT_EQ(lines.ToVector(), (std::vector<std::string>{"d", "c"}));
}

TEST_F(LogTest, AddLogLineWithANegativeMaximumEmptiesTheList) {
    TNvStringList lines;
    lines.Add("a");
    lines.Add("b");
    AddLogLine(lines, "c", -1, "", lloAppend);
    EXPECT_EQ(lines.Count(), 0);
}

TEST_F(LogTest, AddLogLineWithoutMaximumKeepsEverything) {
    TNvStringList lines;
    for (int i = 0; i < 150; ++i)
        AddLogLine(lines, std::to_string(i), 0, "", lloAppend);
    EXPECT_EQ(lines.Count(), 150);
    EXPECT_EQ(lines.Strings(149), "149");
}

TEST_F(LogTest, AddLogLineStampsWithEitherTimeOption) {
    const TDateTime at = EncodeDate(2026, 12, 7) + EncodeTime(13, 5, 9, 42);
    TNvStringList lines;
    AddLogLine(lines, "one", 10, "yyyy/mm/dd hh:nn:ss.zzz", lloTimeStamp | lloAppend, at);
    AddLogLine(lines, "two", 10, "hh:nn", lloDateStamp | lloAppend, at);
    AddLogLine(lines, "three", 10, "hh:nn", lloAppend, at);
    AddLogLine(lines, "zero", 10, "hh:nn", lloTimeStamp, at);
    EXPECT_EQ(lines.ToVector(),
              (std::vector<std::string>{"13:05 zero", "2026/12/07 13:05:09.042 one", "13:05 two", "three"}));
}

}  // namespace
}  // namespace nv
