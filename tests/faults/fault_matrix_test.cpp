// One row per way a server or a disk can fail the installer. Every row ends, within its time
// limit, either with a complete install that matches the manifest byte for byte, or with the
// error code the player is shown and the files installed before left as they were.

#include "tests/faults/fault_fixture.h"
#include "tests/faults/matrix_report.h"

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <random>
#include <unistd.h>

namespace {

constexpr int kRowLimitMs = 120000;
// The installer gives up on a silent server after its 30-second receive time-out.
constexpr int kStallRowLimitMs = 180000;
constexpr std::int64_t kBigSegment = 620000 / 3; // the new big.pak in three segments
constexpr unsigned kKillSeed = 20240607;
constexpr int kKillRounds = 5;

struct Expectation {
    int code = 0; // 0: a complete install
    Intact intact = Intact::Exactly;
};

std::string Text(const Expectation& expectation) {
    return expectation.code == 0
               ? "complete install"
               : "error " + std::to_string(expectation.code) +
                     (expectation.intact == Intact::Exactly ? ", old files kept"
                                                            : ", files old or new");
}

class FaultMatrix;

struct FaultRow {
    std::string name; // test name and first column of the table
    std::string fault;
    Expectation expected;
    // Arranges the fault and runs the installer (as often as the row needs); returns the run
    // the expectation is about.
    std::function<Outcome(FaultMatrix&)> run;
};

// The row's name where a test lists its parameter.
void PrintTo(const FaultRow& row, std::ostream* out) {
    *out << row.name;
}

class FaultMatrix : public FaultFixture, public ::testing::WithParamInterface<FaultRow> {
  public:
    // The usual arrangement: the old game installed, the new one on the server.
    void Update() {
        InstallPrevious(OldGame());
        Publish(NewGame());
    }
    Outcome Run(int limitMs = kRowLimitMs, const std::vector<std::string>& wrapper = {}) {
        return RunInstaller(limitMs, wrapper);
    }
    HttpTestServer& Server() { return server_; }
    const std::vector<PublishedEntry>& Entries() const { return entries_; }
    // What the rows arrange and look at.
    using FaultFixture::Entry;
    using FaultFixture::ExpectIntact;
    using FaultFixture::Find;
    using FaultFixture::Home;
    using FaultFixture::Incoming;
    using FaultFixture::InstallDir;
    using FaultFixture::Installed;
    using FaultFixture::InstallPrevious;
    using FaultFixture::NewGame;
    using FaultFixture::ObjectUrl;
    using FaultFixture::OldGame;
    using FaultFixture::Publish;
    using FaultFixture::PublishManifest;
    using FaultFixture::StartServer;
};

HttpFault FaultOn(const std::string& path) {
    HttpFault fault;
    fault.path = path;
    return fault;
}

std::vector<GameFile> Without(std::vector<GameFile> files, const std::string& prefix) {
    std::vector<GameFile> kept;
    for (GameFile& file : files)
        if (file.path.compare(0, prefix.size(), prefix) != 0)
            kept.push_back(std::move(file));
    return kept;
}

std::string ManifestOf(const std::vector<PublishedEntry>& entries) {
    std::string body;
    for (const PublishedEntry& entry : entries)
        body += ManifestLine(entry);
    return body;
}

// A 7-Zip archive holding `bytes` under `memberName`.
std::string Archive(const std::string& memberName, const std::string& bytes) {
    TempDir dir;
    WriteFile(dir / memberName, bytes);
    ChildOptions options;
    options.workingDir = dir.path();
    ChildResult result = RunChild({"7z", "a", "-bd", "-y", "packed.7z", memberName}, options);
    EXPECT_TRUE(result.finished && result.exitStatus == 0) << result.stdErr;
    return ReadFile(dir / "packed.7z");
}

// Runs the installer as root without any capability: permission bits then bind it as they bind
// a player. Root's own files stay root's, so a folder is closed to it by taking away the owner's
// write bit.
std::vector<std::string> WithoutPrivileges() {
    return {"setpriv", "--inh-caps=-all", "--bounding-set=-all", "--"};
}

void SetWritable(const std::string& folder, bool writable) {
    namespace fs = std::filesystem;
    fs::permissions(folder, fs::perms::owner_write,
                    writable ? fs::perm_options::add : fs::perm_options::remove);
}

std::vector<FaultRow> Rows() {
    std::vector<FaultRow> rows;
    auto add = [&rows](std::string name, std::string fault, Expectation expected,
                       std::function<Outcome(FaultMatrix&)> run) {
        rows.push_back({std::move(name), std::move(fault), expected, std::move(run)});
    };
    const Expectation complete{0, Intact::Exactly};

    add("ConnectionRefused", "nothing listens on port 80", {101, Intact::Exactly},
        [](FaultMatrix& t) {
            t.Update();
            Outcome outcome = t.Run();
            EXPECT_EQ(CountOf(outcome.log, "Connecting to the server failed."), 3) << outcome.log;
            return outcome;
        });

    add("StallPastTheReceiveTimeOut", "a segment goes silent mid-body, once", complete,
        [](FaultMatrix& t) {
            t.Update();
            HttpFault fault = FaultOn(t.ObjectUrl("launcher/big.pak"));
            fault.rangeStart = kBigSegment;
            fault.stallAfterBodyBytes = 50000;
            fault.times = 1;
            t.Server().AddFault(fault);
            t.StartServer();
            Outcome outcome = t.Run(kStallRowLimitMs);
            EXPECT_EQ(CountOf(outcome.log, "Read error!"), 1) << outcome.log;
            return outcome;
        });

    add("BodyCutShortOnce", "the server closes mid-segment, once", complete, [](FaultMatrix& t) {
        t.Update();
        HttpFault fault = FaultOn(t.ObjectUrl("launcher/big.pak"));
        fault.rangeStart = kBigSegment;
        fault.closeAfterBodyBytes = 70000;
        fault.times = 1;
        t.Server().AddFault(fault);
        t.StartServer();
        Outcome outcome = t.Run();
        // The second attempt goes on from what the first one kept.
        bool resumed = false;
        for (const std::string& request : t.Server().requests())
            resumed = resumed || HttpTestServer::RangeStart(request) == kBigSegment + 70000;
        EXPECT_TRUE(resumed) << "the cut segment was not resumed";
        EXPECT_EQ(CountOf(outcome.log, "下载重试，"), 1) << outcome.log;
        return outcome;
    });

    add("BodyCutShortAlways", "every answer for a file ends early", {108, Intact::Exactly},
        [](FaultMatrix& t) {
            t.Update();
            HttpFault fault = FaultOn(t.ObjectUrl("launcher/small.dat"));
            fault.closeAfterBodyBytes = 1000;
            t.Server().AddFault(fault);
            t.StartServer();
            return t.Run();
        });

    add("RangeIgnored", "200 with the whole file for every range", complete, [](FaultMatrix& t) {
        t.Update();
        HttpFault fault;
        fault.ignoreRange = true;
        t.Server().AddFault(fault);
        t.StartServer();
        Outcome outcome = t.Run();
        EXPECT_NE(outcome.log.find("The server ignores Range"), std::string::npos) << outcome.log;
        return outcome;
    });

    add("NotFound", "404 for a listed object", {108, Intact::Exactly}, [](FaultMatrix& t) {
        t.Update();
        t.Server().RemoveFile(t.ObjectUrl("launcher/small.dat"));
        t.StartServer();
        Outcome outcome = t.Run();
        EXPECT_NE(outcome.log.find("404 error."), std::string::npos);
        return outcome;
    });

    add("ServerError", "500 for a listed object", {108, Intact::Exactly}, [](FaultMatrix& t) {
        t.Update();
        HttpFault fault = FaultOn(t.ObjectUrl("launcher/small.dat"));
        fault.status = 500;
        t.Server().AddFault(fault);
        t.StartServer();
        return t.Run();
    });

    add("NoContentLength", "answers without Content-Length", {108, Intact::Exactly},
        [](FaultMatrix& t) {
            t.Update();
            HttpFault fault = FaultOn(t.ObjectUrl("launcher/small.dat"));
            fault.omitContentLength = true;
            t.Server().AddFault(fault);
            t.StartServer();
            return t.Run();
        });

    add("OverLongHeader", "a response head of 2,000 bytes", {108, Intact::Exactly},
        [](FaultMatrix& t) {
            t.Update();
            HttpFault fault = FaultOn(t.ObjectUrl("launcher/small.dat"));
            fault.headerPadding = 2000;
            t.Server().AddFault(fault);
            t.StartServer();
            Outcome outcome = t.Run();
            EXPECT_NE(outcome.log.find("HTTP header longer than 1024 bytes."), std::string::npos);
            return outcome;
        });

    add("WrongObjectBehindRightName", "other bytes under an object's digest",
        {108, Intact::Exactly}, [](FaultMatrix& t) {
            t.Update();
            t.Server().SetFile(t.ObjectUrl("launcher/small.dat"), "not what the name promises");
            t.StartServer();
            Outcome outcome = t.Run();
            EXPECT_EQ(CountOf(outcome.log, "下载重试，"), 2) << outcome.log;
            EXPECT_EQ(CountOf(outcome.log, "MD5 of the download differs, expected:" +
                                               t.Entry("launcher/small.dat").objectMd5 +
                                               ", received:" + Md5Of("not what the name promises")),
                      3)
                << outcome.log;
            return outcome;
        });

    add("ManifestChangesBetweenRuns", "a failed update, then a newer manifest", complete,
        [](FaultMatrix& t) {
            t.Update();
            HttpFault fault = FaultOn(t.ObjectUrl("launcher/big.pak"));
            // Three attempts of 30,000 bytes each never make a segment of 206,666 whole.
            fault.closeAfterBodyBytes = 30000;
            t.Server().AddFault(fault);
            t.StartServer();
            Outcome first = t.Run();
            EXPECT_EQ(first.code, 108) << Describe(first);
            t.ExpectIntact(Intact::Exactly);

            // The next version changes the files again; what the failed run left behind
            // belongs to objects the new manifest no longer names.
            t.Server().ClearFaults();
            std::vector<GameFile> newer = t.NewGame();
            for (GameFile& file : newer)
                if (file.path == "launcher/big.pak" || file.path == "launcher/small.dat")
                    file.bytes = MakeBytes(file.bytes.size() + 3333, 77);
            t.Publish(newer);
            return t.Run();
        });

    add("PartFileOfAnotherObject", "part files hold bytes of another file", complete,
        [](FaultMatrix& t) {
            t.Update();
            std::string object = t.Entry("launcher/big.pak").objectMd5;
            std::string old = t.Find(t.OldGame(), "launcher/big.pak").bytes;
            WriteFile(t.Incoming(object + "_0"), old.substr(0, 100000));
            WriteFile(t.Incoming(object + "_1"), MakeBytes(kBigSegment, 99));
            t.StartServer();
            Outcome outcome = t.Run();
            EXPECT_EQ(CountOf(outcome.log, "下载重试，"), 1) << outcome.log;
            return outcome;
        });

    add("PartFileLargerThanSegment", "a part file longer than its segment", complete,
        [](FaultMatrix& t) {
            t.Update();
            std::string object = t.Entry("launcher/big.pak").objectMd5;
            WriteFile(t.Incoming(object + "_0"), MakeBytes(kBigSegment + 5000, 98));
            t.StartServer();
            Outcome outcome = t.Run();
            EXPECT_EQ(CountOf(outcome.log, "下载重试，"), 0) << outcome.log;
            return outcome;
        });

    // On Windows a file another program holds open stops the copy (error 21). Here an open file
    // does not stop its replacement: the row asserts that the new bytes are installed whole and
    // that the program holding the old file keeps reading the old bytes, untouched.
    add("TargetHeldOpen", "an installed file is held open", complete, [](FaultMatrix& t) {
        t.Update();
        t.StartServer();
        int held = ::open(t.Installed("launcher/small.dat").c_str(), O_RDONLY | O_CLOEXEC);
        EXPECT_GE(held, 0);
        Outcome outcome = t.Run();
        std::string old = t.Find(t.OldGame(), "launcher/small.dat").bytes;
        std::string seen(old.size() + 1, '\0');
        ssize_t n = ::pread(held, &seen[0], seen.size(), 0);
        ::close(held);
        EXPECT_TRUE(n == static_cast<ssize_t>(old.size()) && seen.compare(0, old.size(), old) == 0)
            << "the open file was written in place";
        return outcome;
    });

    add("MissingArchiver", "a packed file and no 7z.exe", {21, Intact::OldOrNew},
        [](FaultMatrix& t) {
            t.InstallPrevious(Without(t.OldGame(), "plantform/"));
            t.Publish(Without(t.NewGame(), "plantform/"));
            t.StartServer();
            Outcome outcome = t.Run();
            EXPECT_NE(outcome.stdErr.find("error,code:21, ext err:2"), std::string::npos);
            return outcome;
        });

    add("ArchiveWithoutTheMember", "the archive holds another file name", {21, Intact::OldOrNew},
        [](FaultMatrix& t) {
            t.Update();
            std::vector<PublishedEntry> entries = t.Entries();
            PublishedEntry& packed = entries.back();
            std::string archive =
                Archive("not-the-digest", t.Find(t.NewGame(), "launcher/packed.dll").bytes);
            packed.objectMd5 = Md5Of(archive);
            packed.urlPath = "microclient/objects/zz/" + packed.objectMd5;
            t.Server().SetFile("/" + packed.urlPath, archive);
            t.PublishManifest(ManifestOf(entries));
            t.StartServer();
            Outcome outcome = t.Run();
            EXPECT_EQ(CountOf(outcome.log, "解压未完成，文件不存在"), 2) << outcome.log;
            return outcome;
        });

    add("PathLeavesTheFolder", "a manifest path with ..", {105, Intact::Exactly},
        [](FaultMatrix& t) {
            t.Update();
            std::vector<PublishedEntry> entries = t.Entries();
            PublishedEntry evil = entries[4];
            evil.relPath = "launcher/../../outside.dat";
            entries.push_back(evil);
            t.PublishManifest(ManifestOf(entries));
            t.StartServer();
            return t.Run();
        });

    add("KilledAtRandomMoments", "killed at random moments, then run again", complete,
        [](FaultMatrix& t) {
            t.Update();
            // Slow enough that the kills land mid-download, where part files are being written:
            // the drip and the pauses alone make a first run last longer than 5 seconds, so the
            // first kill always lands mid-run; later runs resume and have less left to do.
            HttpFault drip;
            drip.dripDelayMs = 50;
            drip.dripBytes = 4096;
            t.Server().AddFault(drip);
            t.StartServer();
            std::mt19937 random(kKillSeed);
            std::uniform_int_distribution<int> moment(0, 4000);
            int killedMidRun = 0;
            for (int round = 0; round < kKillRounds; ++round) {
                int delayMs = moment(random);
                SCOPED_TRACE("round " + std::to_string(round) + ", killed after " +
                             std::to_string(delayMs) + " ms");
                ChildOptions options;
                options.env["HOME"] = t.Home();
                options.workingDir = t.Home();
                RunningChild installer({FELTO_INSTALLER_BINARY}, options);
                ChildResult ended;
                // Waits for the chosen moment, or less if the run ends by itself.
                if (!installer.Wait(delayMs, ended))
                    ++killedMidRun;
                installer.Kill();
                t.ExpectIntact(Intact::OldOrNew);
            }
            EXPECT_GE(killedMidRun, 1);
            return t.Run();
        });

    add("TwoObjectsMissing", "404 for two listed objects", {108, Intact::Exactly},
        [](FaultMatrix& t) {
            t.Update();
            t.Server().RemoveFile(t.ObjectUrl("launcher/small.dat"));
            t.Server().RemoveFile(t.ObjectUrl("launcher/big.pak"));
            t.StartServer();
            Outcome outcome = t.Run();
            EXPECT_EQ(CountOf(outcome.log, "下载失败,"), 2) << outcome.log;
            EXPECT_EQ(CountOf(outcome.stdErr, "下载失败，请重新运行Felto.exe(108)"), 1)
                << outcome.stdErr;
            return outcome;
        });

    add("IncomingNotWritable", "the download folder cannot be written and holds an old manifest",
        {103, Intact::Exactly}, [](FaultMatrix& t) {
            t.Update();
            t.StartServer();
            SetWritable(t.Installed("incoming"), false);
            Outcome outcome = t.Run(kRowLimitMs, WithoutPrivileges());
            SetWritable(t.Installed("incoming"), true);
            EXPECT_EQ(CountOf(outcome.log, "call remove faild! ,Error: 13"), 1) << outcome.log;
            EXPECT_TRUE(FileExists(t.Incoming("launcher_manifest_x64.js")));
            return outcome;
        });

    // The folder is closed to writing, so the run ends when it copies the manifest there; up to
    // then it logs on standard error and leaves the last run's log alone.
    add("OldLogCannotBeDeleted", "the last run's log is in a folder that cannot be written",
        {104, Intact::Exactly}, [](FaultMatrix& t) {
            t.Update();
            t.StartServer();
            const std::string oldLog = "2026-1-1,00:00:00 the last run\n\n";
            WriteFile(t.Installed("FeltoInstaller.log"), oldLog);
            WriteFile(t.Installed(".FeltoUpdater.lock"), ""); // the last run's
            SetWritable(t.InstallDir(), false);
            Outcome outcome = t.Run(kRowLimitMs, WithoutPrivileges());
            SetWritable(t.InstallDir(), true);
            EXPECT_EQ(outcome.log, oldLog);
            EXPECT_EQ(CountOf(outcome.stdErr, "call remove faild! ,Error: 13"), 1)
                << outcome.stdErr;
            EXPECT_EQ(CountOf(outcome.stdErr, "remove FeltoInstaller.log faild!"), 1)
                << outcome.stdErr;
            EXPECT_EQ(CountOf(outcome.stdErr, "64bit:1, system info:"), 1) << outcome.stdErr;
            return outcome;
        });

    return rows;
}

// Adds the row to the printed matrix when the test ends, however it ends.
class MatrixRecorder {
  public:
    explicit MatrixRecorder(const FaultRow& row) : start_(std::chrono::steady_clock::now()) {
        line_.fault = row.name + ": " + row.fault;
        line_.expected = Text(row.expected);
        line_.observed = "not run";
    }
    ~MatrixRecorder() {
        if (skipped_)
            return;
        line_.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        line_.passed = !::testing::Test::HasFailure();
        RecordMatrixLine(line_);
    }
    void Observed(const Outcome& outcome) { line_.observed = Describe(outcome); }
    void Skipped() { skipped_ = true; }

  private:
    std::chrono::steady_clock::time_point start_;
    MatrixLine line_;
    bool skipped_ = false;
};

TEST_P(FaultMatrix, EndsSoundly) {
    const FaultRow& row = GetParam();
    MatrixRecorder recorder(row);
    Outcome outcome = row.run(*this);
    if (!outcome.skipReason.empty()) {
        recorder.Skipped();
        GTEST_SKIP() << outcome.skipReason;
    }
    recorder.Observed(outcome);
    ASSERT_TRUE(outcome.finished) << "the installer did not end within its time limit\n"
                                  << outcome.stdErr;
    EXPECT_EQ(outcome.code, row.expected.code) << outcome.stdErr;
    if (row.expected.code == 0)
        ExpectComplete(outcome);
    else
        ExpectIntact(row.expected.intact);
    ExpectNothingOutside();
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, ::testing::ValuesIn(Rows()),
                         [](const ::testing::TestParamInfo<FaultRow>& info) {
                             return info.param.name;
                         });

} // namespace
