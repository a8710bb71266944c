#include "support/log.h"

#include "platform/platform.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <regex>

namespace {

bool OnWindows() {
    return std::string(platform::NativeSeparator()) == "\\";
}
std::string LineEnd() {
    return OnWindows() ? "\r\n" : "\n";
}

class LogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetLogForTesting();
        SetLogPath(dir / "FeltoInstaller.log");
    }
    void TearDown() override {
        ResetLogForTesting();
        SetLogPath("FeltoInstaller.log");
    }
    std::string Log() {
        std::fflush(GetLogStream());
        return ReadFile(dir / "FeltoInstaller.log");
    }
    TempDir dir;
};

TEST_F(LogTest, EntryIsTimestampBlankTextAndTwoLineEnds) {
    WriteLog("_StartLauncher");
    WriteLog("");
    const std::string nl = LineEnd();
    std::regex entry("\\d{4}-([1-9]|1[0-2])-([1-9]|[12]\\d|3[01]),\\d\\d:\\d\\d:\\d\\d "
                     "_StartLauncher" +
                     nl + nl + "\\d{4}-\\d{1,2}-\\d{1,2},\\d\\d:\\d\\d:\\d\\d " + nl + nl);
    EXPECT_TRUE(std::regex_match(Log(), entry)) << Log();
}

TEST_F(LogTest, PercentSignsAreWrittenAsData) {
    WriteLog("100% done %s %d %n");
    EXPECT_NE(Log().find(" 100% done %s %d %n" + LineEnd()), std::string::npos) << Log();
}

TEST_F(LogTest, ErrnoAndSocketEntriesCarryTheNumber) {
    errno = 13;
    WriteLogErrno("call remove faild!");
    EXPECT_NE(Log().find(" call remove faild! ,Error: 13" + LineEnd() + LineEnd()),
              std::string::npos)
        << Log();
}

TEST_F(LogTest, EachRunStartsTheFileAfresh) {
    WriteLog("first run");
    ResetLogForTesting();
    WriteLog("second run");
    std::string log = Log();
    EXPECT_EQ(log.find("first run"), std::string::npos) << log;
    EXPECT_NE(log.find("second run"), std::string::npos);
}

TEST_F(LogTest, LogPathNamingAFolderFallsBackToStandardErrorAndKeepsTheFolder) {
    ResetLogForTesting();
    std::string folder = dir / "taken";
    ASSERT_TRUE(platform::MakeFolder(folder));
    SetLogPath(folder);
    testing::internal::CaptureStderr();
    WriteLog("still logged");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(GetLogStream(), stderr);
    EXPECT_EQ(platform::QueryPath(folder), platform::PathKind::Directory);
    EXPECT_NE(err.find("create logfile handle faild! errno:"), std::string::npos) << err;
    EXPECT_NE(err.find("still logged"), std::string::npos) << err;
}

bool BrokenClock(std::tm&, int& error) {
    error = 22;
    return false;
}

TEST_F(LogTest, AClockThatFailsGivesTheFallbackEntryWithTwoLineEnds) {
    WriteLog("opened");
    SetClockForTesting(BrokenClock);
    testing::internal::CaptureStderr();
    WriteLog("no time");
    std::string err = testing::internal::GetCapturedStderr();
    SetClockForTesting(nullptr);
    const std::string nl = LineEnd();
    const std::string failure = "0000-00-00,00:00:00 get now error, errno:22,see:";
    std::string log = Log();
    std::size_t at = log.find(failure);
    ASSERT_NE(at, std::string::npos) << log;
    std::size_t end = log.find(nl, at);
    EXPECT_EQ(log.compare(end, 2 * nl.size(), nl + nl), 0) << log;
    EXPECT_NE(log.find("0000-00-00,00:00:00 no time" + nl + nl), std::string::npos) << log;
    // Standard error has its own copy of both.
    EXPECT_NE(err.find(failure), std::string::npos) << err;
    EXPECT_NE(err.find("0000-00-00,00:00:00 no time\n\n"), std::string::npos) << err;
}

TEST_F(LogTest, ALogOnStandardErrorGetsEachEntryOnce) {
    ResetLogForTesting();
    UseStandardErrorForLog();
    testing::internal::CaptureStderr();
    WriteLog("said once");
    errno = 2;
    WriteLogErrno("also once");
    SetClockForTesting(BrokenClock);
    WriteLog("without a clock");
    SetClockForTesting(nullptr);
    std::string err = testing::internal::GetCapturedStderr();
    for (const char* text : {" said once\n", " also once ,Error: 2\n", "get now error, errno:22",
                             " without a clock\n"}) {
        std::size_t first = err.find(text);
        EXPECT_NE(first, std::string::npos) << text << "\n" << err;
        EXPECT_EQ(first, err.rfind(text)) << text << "\n" << err;
    }
}

TEST(FormatTest, LongTextsAreCutAt4095Bytes) {
    std::string big(10000, 'x');
    std::string text = FormatString("%s", big.c_str());
    EXPECT_EQ(text.size(), 4095u);
    std::string entry = MakeLogEntry("%s\n", big.c_str());
    EXPECT_LE(entry.size(), 4095u);
    EXPECT_EQ(entry.back(), '\n');

    std::string target = "old content";
    FormatInto(target, "GET %s%s HTTP/1.1\r\n", "http://h/", "f");
    EXPECT_EQ(target, "GET http://h/f HTTP/1.1\r\n");
}

TEST(FormatTest, TimeStampHasNoLeadingZeroInMonthAndDay) {
    std::regex stamp(
        "\\d{4}-([1-9]|1[0-2])-([1-9]|[12]\\d|3[01]),([01]\\d|2[0-3]):[0-5]\\d:[0-5]\\d");
    std::string now = GetTimeStamp();
    EXPECT_TRUE(std::regex_match(now, stamp)) << now;
}

} // namespace
