#include "app/incoming_cleanup.h"
#include "app/installer_state.h"
#include "manifest/chunk_list.h"
#include "manifest/manifest_file.h"
#include "manifest/verification.h"
#include "net/engine_settings.h"
#include "net/incoming_folder.h"
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
#include <map>
#include <mutex>
#include <set>
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
    settings.parallelDownloads = 1; // a studio's build may fetch several at once
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
    settings.leanTransfer = false; // the requests counted below are the default transfer's
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

// An installer with chunked updates: a file whose installed copy differs is brought up to date
// from the chunks it lacks; any fault on that path ends in the whole object, never in a wrong file.
class ChunkedUpdateTest : public VerificationTest {
  public:
    using VerificationTest::Entry;
    using VerificationTest::server_;

    void SetUp() override {
        VerificationTest::SetUp();
        EngineSettings chunked = GetEngineSettings();
        chunked.chunkedUpdates = true;
        OverrideEngineSettingsForTesting(chunked);
        old_ = MakeBytes(6 * 1024 * 1024, 21);
        new_ = old_;
        new_.replace(new_.size() / 2, 4096, MakeBytes(4096, 22));
        WriteFile(dir_ / "game.pak", old_);
        List("game.pak", new_);
        oldChunks_ = Cut(old_);
        newChunks_ = Cut(new_);
        std::size_t at = 0;
        for (const ChunkPiece& chunk : newChunks_) {
            server_.SetFile(ChunkPath(chunk.md5), new_.substr(at, chunk.size));
            at += chunk.size;
        }
        PublishList(
            ChunkListText({Md5Of(new_), static_cast<std::int64_t>(new_.size()), newChunks_}));
    }

    std::vector<ChunkPiece> Cut(const std::string& bytes) {
        WriteFile(dir_ / "cut", bytes);
        std::vector<ChunkPiece> chunks;
        std::string md5;
        EXPECT_TRUE(CutFileIntoChunks(dir_ / "cut", chunks, &md5));
        platform::RemoveFile(dir_ / "cut");
        return chunks;
    }
    static std::string ChunkPath(const std::string& md5) {
        return "/o/" + md5.substr(0, 2) + "/" + md5;
    }
    // Serves `text` as the entry's chunk list, under its own digest.
    void PublishList(const std::string& text) {
        const std::string md5 = Md5Of(text);
        server_.SetFile(ChunkPath(md5), text);
        Entry(0).strChunkListUrl = ChunkPath(md5).substr(1);
    }
    // The chunks of the new file that the old one lacks.
    std::set<std::string> Missing() {
        std::set<std::string> missing;
        for (const ChunkPiece& chunk : newChunks_) {
            bool held = std::any_of(oldChunks_.begin(), oldChunks_.end(),
                                    [&](const ChunkPiece& old) { return old.md5 == chunk.md5; });
            if (!held)
                missing.insert(ChunkPath(chunk.md5));
        }
        return missing;
    }
    // The chunk and object paths asked for, once each.
    std::set<std::string> Asked() {
        std::set<std::string> paths;
        for (const std::string& request : server_.requests())
            paths.insert(HttpTestServer::RequestPath(request));
        return paths;
    }
    void ExpectInstalledRight() {
        EXPECT_TRUE(Entry(0).bOk.load());
        EXPECT_TRUE(ReadFile(Entry(0).strIncomingPath) == new_) << "a wrong file was assembled";
        EXPECT_EQ(ReadFile(dir_ / "game.pak"), old_) << "the installed file was touched";
    }

    std::string old_, new_;
    std::vector<ChunkPiece> oldChunks_, newChunks_;
};

