#include "net/download_worker.h"

#include "net/engine_settings.h"
#include "net/file_entry.h"
#include "net/server_list.h"
#include "net/url.h"
#include "tests/net/engine_fixture.h"
#include "tests/support/child_process.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

namespace {

std::atomic<int> g_checks{0};
int g_rejectFirst = 0; // checks that fail before the first that passes

bool CountingCheck(FileEntry&) {
    return ++g_checks > g_rejectFirst;
}

class DownloadWorkerTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        if (SplitUrl(strServerUrl + "/x").host != "127.0.0.1")
            GTEST_SKIP() << "the download server of this build is not on loopback";
        g_checks = 0;
        g_rejectFirst = 0;
        entry_.strUrl = "objects/d41d8cd98f00b204e9800998ecf8427e";
        entry_.strName = "d41d8cd98f00b204e9800998ecf8427e";
        entry_.strObjectMd5 = entry_.strName;
        entry_.strIncomingPath = dir_ / entry_.strName;
        entry_.strTargetPath = dir_ / "game/data.pak";
        std::string url = strServerUrl + "/" + entry_.strUrl;
        path_ = url.substr(url.find('/', 7));
        bytes_ = MakeBytes(3000, 21);
        server_.SetFile(path_, bytes_);
    }
    int Attempts() { return static_cast<int>(RangeStarts(path_).size()) / 2; }
    std::string RetryLine() {
        return "下载重试，" + entry_.strTargetPath + "," + entry_.strObjectMd5;
    }

    FileEntry entry_;
    std::string path_;
    std::string bytes_;
};

TEST_F(DownloadWorkerTest, EntryWithoutCheckIsAcceptedAtOnce) {
    EXPECT_EQ(DownloadWorker(&entry_), 0u);
    EXPECT_TRUE(entry_.IsFinished());
    EXPECT_TRUE(entry_.bOk);
    EXPECT_TRUE(ReadFile(entry_.strIncomingPath) == bytes_);
    EXPECT_EQ(entry_.nFileSize, 3000);
    std::string log = Log();
    EXPECT_EQ(CountOf(log, "checkFun = null," + entry_.strTargetPath + "," + entry_.strObjectMd5),
              1);
    EXPECT_EQ(CountOf(log, "下载重试"), 0);
    EXPECT_EQ(Attempts(), 1);
    EXPECT_EQ(server_.requests()[0].substr(0, server_.requests()[0].find("\r\n")),
              "GET " + strServerUrl + "/" + entry_.strUrl + " HTTP/1.1");
}

TEST_F(DownloadWorkerTest, RejectedFileIsTriedThreeTimes) {
    entry_.checkFun = CountingCheck;
    g_rejectFirst = 100;
    DownloadWorker(&entry_);
    EXPECT_TRUE(entry_.IsFinished());
    EXPECT_FALSE(entry_.bOk);
    EXPECT_EQ(g_checks, 3);
    EXPECT_EQ(Attempts(), 3);
    EXPECT_EQ(CountOf(Log(), RetryLine()), 2);
}

TEST_F(DownloadWorkerTest, FailedAttemptIsRetriedOnceAfterThePause) {
    entry_.checkFun = CountingCheck;
    HttpFault fault;
    fault.status = 500;
    fault.times = 1;
    server_.AddFault(fault);
    DownloadWorker(&entry_);
    EXPECT_TRUE(entry_.bOk);
    EXPECT_EQ(g_checks, 1); // the failed download is never checked
    std::string log = Log();
    ASSERT_EQ(CountOf(log, RetryLine()), 1);
    // First attempt, its failure, the retry line, then the second attempt's two connections.
    std::size_t retry = log.find(RetryLine());
    EXPECT_LT(log.find("SendHttpHeader ERROR"), retry);
    EXPECT_EQ(CountOf(log.substr(0, retry), "正在建立连接"), 1);
    EXPECT_EQ(CountOf(log.substr(retry), "正在建立连接"), 2);
}

// With a fall-back server, a file that fails its check (as one with a wrong digest does) is
// fetched again from the next server, where the next download then starts; an entry pinned to a
// server (a signature to its manifest's) keeps all its attempts there.
TEST_F(DownloadWorkerTest, ARejectedFileIsFetchedFromTheNextServerUnlessPinned) {
    HttpTestServer second;
    second.SetFile(path_, bytes_);
    ASSERT_TRUE(second.Start());
    EngineSettings settings = GetEngineSettings();
    const std::string secondBase = "http://127.0.0.1:" + std::to_string(second.port());
    settings.fallbackServers = {secondBase};
    OverrideEngineSettingsForTesting(settings);
    entry_.checkFun = CountingCheck;
    g_rejectFirst = 1;
    DownloadWorker(&entry_);
    EXPECT_TRUE(entry_.bOk);
    EXPECT_EQ(entry_.nServedBy, 1);
    EXPECT_EQ(Attempts(), 1);
    EXPECT_EQ(second.RangeStarts(path_).size(), 2u);
    std::string log = Log();
    EXPECT_EQ(CountOf(log, "attempt 1 of " + entry_.strUrl + " from http://127.0.0.1\n"), 1) << log;
    EXPECT_EQ(CountOf(log, "attempt 2 of " + entry_.strUrl + " from " + secondBase + "\n"), 1)
        << log;
    EXPECT_EQ(PreferredServer(), 1u);

    FileEntry pinned = entry_;
    pinned.nState = 0;
    pinned.nServedBy = -1;
    pinned.nPinnedServer = 0;
    g_checks = 0;
    g_rejectFirst = 100;
    DownloadWorker(&pinned);
    EXPECT_FALSE(pinned.bOk);
    EXPECT_EQ(pinned.nServedBy, -1);
    EXPECT_EQ(Attempts(), 4);
    EXPECT_EQ(second.RangeStarts(path_).size(), 2u);
    ServerServed(0);
}

TEST_F(DownloadWorkerTest, PollerSeesDownloadingUntilTheFinalResult) {
    entry_.checkFun = CountingCheck;
    g_rejectFirst = 2;
    StartDownloadWorker(entry_);
    std::vector<int> seen;
    ASSERT_TRUE(WaitUntil(30000, [&] {
        int state = entry_.nState.load(std::memory_order_acquire);
        if (seen.empty() || seen.back() != state)
            seen.push_back(state);
        return state == 2;
    }));
    EXPECT_TRUE(entry_.bOk);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(seen.back(), 2);
    EXPECT_EQ(g_checks, 3);
    EXPECT_EQ(CountOf(Log(), RetryLine()), 2);
}

// The worker's thread cannot be had when the address space has no room for its stack. The
// child is a fresh process: a forked one could reuse a stack its parent's threads left behind.
TEST(StartDownloadWorkerTest, ThreadThatCannotStartEndsTheEntryAsFailed) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            TempDir dir;
            SetLogPath(dir / "FeltoInstaller.log");
            FileEntry entry;
            rlimit limit{};
            getrlimit(RLIMIT_AS, &limit);
            long pages = 0;
            std::FILE* statm = std::fopen("/proc/self/statm", "r");
            if (!statm || std::fscanf(statm, "%ld", &pages) != 1)
                std::_Exit(3);
            std::fclose(statm);
            limit.rlim_cur = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (2 << 20);
            setrlimit(RLIMIT_AS, &limit);
            StartDownloadWorker(entry);
            std::_Exit(entry.IsFinished() && !entry.bOk ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
