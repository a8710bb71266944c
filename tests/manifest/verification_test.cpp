#include "app/installer_state.h"
#include "manifest/manifest_file.h"
#include "manifest/verification.h"
#include "net/engine_settings.h"
#include "platform/platform.h"
#include "support/log.h"
#include "tests/support/fast_engine.h"
#include "tests/support/http_test_server.h"
#include "tests/support/server_tree.h"
#include "tests/support/temp_dir.h"
#include "tests/support/text_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

class VerificationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        strInstallDir = dir_.path();
        ASSERT_TRUE(platform::MakeFolder(dir_ / "incoming"));
        SetLogPath(dir_ / "FeltoInstaller.log");
        ResetLogForTesting();
        ASSERT_TRUE(server_.Start());
        engine_.Use(server_.port(), 2000);
    }
    void TearDown() override {
        server_.Stop();
        ResetLogForTesting();
        State().pendingEntries.clear();
        State().fileEntries.clear();
        strInstallDir.clear();
    }

    static InstallerState& State() { return GetInstallerState(); }

    // A listed file whose object is the file itself, served under its digest.
    void List(const std::string& relPath, const std::string& bytes) {
        std::string md5 = Md5Of(bytes);
        FileEntry entry = MakeFileEntry("objects/" + md5, strInstallDir);
        entry.strRelativePath = relPath;
        entry.strTargetPath = strInstallDir + "/" + relPath;
        entry.strManifestMd5 = md5;
        entry.checkFun = CheckObjectMd5;
        State().fileEntries.push_back(entry);
        server_.SetFile("/objects/" + md5, bytes);
    }
    void Verify() { VerifyInstalledFiles(State().fileEntries, State().pendingEntries); }
    void VerifyThenDownload() {
        Verify();
        DownloadPendingFiles(State().pendingEntries);
    }
    FileEntry& Entry(std::size_t index) { return State().fileEntries.at(index); }
    // A fault, set by `set`, on the requests for the object of `entry`.
    void AddFaultOn(const FileEntry& entry, const std::function<void(HttpFault&)>& set) {
        HttpFault fault;
        fault.path = "/" + entry.strUrl;
        set(fault);
        server_.AddFault(fault);
    }
    std::vector<FileEntry*> Pending() { return State().pendingEntries; }

    std::string Log() {
        std::fflush(GetLogStream());
        return ReadFile(dir_ / "FeltoInstaller.log");
    }
    int RequestsFor(const FileEntry& entry) {
        std::vector<std::string> requests = server_.requests();
        return static_cast<int>(std::count_if(requests.begin(), requests.end(), [&](auto& r) {
            return HttpTestServer::RequestPath(r) == "/" + entry.strUrl;
        }));
    }

    TempDir dir_;
    HttpTestServer server_;
    FastEngine engine_;
};

TEST_F(VerificationTest, MatchingFilesLeaveNothingPendingAndLogNothing) {
    List("Felto.exe", "launcher");
    List("bin/game.dat", MakeBytes(5000, 1));
    ASSERT_TRUE(platform::MakeFolder(dir_ / "bin"));
    WriteFile(dir_ / "Felto.exe", "launcher");
    WriteFile(dir_ / "bin/game.dat", MakeBytes(5000, 1));
    Verify();
    EXPECT_TRUE(Pending().empty());
    EXPECT_EQ(CountOf(Log(), "文件不存在"), 0);
    EXPECT_EQ(CountOf(Log(), "MD5不一致"), 0);
}