TEST_F(ChunkedUpdateTest, FetchesOnlyTheChunksTheInstalledFileLacks) {
    const std::set<std::string> missing = Missing();
    ASSERT_GE(missing.size(), 1u);
    ASSERT_LE(missing.size(), 3u);
    VerifyThenDownload();
    ExpectInstalledRight();
    std::set<std::string> asked = Asked();
    EXPECT_EQ(asked.count("/" + Entry(0).strUrl), 0u) << "the whole object was fetched";
    asked.erase("/" + Entry(0).strChunkListUrl);
    EXPECT_EQ(asked, missing);
    std::int64_t fetched = 0;
    for (const ChunkPiece& chunk : newChunks_)
        fetched += missing.count(ChunkPath(chunk.md5)) ? chunk.size : 0;
    const std::set<std::string> distinct = [&] {
        std::set<std::string> md5s;
        for (const ChunkPiece& chunk : newChunks_)
            md5s.insert(chunk.md5);
        return md5s;
    }();
    EXPECT_EQ(CountOf(Log(), "Chunked update of " + Entry(0).strTargetPath + ": " +
                                 std::to_string(distinct.size() - missing.size()) + " chunks (" +
                                 std::to_string(new_.size() - fetched) + " bytes) reused, " +
                                 std::to_string(missing.size()) + " chunks (" +
                                 std::to_string(fetched) + " bytes) fetched"),
              1)
        << Log();
    // Nothing of the update is left behind but the file it made.
    std::vector<platform::FolderItem> left;
    ASSERT_TRUE(platform::ListFolder(dir_ / "incoming", left));
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].name, Entry(0).strName);
}

// Several chunks lacking, fetched as many at once as the build fetches objects.
TEST_F(ChunkedUpdateTest, FetchesTheLackingChunksInParallelWhereTheBuildDoes) {
    EngineSettings parallel = GetEngineSettings();
    parallel.parallelDownloads = 4;
    OverrideEngineSettingsForTesting(parallel);
    for (std::size_t sixth : {1u, 3u, 5u})
        old_.replace(old_.size() * sixth / 6, 100, MakeBytes(100, 23 + sixth));
    WriteFile(dir_ / "game.pak", old_);
    oldChunks_ = Cut(old_);
    const std::set<std::string> missing = Missing();
    ASSERT_GE(missing.size(), 3u); // one chunk for each changed place
    VerifyThenDownload();
    ExpectInstalledRight();
    std::set<std::string> asked = Asked();
    asked.erase("/" + Entry(0).strChunkListUrl);
    EXPECT_EQ(asked, missing);
}

// The file moved: the earlier release put these bytes elsewhere, and they are taken from there.
TEST_F(ChunkedUpdateTest, AMovedFileIsTakenFromWhereTheEarlierReleasePutIt) {
    platform::RemoveFile(dir_ / "game.pak");
    ASSERT_TRUE(platform::MakeFolder(dir_ / "old"));
    WriteFile(dir_ / "old/place.pak", new_);
    FileEntry earlier = MakeFileEntry("objects/" + Md5Of(new_), strInstallDir);
    earlier.strTargetPath = dir_ / "old/place.pak";
    earlier.strManifestMd5 = Md5Of(new_);
    Verify();
    DownloadPendingFiles(Pending(), {earlier});
    EXPECT_TRUE(Entry(0).bOk.load());
    EXPECT_TRUE(ReadFile(Entry(0).strIncomingPath) == new_) << "a wrong file was assembled";
    EXPECT_EQ(Asked(), std::set<std::string>{"/" + Entry(0).strChunkListUrl});
    EXPECT_EQ(CountOf(Log(), " reused, 0 chunks (0 bytes) fetched"), 1) << Log();
    EXPECT_TRUE(ReadFile(dir_ / "old/place.pak") == new_) << "the earlier copy was touched";
}

// A run cut short left its chunk list and a chunk: the start-of-run clean-up keeps them, and the
// next run fetches neither again; a half-assembled file and a stray are cleared.
TEST_F(ChunkedUpdateTest, ARunCutShortLeavesChunksThatTheNextOneUses) {
    const std::string listMd5 = Entry(0).strChunkListUrl.substr(5);
    const std::string listText =
        ChunkListText({Md5Of(new_), static_cast<std::int64_t>(new_.size()), newChunks_});
    WriteFile(IncomingPath(dir_.path(), ChunkListFileName(listMd5)), listText);
    std::size_t at = 0;
    for (const ChunkPiece& chunk : newChunks_) {
        if (Missing().count(ChunkPath(chunk.md5)))
            WriteFile(IncomingPath(dir_.path(), ChunkFileName(chunk.md5)),
                      new_.substr(at, chunk.size));
        at += chunk.size;
    }
    WriteFile(IncomingPath(dir_.path(), AssemblyFileName(Entry(0).strName)), "half");
    WriteFile(IncomingPath(dir_.path(), "stray"), "stray");
    const std::string line = Entry(0).strUrl + "\tgame.pak\t" + Md5Of(new_) + "\t" +
                             std::to_string(new_.size()) + "\t" + Entry(0).strChunkListUrl + "\n";
    WriteFile(dir_ / "launcher_manifest.js", "#" + std::to_string(line.size()) + "\n" + line);
    ClearIncoming();
    EXPECT_FALSE(FileExists(IncomingPath(dir_.path(), "stray")));
    EXPECT_FALSE(FileExists(IncomingPath(dir_.path(), AssemblyFileName(Entry(0).strName))));

    VerifyThenDownload();
    ExpectInstalledRight();
    EXPECT_EQ(Asked(), std::set<std::string>()) << "a chunk was fetched again";
}