TEST_F(VerificationTest, MissingAndDifferentFilesBecomePendingAndCapitalDigestsMatch) {
    List("missing.dat", "missing");
    List("folder.dat", "folder");
    List("changed.dat", "new content");
    List("good.dat", "good");
    List("upper.dat", "upper");
    // The digest is right but written in capitals: still the same digest.
    std::string upper = Entry(4).strManifestMd5;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    Entry(4).strManifestMd5 = upper;
    ASSERT_TRUE(platform::MakeFolder(dir_ / "folder.dat"));
    WriteFile(dir_ / "changed.dat", "old content");
    WriteFile(dir_ / "good.dat", "good");
    WriteFile(dir_ / "upper.dat", "upper");

    Verify();

    std::vector<FileEntry*> expected = {&Entry(0), &Entry(1), &Entry(2)};
    EXPECT_EQ(Pending(), expected);
    std::string log = Log();
    EXPECT_EQ(CountOf(log, "文件不存在,"), 2);
    EXPECT_EQ(CountOf(log, "文件不存在," + Entry(0).strTargetPath + ",\n"), 1);
    EXPECT_EQ(CountOf(log, "文件不存在," + Entry(1).strTargetPath + ",\n"), 1);
    EXPECT_EQ(CountOf(log, "MD5不一致,"), 1);
    EXPECT_EQ(CountOf(log, "MD5不一致,local:" + Md5Of("old content") +
                               ",manifest:" + Entry(2).strManifestMd5 + "\n"),
              1);
    EXPECT_EQ(server_.connectionCount(), 0);
}

TEST_F(VerificationTest, TheArchiversOwnEntriesComeFirst) {
    List("launcher/packed.dll", "packed");
    List("Felto.exe", "game");
    List("Plantform\\X64\\7z.exe", "archiver 64");
    List("launcher/other.dll", "other");
    List("plantform/x86/7z.exe", "archiver 32");
    List("plantform/x86/7z.exe.bak", "not the archiver");
    Verify();
    std::vector<FileEntry*> expected = {&Entry(2), &Entry(4), &Entry(0),
                                        &Entry(1), &Entry(3), &Entry(5)};
    EXPECT_EQ(Pending(), expected);
    // The log still follows the manifest.
    std::string log = Log();
    EXPECT_LT(log.find(Entry(0).strTargetPath), log.find(Entry(2).strTargetPath)) << log;
}

TEST_F(VerificationTest, AGoodEarlierDownloadIsReusedAndADamagedOneFetchedAgain) {
    List("a.dat", "first object");
    List("b.dat", MakeBytes(500000, 2)); // large enough for the three-connection download
    WriteFile(Entry(0).strIncomingPath, "first object");
    WriteFile(Entry(1).strIncomingPath, MakeBytes(1000, 3));
    Verify();
    ASSERT_EQ(Pending().size(), 2u);

    DownloadPendingFiles(State().pendingEntries);

    EXPECT_EQ(Entry(0).nState.load(), 2);
    EXPECT_TRUE(Entry(0).bOk.load());
    EXPECT_EQ(RequestsFor(Entry(0)), 0);
    EXPECT_EQ(Entry(1).nState.load(), 2);
    EXPECT_TRUE(Entry(1).bOk.load());
    EXPECT_GE(RequestsFor(Entry(1)), 1);
    EXPECT_EQ(ReadFile(Entry(1).strIncomingPath), MakeBytes(500000, 2));
}

// What the check operations of two downloads saw, to tell whether they overlapped.
struct CheckRecord {
    std::mutex mutex;
    HttpTestServer* server = nullptr;
    std::string secondPath;
    int secondRequestsDuringFirstCheck = -1;
    Clock::time_point firstChecked, secondChecked;
} g_record;

bool CheckFirst(FileEntry& entry) {
    std::lock_guard<std::mutex> lock(g_record.mutex);
    g_record.firstChecked = Clock::now();
    int count = 0;
    for (const std::string& request : g_record.server->requests())
        count += HttpTestServer::RequestPath(request) == g_record.secondPath;
    g_record.secondRequestsDuringFirstCheck = count;
    return CheckObjectMd5(entry);
}

bool CheckSecond(FileEntry& entry) {
    std::lock_guard<std::mutex> lock(g_record.mutex);
    g_record.secondChecked = Clock::now();
    return CheckObjectMd5(entry);
}

TEST_F(VerificationTest, TheSecondDownloadStartsOnlyAfterTheFirstAndThePause) {
    const int pauseMs = 300;
    EngineSettings settings = GetEngineSettings();
    settings.afterDownloadPauseMs = pauseMs;
    OverrideEngineSettingsForTesting(settings);
    List("a.dat", MakeBytes(200000, 4));
    List("b.dat", MakeBytes(3000, 5));
    Entry(0).checkFun = CheckFirst;
    Entry(1).checkFun = CheckSecond;
    g_record.server = &server_;
    g_record.secondPath = "/" + Entry(1).strUrl;
    // The first object arrives slowly, so a second download started early would be seen.
    AddFaultOn(Entry(0), [](HttpFault& slow) {
        slow.dripBytes = 20000;
        slow.dripDelayMs = 10;
    });

    VerifyThenDownload();

    ASSERT_TRUE(Entry(0).bOk.load());
    ASSERT_TRUE(Entry(1).bOk.load());
    std::lock_guard<std::mutex> lock(g_record.mutex);
    EXPECT_EQ(g_record.secondRequestsDuringFirstCheck, 0);
    // The first entry finished after its check; the second was checked after its download.
    EXPECT_GE(g_record.secondChecked - g_record.firstChecked, std::chrono::milliseconds(pauseMs));
}

// What the first download's check saw of the others, fetched at the same time.
struct OverlapRecord {
    std::mutex mutex;
    HttpTestServer* server = nullptr;
    std::string otherPath, samePath;
    int otherRequests = -1, sameRequests = -1;
} g_overlap;

bool CheckWhileOthersRun(FileEntry& entry) {
    std::lock_guard<std::mutex> lock(g_overlap.mutex);
    g_overlap.otherRequests = g_overlap.sameRequests = 0;
    for (const std::string& request : g_overlap.server->requests()) {
        g_overlap.otherRequests += HttpTestServer::RequestPath(request) == g_overlap.otherPath;
        g_overlap.sameRequests += HttpTestServer::RequestPath(request) == g_overlap.samePath;
    }
    return CheckObjectMd5(entry);
}

// Several at a time: the next object does not wait for a slow one, but a second entry of the
// same object (its part files are the same files) waits until the first is done.
TEST_F(VerificationTest, ParallelDownloadsOverlapExceptForOneObject) {
    EngineSettings settings = GetEngineSettings();
    settings.parallelDownloads = 8;
    OverrideEngineSettingsForTesting(settings);
    const std::string shared = MakeBytes(200000, 6);
    List("a.dat", shared);
    List("b.dat", MakeBytes(3000, 7));
    List("copy-of-a.dat", shared);
    Entry(0).checkFun = CheckWhileOthersRun;
    g_overlap.server = &server_;
    g_overlap.otherPath = "/" + Entry(1).strUrl;
    g_overlap.samePath = "/" + Entry(0).strUrl;
    AddFaultOn(Entry(0), [](HttpFault& slow) { // a second or so for the first object
        slow.dripBytes = 2000;
        slow.dripDelayMs = 10;
        slow.times = 2;
    });

    VerifyThenDownload();

    for (std::size_t i : {0u, 1u, 2u}) {
        EXPECT_EQ(Entry(i).nState.load(), 2) << i;
        EXPECT_TRUE(Entry(i).bOk.load()) << i;
    }
    std::lock_guard<std::mutex> lock(g_overlap.mutex);
    EXPECT_EQ(g_overlap.otherRequests, 2); // probe and range, while the first still came
    EXPECT_EQ(g_overlap.sameRequests, 2);  // only the first entry's own
    EXPECT_EQ(RequestsFor(Entry(2)), 4);   // the second entry fetched it after that
    EXPECT_TRUE(ReadFile(Entry(0).strIncomingPath) == shared);
}

TEST_F(VerificationTest, LaterEntriesAreFetchedAfterOneFailsForGood) {
    List("gone.dat", "not on the server");
    List("next.dat", "still fetched");
    List("last.dat", "also fetched");
    server_.RemoveFile("/" + Entry(0).strUrl);
    AddFaultOn(Entry(2), [](HttpFault& broken) {
        broken.times = 1;
        broken.closeAfterBodyBytes = 3;
    });

    VerifyThenDownload();

    EXPECT_EQ(Entry(0).nState.load(), 2);
    EXPECT_FALSE(Entry(0).bOk.load());
    EXPECT_GE(RequestsFor(Entry(0)), 3);
    for (std::size_t i : {1u, 2u}) {
        EXPECT_EQ(Entry(i).nState.load(), 2) << i;
        EXPECT_TRUE(Entry(i).bOk.load()) << i;
    }
    EXPECT_EQ(ReadFile(Entry(1).strIncomingPath), "still fetched");
    EXPECT_EQ(ReadFile(Entry(2).strIncomingPath), "also fetched");
}

} // namespace