struct ChunkFault {
    const char* what;
    // Spoils the chunk list or the chunks the test serves.
    std::function<void(ChunkedUpdateTest&)> spoil;
};

class ChunkFaults : public ChunkedUpdateTest, public ::testing::WithParamInterface<ChunkFault> {};

TEST_P(ChunkFaults, FallBackToTheWholeObject) {
    GetParam().spoil(*this);
    VerifyThenDownload();
    ExpectInstalledRight();
    EXPECT_EQ(Asked().count("/" + Entry(0).strUrl), 1u) << "the whole object was not fetched";
    EXPECT_EQ(CountOf(Log(), "Chunked update of " + Entry(0).strTargetPath + " failed: "), 1)
        << Log();
    EXPECT_EQ(CountOf(Log(), "; fetching the whole object"), 1) << Log();
}

std::string FirstMissing(ChunkedUpdateTest& t) {
    return *t.Missing().begin();
}

ChunkList NewList(ChunkedUpdateTest& t) {
    return {Md5Of(t.new_), static_cast<std::int64_t>(t.new_.size()), t.newChunks_};
}

const ChunkFault kChunkFaults[] = {
    {"ListMissing",
     [](ChunkedUpdateTest& t) { t.server_.RemoveFile("/" + t.Entry(0).strChunkListUrl); }},
    {"ListDamaged",
     [](ChunkedUpdateTest& t) {
         t.server_.SetFile("/" + t.Entry(0).strChunkListUrl, ChunkListText(NewList(t)) + "x");
     }},
    {"ListMalformed", [](ChunkedUpdateTest& t) { t.PublishList("no list\n"); }},
    {"ListCutAtALine",
     [](ChunkedUpdateTest& t) {
         ChunkList list = NewList(t);
         list.chunks.pop_back();
         t.PublishList(ChunkListText(list));
     }},
    {"ListNamesAChunkTwice",
     [](ChunkedUpdateTest& t) {
         ChunkList list = NewList(t);
         list.chunks[1].md5 = list.chunks[0].md5;
         t.PublishList(ChunkListText(list));
     }},
    {"ListOfAnotherFile",
     [](ChunkedUpdateTest& t) {
         ChunkList list = NewList(t);
         list.fileMd5 = Md5Of(t.old_);
         t.PublishList(ChunkListText(list));
     }},
    {"ListSizeDisagrees",
     [](ChunkedUpdateTest& t) {
         ChunkList list = NewList(t);
         ++list.fileSize;
         t.PublishList(ChunkListText(list));
     }},
    {"ChunksMakeAnotherFile",
     [](ChunkedUpdateTest& t) {
         t.PublishList(ChunkListText(
             {Md5Of(t.new_), static_cast<std::int64_t>(t.old_.size()), t.oldChunks_}));
     }},
    {"ChunkMissing", [](ChunkedUpdateTest& t) { t.server_.RemoveFile(FirstMissing(t)); }},
    {"ChunkDamaged", [](ChunkedUpdateTest& t) { t.server_.SetFile(FirstMissing(t), "damaged"); }},
};

INSTANTIATE_TEST_SUITE_P(Faults, ChunkFaults, ::testing::ValuesIn(kChunkFaults),
                         [](const ::testing::TestParamInfo<ChunkFault>& info) {
                             return std::string(info.param.what);
                         });

} // namespace
