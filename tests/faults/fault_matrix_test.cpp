// One row per way a server or a disk can fail the installer. Every row ends, within its time
// limit, either with a complete install that matches the manifest byte for byte, or with the
// error code the player is shown and the files installed before left as they were.

#include "manifest/chunk_list.h"
#include "manifest/install_path.h"
#include "tests/faults/fault_fixture.h"
#include "tests/faults/matrix_report.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <stdexcept>
#include <unistd.h>

namespace {

constexpr int kRowLimitMs = 120000;
// The installer gives up on a silent server after its 30-second receive time-out.
constexpr int kStallRowLimitMs = 180000;
constexpr std::int64_t kBigSegment = 620000 / 3; // the new big.pak in three segments
constexpr unsigned kKillSeed = 20240607;
constexpr int kKillRounds = 5;
constexpr unsigned kAssemblyKillSeed = 20261208;
constexpr int kAssemblyKillRounds = 3;
constexpr unsigned kArchiverSeed = 20261207;
constexpr int kArchiverRounds = 4;
constexpr std::int64_t kMiB = 1024 * 1024;

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
    // Why the row runs the native program only; empty when it runs the exe under Wine too.
    std::string nativeOnly;
    std::string installer = FELTO_INSTALLER_BINARY; // the native build the row runs
};

// A row with the program it runs.
struct MatrixCase {
    FaultRow row;
    Program program = Program::Native;
};

// The case's name where a test lists its parameter.
void PrintTo(const MatrixCase& matrixCase, std::ostream* out) {
    *out << matrixCase.row.name << " (" << ProgramName(matrixCase.program) << ")";
}

class FaultMatrix : public FaultFixture, public ::testing::WithParamInterface<MatrixCase> {
  public:
    void SetUp() override {
        UseProgram(GetParam().program);
        FaultFixture::SetUp();
        installer_ = GetParam().row.installer;
        if (installer_ == FELTO_LEAN_INSTALLER_BINARY ||
            installer_ == FELTO_CHUNKED_INSTALLER_BINARY) {
            // The lean builds meet a server that keeps connections, and manifests with sizes.
            server_.SetKeepAlive(true);
            Tree().ListSizes(true);
        }
    }
    // The usual arrangement: the old game installed, the new one on the server.
    void Update() {
        InstallPrevious(OldGame());
        Publish(NewGame());
    }
    Outcome Run(int limitMs = kRowLimitMs, const std::vector<std::string>& wrapper = {}) {
        return RunInstaller(limitMs, wrapper);
    }
    // The published manifest installed, as a run that fetched parts of its objects leaves it:
    // those parts are the ones a later run may resume.
    void InstallPublishedManifest() {
        const std::string name = "launcher_manifest_x64.js";
        WriteFile(Installed(name), ReadFile(tree_.root() + "/microclient/download/" + name));
    }
    HttpTestServer& Server() { return server_; }
    bool Lean() const { return installer_ == FELTO_LEAN_INSTALLER_BINARY; }
    const std::vector<PublishedEntry>& Entries() const { return entries_; }
    // What the rows arrange and look at.
    using FaultFixture::ArchiverRunning;
    using FaultFixture::Entry;
    using FaultFixture::ExpectComplete;
    using FaultFixture::ExpectIntact;
    using FaultFixture::Find;
    using FaultFixture::Home;
    using FaultFixture::Incoming;
    using FaultFixture::InstallDir;
    using FaultFixture::Installed;
    using FaultFixture::InstallPrevious;
    using FaultFixture::LeaveFree;
    using FaultFixture::LoggedPath;
    using FaultFixture::MountSmallDisk;
    using FaultFixture::NewGame;
    using FaultFixture::ObjectUrl;
    using FaultFixture::OldGame;
    using FaultFixture::program;
    using FaultFixture::Publish;
    using FaultFixture::PublishManifest;
    using FaultFixture::runEnv_;
    using FaultFixture::Said;
    using FaultFixture::StartNative;
    using FaultFixture::StartServer;
};

HttpFault FaultOn(const std::string& path) {
    HttpFault fault;
    fault.path = path;
    return fault;
}

// The game with `archiver` as the bytes of every file in the archiver's folder.
std::vector<GameFile> WithArchiver(std::vector<GameFile> files, const std::string& archiver) {
    for (GameFile& file : files)
        if (IsInArchiverFolder(file.path))
            file.bytes = archiver;
    return files;
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

// A 7-Zip archive holding `bytes` under `memberName`, with the read-only attribute when asked.
std::string Archive(const std::string& memberName, const std::string& bytes,
                    bool readOnly = false) {
    TempDir dir;
    WriteFile(dir / memberName, bytes);
    if (readOnly)
        std::filesystem::permissions(dir / memberName, std::filesystem::perms::owner_read |
                                                           std::filesystem::perms::group_read |
                                                           std::filesystem::perms::others_read);
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

Outcome Skipped(const std::string& reason) {
    Outcome skipped;
    skipped.skipReason = reason;
    return skipped;
}

const char* const kNoSmallDisk = "a tmpfs cannot be mounted here";

// What an earlier run's download of the object at `relPath` kept: `pieces[i]` from the start of
// segment i. Part files "<object>_<i>"; the lean build writes a file of several segments in place,
// "<object>.part" with its record "<object>.part.record" (counts first, then the object and its
// length).
void LeaveSegments(FaultMatrix& t, const std::string& relPath,
                   const std::vector<std::string>& pieces) {
    const std::string object = t.Entry(relPath).objectMd5;
    if (!t.Lean()) {
        for (std::size_t i = 0; i < pieces.size(); ++i)
            if (!pieces[i].empty())
                WriteFile(t.Incoming(object + "_" + std::to_string(i)), pieces[i]);
        return;
    }
    const std::int64_t size = t.Entry(relPath).objectSize;
    std::string data, record;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const std::size_t at = i * static_cast<std::size_t>(size / 3);
        data.resize(std::max(data.size(), at + pieces[i].size()));
        data.replace(at, pieces[i].size(), pieces[i]);
        char slot[32];
        std::snprintf(slot, sizeof slot, "%020zu\n", pieces[i].size());
        record += slot;
    }
    WriteFile(t.Incoming(object + ".part"), data);
    WriteFile(t.Incoming(object + ".part.record"),
              record + object + " " + std::to_string(size) + "\n");
}

// Part files that an object's download left in the download folder.
int PartFilesOf(FaultMatrix& t, const std::string& relPath) {
    int count = 0;
    for (int part = 0; part < 3; ++part)
        count += FileExists(t.Incoming(t.Entry(relPath).objectMd5 + "_" + std::to_string(part)));
    return count;
}

std::vector<std::int64_t> RangeStartsOf(FaultMatrix& t, const std::string& relPath) {
    return t.Server().RangeStarts(t.ObjectUrl(relPath));
}

// A relative path of `length` characters in folders of at most 100, all of `fill`.
std::string LongRelativePath(std::size_t length, char fill) {
    std::string path;
    while (length - path.size() > 101)
        path += std::string(100, fill) + "/";
    return path + std::string(length - path.size(), fill);
}

// An update of launcher/big.pak, grown to 6 MiB, whose last bytes change, published with a chunk
// list for it: the chunks lie at "/chunks/<ab>/<md5>". Returns the URL paths of the chunks the
// installed copy lacks.
std::vector<std::string> PublishChunkedUpdate(FaultMatrix& t) {
    const std::string oldBig = MakeBytes(6 * kMiB, 31);
    std::string big = oldBig;
    big.replace(big.size() - 1000, 1000, MakeBytes(1000, 32));
    std::vector<GameFile> older = t.OldGame(), newer = t.OldGame();
    for (std::size_t i = 0; i < older.size(); ++i) {
        if (older[i].path == "launcher/big.pak") {
            older[i].bytes = oldBig;
            newer[i].bytes = big;
        }
    }
    t.InstallPrevious(older);
    t.Publish(newer);
    auto cut = [](const std::string& bytes) {
        TempDir dir;
        WriteFile(dir / "file", bytes);
        std::vector<ChunkPiece> chunks;
        EXPECT_TRUE(CutFileIntoChunks(dir / "file", chunks, nullptr));
        return chunks;
    };
    const std::vector<ChunkPiece> oldChunks = cut(oldBig);
    const ChunkList list{Md5Of(big), static_cast<std::int64_t>(big.size()), cut(big)};
    auto url = [](const std::string& md5) { return "chunks/" + md5.substr(0, 2) + "/" + md5; };
    const std::string listText = ChunkListText(list);
    std::string body;
    for (const PublishedEntry& entry : t.Entries()) {
        std::string line = ManifestLine(entry, true);
        if (entry.relPath == "launcher/big.pak")
            line.insert(line.find('\n'), "\t" + url(Md5Of(listText)));
        body += line;
    }
    t.PublishManifest(body);
    t.Server().SetFile(url(Md5Of(listText)), listText);
    std::vector<std::string> lacking;
    std::size_t at = 0;
    for (const ChunkPiece& chunk : list.chunks) {
        t.Server().SetFile(url(chunk.md5), big.substr(at, chunk.size));
        at += chunk.size;
        if (std::none_of(oldChunks.begin(), oldChunks.end(),
                         [&](const ChunkPiece& old) { return old.md5 == chunk.md5; }))
            lacking.push_back("/" + url(chunk.md5));
    }
    return lacking;
}

int RequestsFor(FaultMatrix& t, const std::string& path) {
    int count = 0;
    for (const std::string& request : t.Server().requests())
        count += HttpTestServer::RequestPath(request) == path;
    return count;
}

// The update served with one fault, set by `set`, on the big file's second segment, once.
void FaultSecondSegmentOnce(FaultMatrix& t, const std::function<void(HttpFault&)>& set) {
    t.Update();
    HttpFault fault = FaultOn(t.ObjectUrl("launcher/big.pak"));
    fault.rangeStart = kBigSegment;
    fault.times = 1;
    set(fault);
    t.Server().AddFault(fault);
    t.StartServer();
}

// The update served with the big file's second segment going silent mid-body, once.
void StallSecondSegmentOnce(FaultMatrix& t) {
    FaultSecondSegmentOnce(t, [](HttpFault& fault) { fault.stallAfterBodyBytes = 50000; });
}

std::vector<FaultRow> Rows() {
    std::vector<FaultRow> rows;
    auto add = [&rows](std::string name, std::string fault, Expectation expected,
                       std::function<Outcome(FaultMatrix&)> run) {
        rows.push_back({std::move(name), std::move(fault), expected, std::move(run), ""});
    };
    // The row just added stays with the native program, for the reason given.
    auto nativeOnly = [&rows](std::string reason) { rows.back().nativeOnly = std::move(reason); };
    const std::string kSetpriv = "permission bits bind through setpriv, which wraps only the "
                                 "native program (Wine runs as the test's root)";
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
            StallSecondSegmentOnce(t);
            Outcome outcome = t.Run(kStallRowLimitMs);
            EXPECT_EQ(CountOf(outcome.log, "Read error!"), 1) << outcome.log;
            return outcome;
        });

    add("BodyCutShortOnce", "the server closes mid-segment, once", complete, [](FaultMatrix& t) {
        FaultSecondSegmentOnce(t, [](HttpFault& fault) { fault.closeAfterBodyBytes = 70000; });
        Outcome outcome = t.Run();
        // The second attempt goes on from what the first one kept.
        bool resumed = false;
        for (const std::string& request : t.Server().requests())
            resumed = resumed || HttpTestServer::RangeStart(request) == kBigSegment + 70000;
        EXPECT_TRUE(resumed) << "the cut segment was not resumed";
        EXPECT_EQ(CountOf(outcome.log, t.Said("下载重试，")), 1) << outcome.log;
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

    // CDNs and object stores add request ids, Via chains and cookies to every head.
    add("LongHeads", "response heads of 1,025, 4,000 and 16,384 bytes", complete,
        [](FaultMatrix& t) {
            t.Update();
            const std::pair<const char*, std::size_t> heads[] = {{"launcher/small.dat", 1025},
                                                                 {"launcher/big.pak", 16384}};
            for (const auto& [relPath, length] : heads) {
                HttpFault fault = FaultOn(t.ObjectUrl(relPath));
                fault.headLength = length;
                t.Server().AddFault(fault);
            }
            HttpFault manifest = FaultOn("/microclient/download/launcher_manifest_x64.js");
            manifest.headLength = 4000;
            t.Server().AddFault(manifest);
            t.StartServer();
            return t.Run();
        });

    add("OverLongHeader", "a response head of 16,385 bytes", {108, Intact::Exactly},
        [](FaultMatrix& t) {
            t.Update();
            HttpFault fault = FaultOn(t.ObjectUrl("launcher/small.dat"));
            fault.headLength = 16385;
            t.Server().AddFault(fault);
            t.StartServer();
            Outcome outcome = t.Run();
            EXPECT_EQ(CountOf(outcome.log, "HTTP header longer than 16384 bytes."), 3)
                << outcome.log;
            return outcome;
        });

    // An edge that compresses or chunks what it passes on; the next run meets an honest one.
    add("CompressingEdge", "gzip answers for an object, then an honest edge", complete,
        [](FaultMatrix& t) {
            t.Update();
            HttpFault fault = FaultOn(t.ObjectUrl("launcher/small.dat"));
            fault.contentEncoding = "gzip";
            t.Server().AddFault(fault);
            t.StartServer();
            Outcome first = t.Run();
            EXPECT_EQ(first.code, 108) << Describe(first);
            EXPECT_EQ(
                CountOf(first.log, "127.0.0.1 compressed the answer (Content-Encoding: gzip)"), 3)
                << first.log;
            t.ExpectIntact(Intact::Exactly);
            t.Server().ClearFaults();
            return t.Run();
        });

    add("GzipManifest", "gzip data as the manifest, then an honest edge", complete,
        [](FaultMatrix& t) {
            t.Update();
            const std::string gzip = std::string("\x1f\x8b\x08\x00", 4) + MakeBytes(300, 5);
            t.StartServer();
            t.Server().SetFile("/microclient/download/launcher_manifest_x64.js", gzip);
            Outcome first = t.Run();
            EXPECT_EQ(first.code, 101) << Describe(first);
            EXPECT_EQ(CountOf(first.log, "size header of launcher_manifest_x64.js: the server "
                                         "compressed the answer"),
                      3)
                << first.log;
            // Neither copied nor read: the installed copy is still the earlier manifest.
            EXPECT_NE(ReadFile(t.Installed("launcher_manifest_x64.js")).compare(0, 2, "\x1f\x8b"),
                      0);
            t.ExpectIntact(Intact::Exactly);
            t.Publish(t.NewGame());
            return t.Run();
        });

    add("ChunkedEdge", "chunked answers without Content-Length, then an honest edge", complete,
        [](FaultMatrix& t) {
            t.Update();
            HttpFault fault = FaultOn(t.ObjectUrl("launcher/big.pak"));
            fault.chunked = true;
            t.Server().AddFault(fault);
            t.StartServer();
            Outcome first = t.Run();
            EXPECT_EQ(first.code, 108) << Describe(first);
            EXPECT_EQ(CountOf(first.log, "127.0.0.1 sent the answer chunked (Transfer-Encoding: "
                                         "chunked) without Content-Length"),
                      3)
                << first.log;
            t.ExpectIntact(Intact::Exactly);
            t.Server().ClearFaults();
            return t.Run();
        });

    add("WrongObjectBehindRightName", "other bytes under an object's digest",
        {108, Intact::Exactly}, [](FaultMatrix& t) {
            t.Update();
            t.Server().SetFile(t.ObjectUrl("launcher/small.dat"), "not what the name promises");
            t.StartServer();
            Outcome outcome = t.Run();
            EXPECT_EQ(CountOf(outcome.log, t.Said("下载重试，")), 2) << outcome.log;
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
            t.InstallPublishedManifest();
            std::string old = t.Find(t.OldGame(), "launcher/big.pak").bytes;
            LeaveSegments(t, "launcher/big.pak",
                          {old.substr(0, 100000), MakeBytes(kBigSegment, 99), ""});
            t.StartServer();
            Outcome outcome = t.Run();
            EXPECT_EQ(CountOf(outcome.log, t.Said("下载重试，")), 1) << outcome.log;
            return outcome;
        });

    add("PartFileLargerThanSegment", "a part file longer than its segment", complete,
        [](FaultMatrix& t) {
            t.Update();
            t.InstallPublishedManifest();
            LeaveSegments(t, "launcher/big.pak", {MakeBytes(kBigSegment + 5000, 98), "", ""});
            t.StartServer();
            Outcome outcome = t.Run();
            EXPECT_EQ(CountOf(outcome.log, t.Said("下载重试，")), 0) << outcome.log;
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
    nativeOnly("an open file does not stop its replacement here; the exe meets a file held "
               "without delete sharing in a Wine test of its own");

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
            // Listed before it unpacked, with the bytes the archive should yield: its download
            // in the download folder bears the name of the archive's member, and must not pass
            // for it. A broken archive is reported, not masked.
            const std::string unpacked = t.Find(t.NewGame(), "launcher/packed.dll").bytes;
            PublishedEntry plain{"microclient/objects/yy/" + packed.fileMd5,
                                 "launcher/packed-plain.dll", packed.fileMd5, packed.fileMd5};
            t.Server().SetFile("/" + plain.urlPath, unpacked);
            entries.insert(entries.end() - 1, plain);
            t.PublishManifest(ManifestOf(entries));
            t.StartServer();
            Outcome outcome = t.Run();
            EXPECT_EQ(CountOf(outcome.log, t.Said("解压未完成，文件不存在")), 2) << outcome.log;
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
                std::unique_ptr<RunningChild> installer = t.StartNative();
                ChildResult ended;
                // Waits for the chosen moment, or less if the run ends by itself.
                if (!installer->Wait(delayMs, ended))
                    ++killedMidRun;
                installer->Kill();
                t.ExpectIntact(Intact::OldOrNew);
            }
            EXPECT_GE(killedMidRun, 1);
            return t.Run();
        });
    nativeOnly("the rounds kill the process that RunningChild started, and five drip-fed "
               "runs cost minutes; the exe was killed the same way by hand");

    add("TwoObjectsMissing", "404 for two listed objects", {108, Intact::Exactly},
        [](FaultMatrix& t) {
            t.Update();
            t.Server().RemoveFile(t.ObjectUrl("launcher/small.dat"));
            t.Server().RemoveFile(t.ObjectUrl("launcher/big.pak"));
            t.StartServer();
            Outcome outcome = t.Run();
            EXPECT_EQ(CountOf(outcome.log, t.Said("下载失败,")), 2) << outcome.log;
            // One box: on standard error natively; the exe's boxes are seen through the log.
            if (t.program() == Program::Native)
                EXPECT_EQ(CountOf(outcome.stdErr, "下载失败，请重新运行Felto.exe(108)"), 1)
                    << outcome.stdErr;
            else
                EXPECT_EQ(CountOf(outcome.log, "error,code:108"), 1) << outcome.log;
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
    nativeOnly(kSetpriv);

    // The folder and the last run's manifest copy are closed to writing, so the run ends when it
    // copies the manifest there; up to then it adds its lines to the last run's log, which it
    // cannot remove, after a line that says where this run starts.
    add("OldLogCannotBeDeleted", "the last run's log is in a folder that cannot be written",
        {104, Intact::Exactly}, [](FaultMatrix& t) {
            t.Update();
            t.StartServer();
            const std::string oldLog = "2026-1-1,00:00:00 the last run\n\n";
            WriteFile(t.Installed("FeltoInstaller.log"), oldLog);
            WriteFile(t.Installed(".FeltoUpdater.lock"), ""); // the last run's
            const std::string manifestCopy = t.Installed("launcher_manifest_x64.js");
            SetWritable(t.InstallDir(), false);
            SetWritable(manifestCopy, false);
            Outcome outcome = t.Run(kRowLimitMs, WithoutPrivileges());
            SetWritable(manifestCopy, true);
            SetWritable(t.InstallDir(), true);
            // The last run's lines stay first; this run's follow the line that starts them.
            EXPECT_EQ(outcome.log.compare(0, oldLog.size(), oldLog), 0) << outcome.log;
            EXPECT_EQ(CountOf(outcome.log, "==== A new run starts here"), 1) << outcome.log;
            EXPECT_LT(outcome.log.find("==== A new run starts here"),
                      outcome.log.find("64bit:1, system info:"))
                << outcome.log;
            EXPECT_EQ(CountOf(outcome.stdErr, "call remove faild! ,Error: 13"), 1)
                << outcome.stdErr;
            EXPECT_EQ(CountOf(outcome.stdErr, "remove FeltoInstaller.log faild!"), 1)
                << outcome.stdErr;
            EXPECT_EQ(CountOf(outcome.stdErr, "64bit:1, system info:"), 1) << outcome.stdErr;
            return outcome;
        });
    nativeOnly(kSetpriv);

    // An archiver that is slow to start, and an unpacked copy of the file already in the
    // download folder: the copy must never be taken for the archiver's output, nor the output
    // copied while the archiver rewrites it. Two entries share the packed file, so the second
    // unpacks over the first one's output within the same run as well.
    add("SlowArchiverOverAnUnpackedCopy", "archiver starts 100-500 ms late, stale copy present",
        complete, [](FaultMatrix& t) {
            std::string archiver = "#!/bin/sh\nsleep \"$(cat \"$HOME/Felto/archiver-delay\")\"\n"
                                   "exec 7z \"$@\" >/dev/null\n";
            std::string block = MakeBytes(64 * 1024, 31);
            std::string large;
            for (int i = 0; i < 1600; ++i) // 100 MiB that pack small
                large += block + std::to_string(i);
            std::vector<GameFile> game;
            for (GameFile file : WithArchiver(t.NewGame(), archiver)) {
                if (file.path == "launcher/packed.dll")
                    file.bytes = large;
                game.push_back(file);
            }
            game.push_back({"launcher/packed-twin.dll", large, true});
            t.InstallPrevious(game);
            t.Publish(game);
            t.StartServer();
            std::mt19937 random(kArchiverSeed);
            std::uniform_int_distribution<int> delayMs(100, 500);
            Outcome outcome;
            for (int round = 0; round < kArchiverRounds; ++round) {
                int delay = delayMs(random);
                SCOPED_TRACE("round " + std::to_string(round) + ", archiver " +
                             std::to_string(delay) + " ms late");
                WriteFile(t.Installed("archiver-delay"), std::to_string(delay / 1000.0));
                for (const char* path : {"launcher/packed.dll", "launcher/packed-twin.dll"})
                    std::remove(t.Installed(path).c_str());
                WriteFile(t.Incoming(t.Entry("launcher/packed.dll").fileMd5), large);
                outcome = t.Run();
                EXPECT_EQ(outcome.code, 0) << outcome.log;
                for (const char* path : {"launcher/packed.dll", "launcher/packed-twin.dll"})
                    EXPECT_TRUE(ReadFile(t.Installed(path)) == large) << path << " differs";
            }
            return outcome;
        });
    nativeOnly("four rounds over 100 MiB; SlowOrPausedArchiver is the row that runs on both");

    // The unpacked file is whole and right when the installer has looked at it, and is cut short
    // the moment the installer starts to copy it: only the check of the copy stands between the
    // cut file and the install folder.
    add("SourceCutDuringTheCopy", "the unpacked file is cut after its check, before its copy",
        {21, Intact::OldOrNew}, [](FaultMatrix& t) {
            t.Update();
            t.StartServer();
            const std::string source = t.Incoming(t.Entry("launcher/packed.dll").fileMd5);
            // AddressSanitizer wants its run-time first in the list of libraries; the preloaded
            // one comes first here, which is harmless for what it wraps.
            const char* asan = std::getenv("ASAN_OPTIONS");
            Outcome outcome = t.Run(
                kRowLimitMs,
                {"env", "LD_PRELOAD=" FELTO_SPOIL_SOURCE_LIBRARY, "FELTO_SPOIL_SOURCE=" + source,
                 "ASAN_OPTIONS=" + std::string(asan ? asan : "") + ":verify_asan_link_order=0"});
            EXPECT_TRUE(ReadFile(t.Installed("launcher/packed.dll")) ==
                        t.Find(t.OldGame(), "launcher/packed.dll").bytes);
            EXPECT_FALSE(FileExists(t.Installed("launcher/~felto.tmp")));
            const std::string unpacked = t.Find(t.NewGame(), "launcher/packed.dll").bytes;
            EXPECT_EQ(CountOf(outcome.log,
                              "MD5不一致,local:" + Md5Of(unpacked.substr(0, unpacked.size() / 2)) +
                                  ",manifest:" + t.Entry("launcher/packed.dll").fileMd5),
                      1)
                << outcome.log;
            return outcome;
        });
    nativeOnly("the cut comes from a library preloaded into the native program, which the exe "
               "under Wine does not load");

    // An unpacked file of the right size and the wrong bytes lies in the download folder under a
    // name that another entry's download may use, so it outlives the folder's cleanup; the
    // archiver starts only once the installer has missed its output (or more than a second
    // late). Only the archiver's own output may be taken.
    add("StaleUnpackedCopyOfTheRightSize", "a wrong unpacked copy of the right size, late archiver",
        complete, [](FaultMatrix& t) {
            std::string archiver =
                "#!/bin/sh\nfor i in $(seq 30); do\n"
                "  grep -q '文件不存在' \"$HOME/Felto/FeltoInstaller.log\" && break\n"
                "  sleep 0.05\ndone\nexec 7z \"$@\" >/dev/null\n";
            const std::string unpacked = t.Find(t.NewGame(), "launcher/packed.dll").bytes;
            auto withArchiver = [&](std::vector<GameFile> game) {
                game = WithArchiver(std::move(game), archiver);
                // Listed unpacked, with the bytes that the packed entry unpacks to.
                game.push_back({"launcher/packed-plain.dll", unpacked, false});
                return game;
            };
            t.InstallPrevious(withArchiver(t.OldGame()));
            t.Publish(withArchiver(t.NewGame()));
            t.StartServer();
            std::string stale = unpacked;
            stale[stale.size() / 2] ^= 0x55;
            WriteFile(t.Incoming(t.Entry("launcher/packed.dll").fileMd5), stale);
            return t.Run();
        });
    nativeOnly("its late archiver is a shell script that reads the log, which only the native "
               "program can start");

    add("LongFileName", "a file name of 250 bytes", complete, [](FaultMatrix& t) {
        std::vector<GameFile> game = t.NewGame();
        game.push_back({"launcher/" + std::string(246, 'n') + ".dat", "long name", false});
        t.InstallPrevious(t.OldGame());
        t.Publish(game);
        t.StartServer();
        return t.Run();
    });

    add("PartialWithoutContentRange", "206 answers without Content-Range", complete,
        [](FaultMatrix& t) {
            t.Update();
            HttpFault fault;
            fault.omitContentRange = true;
            t.Server().AddFault(fault);
            t.StartServer();
            Outcome outcome = t.Run();
            EXPECT_EQ(CountOf(outcome.log, "Range ignored"), 0) << outcome.log;
            EXPECT_EQ(CountOf(outcome.log, t.Said("下载重试，")), 0) << outcome.log;
            return outcome;
        });

    // The head of the first answer, then the body of every later one, come a byte a second:
    // each receive is well within its time-out, the whole never within a window.
    add("Trickle", "a byte a second, head and body", {108, Intact::Exactly}, [](FaultMatrix& t) {
        t.Update();
        HttpFault head = FaultOn(t.ObjectUrl("launcher/big.pak"));
        head.rangeStart = 0;
        head.times = 1;
        head.headDripDelayMs = 1000;
        t.Server().AddFault(head);
        HttpFault body = FaultOn(t.ObjectUrl("launcher/big.pak"));
        body.dripBytes = 1;
        body.dripDelayMs = 1000;
        t.Server().AddFault(body);
        t.StartServer();
        Outcome outcome = t.Run(kStallRowLimitMs);
        EXPECT_EQ(CountOf(outcome.log, "127.0.0.1 is too slow: the response head was not "
                                       "complete 30000 ms after the request."),
                  1)
            << outcome.log;
        EXPECT_GE(CountOf(outcome.log,
                          "127.0.0.1 is too slow: fewer than 1024 bytes in 30000 ms of the body."),
                  2)
            << outcome.log;
        return outcome;
    });

    // 100 GiB of zeros announced for an object, on a disk of a few MiB; then an honest server.
    add("LyingLengthOnASmallDisk", "a huge Content-Length, then an honest server", complete,
        [](FaultMatrix& t) {
            if (!t.MountSmallDisk())
                return Skipped(kNoSmallDisk);
            t.Update();
            t.LeaveFree(4 * kMiB);
            HttpFault fault = FaultOn(t.ObjectUrl("launcher/big.pak"));
            fault.announcedLength = 100 * 1024 * kMiB;
            t.Server().AddFault(fault);
            t.StartServer();
            Outcome first = t.Run();
            EXPECT_EQ(first.code, 108) << Describe(first);
            EXPECT_EQ(CountOf(first.log,
                              "Not enough free space for " +
                                  t.LoggedPath(t.Incoming(t.Entry("launcher/big.pak").objectMd5)) +
                                  ": 107374182400 bytes to fetch, "),
                      3)
                << first.log;
            EXPECT_EQ(PartFilesOf(t, "launcher/big.pak"), 0);
            t.ExpectIntact(Intact::Exactly);

            t.Server().ClearFaults();
            return t.Run();
        });

    // An archive that unpacks to far more than the disk holds; then an honest manifest.
    add("ArchiveBombOnASmallDisk", "an archive bomb, then an honest manifest", complete,
        [](FaultMatrix& t) {
            if (!t.MountSmallDisk())
                return Skipped(kNoSmallDisk);
            t.Update();
            t.LeaveFree(3 * kMiB);
            std::vector<PublishedEntry> entries = t.Entries();
            PublishedEntry& packed = entries.back();
            std::string bomb = Archive(packed.fileMd5, std::string(64 * kMiB, '\0'));
            packed.objectMd5 = Md5Of(bomb);
            packed.urlPath = "microclient/objects/zz/" + packed.objectMd5;
            t.Server().SetFile("/" + packed.urlPath, bomb);
            t.PublishManifest(ManifestOf(entries));
            t.StartServer();
            Outcome first = t.Run();
            EXPECT_EQ(first.code, 21) << Describe(first);
            t.ExpectIntact(Intact::OldOrNew);

            t.Publish(t.NewGame());
            return t.Run();
        });

    // The parts fit on the disk, their join does not; then the disk grows and the next run
    // joins the parts that the failed one kept.
    add("DiskFullDuringTheJoin", "the disk fills while parts are joined, then grows", complete,
        [](FaultMatrix& t) {
            if (!t.MountSmallDisk())
                return Skipped(kNoSmallDisk);
            t.Update();
            t.LeaveFree(t.Find(t.NewGame(), "launcher/big.pak").bytes.size() + 100 * 1024);
            t.StartServer();
            Outcome first = t.Run();
            EXPECT_EQ(first.code, 108) << Describe(first);
            // The failed write's line ends with the number; the cause follows on its own line.
            std::vector<std::string> messages = LogMessages(first.log);
            int at = FindMessage(messages, "fwrite faild, ");
            EXPECT_TRUE(at >= 0 && at + 1 < static_cast<int>(messages.size()) &&
                        messages[at].size() > 11 &&
                        messages[at].compare(messages[at].size() - 11, 11, " ,Error: 28") == 0 &&
                        messages[at + 1].compare(0, 23, "No space left on device") == 0)
                << first.log;
            t.ExpectIntact(Intact::Exactly);

            t.LeaveFree(8 * kMiB);
            t.Server().ClearRequests();
            Outcome second = t.Run();
            EXPECT_EQ(RangeStartsOf(t, "launcher/big.pak"), std::vector<std::int64_t>{0})
                << "the parts of the failed join were fetched again";
            return second;
        });

    // Part files already hold all of an object but its last bytes; the disk has room for those,
    // not for the whole object. The download goes on; the copy into place then needs the room of
    // the whole file, which the next run, on a grown disk, has.
    add("ResumeOnANearlyFullDisk", "parts hold nearly all of a file, room for the rest only",
        complete, [](FaultMatrix& t) {
            if (!t.MountSmallDisk())
                return Skipped(kNoSmallDisk);
            t.Update();
            t.InstallPublishedManifest();
            const std::string object = t.Entry("launcher/big.pak").objectMd5;
            const std::string bytes = t.Find(t.NewGame(), "launcher/big.pak").bytes;
            const std::int64_t size = static_cast<std::int64_t>(bytes.size());
            const std::int64_t segment = size / 3;
            WriteFile(t.Incoming(object + "_0"), bytes.substr(0, segment));
            WriteFile(t.Incoming(object + "_1"), bytes.substr(segment, segment));
            WriteFile(t.Incoming(object + "_2"),
                      bytes.substr(2 * segment, size - 2 * segment - 1000));
            t.LeaveFree(size * 2 / 3);
            t.StartServer();
            Outcome first = t.Run();
            EXPECT_EQ(CountOf(first.log, "Not enough free space"), 0) << first.log;
            EXPECT_EQ(RangeStartsOf(t, "launcher/big.pak"),
                      (std::vector<std::int64_t>{0, size - 1000}))
                << "the rest of the file was not fetched";
            t.ExpectIntact(Intact::OldOrNew);

            t.LeaveFree(8 * kMiB);
            t.Server().ClearRequests();
            Outcome second = t.Run();
            EXPECT_EQ(RangeStartsOf(t, "launcher/big.pak"), std::vector<std::int64_t>{})
                << "the joined download was not reused";
            return second;
        });

    // An earlier run left the disk full of things no entry can use; what entries can use stays.
    add("DiskFullOfLeftovers", "incoming holds what no entry uses, the disk is full", complete,
        [](FaultMatrix& t) {
            if (!t.MountSmallDisk())
                return Skipped(kNoSmallDisk);
            t.Update();
            t.InstallPublishedManifest();
            const std::string small = t.Entry("launcher/small.dat").objectMd5;
            const std::string bigBytes = t.Find(t.NewGame(), "launcher/big.pak").bytes;
            // Usable: a whole download and a part file of listed objects.
            WriteFile(t.Incoming(small), t.Find(t.NewGame(), "launcher/small.dat").bytes);
            LeaveSegments(t, "launcher/big.pak", {bigBytes.substr(0, 100000), "", ""});
            // Unusable: parts of an object no longer listed, an unpacked file, archive output.
            const std::string gone = std::string(32, 'f');
            for (int part = 0; part < 3; ++part)
                WriteFile(t.Incoming(gone + "_" + std::to_string(part)), MakeBytes(kMiB, part));
            WriteFile(t.Incoming(gone + ".part"), MakeBytes(kMiB, 4));
            WriteFile(t.Incoming(gone + ".part.record"), "00000000000000000000\n");
            WriteFile(t.Incoming(t.Entry("launcher/packed.dll").fileMd5), MakeBytes(300000, 7));
            std::filesystem::create_directories(t.Incoming("extracted/deeper"));
            WriteFile(t.Incoming("extracted/deeper/file"), MakeBytes(200000, 8));
            t.LeaveFree(64 * 1024); // room for the log, not for the download
            t.StartServer();
            Outcome outcome = t.Run();
            for (const std::string& name :
                 {gone + "_0", gone + "_2", gone + ".part", std::string("extracted")})
                EXPECT_FALSE(FileExists(t.Incoming(name))) << name << " was left";
            // The unpacked file there now is the archiver's own; the lean build moved it into
            // place.
            const std::string unpacked = t.Incoming(t.Entry("launcher/packed.dll").fileMd5);
            if (t.Lean())
                EXPECT_FALSE(FileExists(unpacked));
            else
                EXPECT_TRUE(ReadFile(unpacked) == t.Find(t.NewGame(), "launcher/packed.dll").bytes);
            EXPECT_EQ(RangeStartsOf(t, "launcher/small.dat"), std::vector<std::int64_t>{})
                << "the whole download was not reused";
            std::vector<std::int64_t> bigStarts = RangeStartsOf(t, "launcher/big.pak");
            EXPECT_EQ(std::count(bigStarts.begin(), bigStarts.end(), 100000), 1)
                << "the part file was not resumed";
            return outcome;
        });

    // The archiver restores the read-only attribute that the packed member carries. The next
    // repair must still be able to delete the unpacked copy and replace the installed file.
    add("ReadOnlyMemberThenRepair", "a packed member is read-only, then a repair", complete,
        [](FaultMatrix& t) {
            t.Update();
            std::vector<PublishedEntry> entries = t.Entries();
            PublishedEntry& packed = entries.back();
            std::string archive =
                Archive(packed.fileMd5, t.Find(t.NewGame(), "launcher/packed.dll").bytes, true);
            packed.objectMd5 = Md5Of(archive);
            packed.urlPath = "microclient/objects/zz/" + packed.objectMd5;
            t.Server().SetFile("/" + packed.urlPath, archive);
            t.PublishManifest(ManifestOf(entries));
            t.StartServer();
            Outcome first = t.Run();
            EXPECT_EQ(first.code, 0) << first.log;
            // The player's file breaks; the repair meets the read-only unpacked copy.
            WriteFile(t.Installed("launcher/packed.dll"), "damaged");
            Outcome repair = t.Run();
            EXPECT_GE(CountOf(repair.log, "Cleared the read-only attribute of "), 1) << repair.log;
            return repair;
        });

    // An archiver held still for 4 s once its output exists (a virus scan, a busy disk), then
    // one that starts 2 s late: only its end says the unpacked file is whole.
    // An archiver that hands its work to a process of its own and ends before the output is
    // there: the wait looks again, and the output that comes between two looks is installed.
    add("ArchiverEndsBeforeItsOutput", "the archiver ends, its child writes the output later",
        complete, [](FaultMatrix& t) {
            t.InstallPrevious(t.OldGame());
            t.Publish(t.NewGame());
            const std::string output = t.Incoming(t.Entry("launcher/packed.dll").fileMd5);
            // The child starts once the installer has logged its first look in vain, and ends
            // without a word when the installer has ended first.
            const std::string script =
                "#!/bin/sh\n(while ! grep -qF 'file = " + output + ",' '" +
                t.Installed("FeltoInstaller.log") +
                "'; do kill -0 $PPID 2>/dev/null || exit 0; sleep 0.01; done\n"
                "exec 7z \"$@\" >/dev/null) >/dev/null 2>&1 &\n";
            std::vector<GameFile> game = WithArchiver(t.NewGame(), script);
            t.Publish(game);
            t.StartServer();
            Outcome outcome = t.Run();
            EXPECT_GE(CountOf(outcome.log, "解压未完成，文件不存在, file = " + output), 1)
                << outcome.log;
            return outcome;
        });
    nativeOnly("the looks are the same code in the exe, whose archiver start the paused and "
               "late archivers cover");

    add("SlowOrPausedArchiver", "archiver paused 4 s mid-write, then 2 s late", complete,
        [](FaultMatrix& t) {
            std::string block = MakeBytes(64 * 1024, 41);
            std::string large;
            for (int i = 0; i < 512; ++i) // 32 MiB that pack small
                large += block + std::to_string(i);
            std::vector<GameFile> game = t.NewGame();
            for (GameFile& file : game)
                if (file.path == "launcher/packed.dll")
                    file.bytes = large;
            t.InstallPrevious(t.OldGame());
            t.Publish(game);
            const std::string output = t.Incoming(t.Entry("launcher/packed.dll").fileMd5);
            const std::string paused = "#!/bin/sh\n7z \"$@\" >/dev/null &\narchiver=$!\n"
                                       "n=0\nwhile [ ! -s '" +
                                       output +
                                       "' ] && [ $n -lt 1000 ]; do sleep 0.01; n=$((n+1)); done\n"
                                       "kill -STOP $archiver\nsleep 4\nkill -CONT $archiver\n"
                                       "wait $archiver\n";
            const std::string late = "#!/bin/sh\nsleep 2\nexec 7z \"$@\" >/dev/null\n";
            t.StartServer();
            Outcome outcome;
            for (const std::string& script : {paused, late}) {
                SCOPED_TRACE(script == paused ? "paused" : "late");
                t.Publish(WithArchiver(game, t.ArchiverRunning(script)));
                outcome = t.Run();
                EXPECT_EQ(outcome.code, 0) << outcome.log;
                EXPECT_TRUE(ReadFile(t.Installed("launcher/packed.dll")) == large);
                std::remove(t.Installed("launcher/packed.dll").c_str());
            }
            return t.Run();
        });

    // The copy that is checked before it goes into place needs room for a second file; with
    // the download already in place and too little room for that, the target is overwritten
    // where it stands and then checked.
    // The same for a target past the Windows limit of 260 characters (a 300-character path).
    for (bool longTarget : {false, true}) {
        add(longTarget ? "TightDiskUpdateOfALongTarget" : "TightDiskUpdate",
            longTarget ? "room for the update of a 300-character target in place only"
                       : "room for the update in place, not for a second copy",
            complete, [longTarget](FaultMatrix& t) {
                if (!t.MountSmallDisk())
                    return Skipped(kNoSmallDisk);
                const std::string rel =
                    longTarget ? LongRelativePath(300 - 9, 'g') : "launcher/big.pak";
                auto moved = [&](std::vector<GameFile> files) {
                    for (GameFile& file : files)
                        if (file.path == "launcher/big.pak")
                            file.path = rel;
                    return files;
                };
                t.InstallPrevious(moved(t.OldGame()));
                t.Publish(moved(t.NewGame()));
                t.InstallPublishedManifest();
                const std::string big = t.Find(t.NewGame(), "launcher/big.pak").bytes;
                WriteFile(t.Incoming(t.Entry(rel).objectMd5), big);
                t.LeaveFree(300 * 1024);
                t.StartServer();
                Outcome outcome = t.Run();
                EXPECT_EQ(CountOf(outcome.log, "overwriting it in place"), 1) << outcome.log;
                EXPECT_FALSE(FileExists(t.Incoming("~felto.tmp")));
                return outcome;
            });
    }

    // Targets near and past the Windows limit of 260 characters, counted as the exe names them
    // (D:\Felto\ and the listed path): each installed, then replaced with new bytes while the
    // longest is read-only, as an archiver leaves a member that carries the attribute.
    add("LongTargets", "targets of 250, 255, 259, 270 and 400 characters, installed twice",
        complete, [](FaultMatrix& t) {
            const std::string root = "D:\\Felto\\";
            std::vector<std::string> targets;
            char fill = 'c';
            for (std::size_t length : {250, 259, 270, 400})
                targets.push_back(LongRelativePath(length - root.size(), fill++));
            // 255 with a one-character name: a copy beside it would not be within the limit.
            targets.push_back(std::string(120, 'a') + "/" + std::string(123, 'b') + "/x");
            EXPECT_EQ(root.size() + targets.back().size(), 255u);
            auto game = [&](unsigned version) {
                std::vector<GameFile> files = version ? t.NewGame() : t.OldGame();
                for (std::size_t i = 0; i < targets.size(); ++i)
                    files.push_back(
                        {targets[i], MakeBytes(3000 + i * 100 + version, 40 + version), false});
                files.push_back({"launcher/after.dat", "listed after them", false});
                return files;
            };
            t.InstallPrevious(t.OldGame());
            t.Publish(game(0));
            t.StartServer();
            Outcome first = t.Run();
            EXPECT_EQ(first.code, 0) << first.log;
            t.ExpectComplete(first);

            const std::string longest = t.Installed(targets[3]);
            std::filesystem::permissions(longest, std::filesystem::perms::owner_write,
                                         std::filesystem::perm_options::remove);
            t.Publish(game(1));
            Outcome second = t.Run();
            EXPECT_EQ(CountOf(second.log, "Cleared the read-only attribute of "), 1) << second.log;
            return second;
        });

    // A folder where a file belongs cannot be replaced: the log reads as for any failed copy,
    // from the download to the target, and then names the move of the checked copy.
    add("TargetIsAFolder", "a folder stands where a new file belongs", {21, Intact::OldOrNew},
        [](FaultMatrix& t) {
            std::vector<GameFile> game = t.NewGame();
            game.push_back({"launcher/extra.dat", "a file, not a folder", false});
            t.InstallPrevious(t.OldGame());
            t.Publish(game);
            std::filesystem::create_directories(t.Installed("launcher/extra.dat/inside"));
            t.StartServer();
            Outcome outcome = t.Run();
            const PublishedEntry& extra = t.Entry("launcher/extra.dat");
            std::vector<std::string> messages = LogMessages(outcome.log);
            int at = FindMessage(messages, "CopyFile ErrorCode:");
            EXPECT_GE(at, 0) << outcome.log;
            if (at < 0 || at + 2 >= static_cast<int>(messages.size()))
                return outcome;
            EXPECT_EQ(messages[at + 1],
                      extra.objectMd5 + ",src=" + t.LoggedPath(t.Incoming(extra.fileMd5)) +
                          ",dst=" + t.LoggedPath(t.Installed("launcher/extra.dat")));
            EXPECT_EQ(messages[at + 2], "MoveFile of the checked temporary copy " +
                                            t.LoggedPath(t.Incoming("~felto.tmp")) +
                                            " over the target failed.");
            EXPECT_EQ(CountOf(outcome.log, "ErrorCode:"), 1) << outcome.log;
            return outcome;
        });

    add("CopyNameListed", "the manifest lists data/~felto.tmp", {105, Intact::Exactly},
        [](FaultMatrix& t) {
            t.Update();
            std::vector<PublishedEntry> entries = t.Entries();
            PublishedEntry copyName = entries.front();
            copyName.relPath = "data/~felto.tmp";
            entries.insert(entries.begin(), copyName);
            t.PublishManifest(ManifestOf(entries));
            t.StartServer();
            const std::string refused = "manifest line refused, the install path is the "
                                        "installer's own: ";
            Outcome first = t.Run();
            EXPECT_EQ(CountOf(first.log, refused), 1) << first.log;
            // The next run's clean-up reads the refused copy again without a word: the refusal
            // is logged once, for the manifest just fetched, after the system line.
            Outcome outcome = t.Run();
            std::vector<std::string> messages = LogMessages(outcome.log);
            int system = FindMessage(messages, "64bit:");
            EXPECT_EQ(CountOf(outcome.log, refused), 1) << outcome.log;
            EXPECT_GT(FindMessage(messages, refused), system) << outcome.log;
            EXPECT_GE(system, 0) << outcome.log;
            return outcome;
        });

    // On Windows "<digest> " names the download itself: it must not count as a packed entry
    // whose stale unpacked copy is removed.
    add("DigestWithTrailingBlank", "a digest followed by a blank", complete, [](FaultMatrix& t) {
        t.Update();
        std::string body;
        for (const PublishedEntry& entry : t.Entries()) {
            std::string line = ManifestLine(entry);
            if (entry.relPath == "launcher/small.dat")
                line.insert(line.find('\n'), " ");
            body += line;
        }
        t.PublishManifest(body);
        t.StartServer();
        Outcome first = t.Run();
        EXPECT_EQ(first.code, 0) << first.log;
        // It names the file installed: the next run fetches nothing.
        t.Server().ClearRequests();
        Outcome second = t.Run();
        EXPECT_EQ(RangeStartsOf(t, "launcher/small.dat"), std::vector<std::int64_t>{});
        return second;
    });

    // An update by chunks fetches the chunk it lacks, then the disk is too full to assemble the
    // file or fetch the whole object; once the disk grows, the kept chunk is used, not fetched.
    add("ChunkedUpdateOnAFullDisk",
        "an update by chunks cannot assemble its file, then the disk "
        "grows",
        complete, [](FaultMatrix& t) {
            if (!t.MountSmallDisk())
                return Skipped(kNoSmallDisk);
            const std::vector<std::string> lacking = PublishChunkedUpdate(t);
            EXPECT_EQ(lacking.size(), 1u);
            t.LeaveFree(4 * kMiB + 512 * 1024);
            t.StartServer();
            Outcome first = t.Run();
            EXPECT_EQ(first.code, 108) << Describe(first);
            EXPECT_EQ(CountOf(first.log, "failed: the file could not be written (the disk may "
                                         "be full); fetching the whole object"),
                      1)
                << first.log;
            t.ExpectIntact(Intact::Exactly);

            t.LeaveFree(16 * kMiB);
            t.Server().ClearRequests();
            Outcome second = t.Run();
            for (const std::string& chunk : lacking)
                EXPECT_EQ(RequestsFor(t, chunk), 0) << "the kept chunk was fetched again";
            EXPECT_EQ(RangeStartsOf(t, "launcher/big.pak"), std::vector<std::int64_t>{});
            EXPECT_EQ(CountOf(second.log, "Chunked update of "), 1) << second.log;
            return second;
        });
    nativeOnly("the Windows program is built without chunked updates");
    rows.back().installer = FELTO_CHUNKED_INSTALLER_BINARY;

    // Killed while it writes the file it assembles, at sizes drawn from a seed: each next run
    // starts the assembly over from the chunk it kept (never fetched again) and the installed
    // copy, and the last one installs the file right.
    add("ChunkedUpdateKilledDuringAssembly",
        "an update by chunks killed at random moments while it assembles the file", complete,
        [](FaultMatrix& t) {
            const std::vector<std::string> lacking = PublishChunkedUpdate(t);
            EXPECT_EQ(lacking.size(), 1u);
            t.StartServer();
            const std::string assembly =
                t.Incoming(t.Entry("launcher/big.pak").objectMd5 + ".assembly");
            // Every write held 5 ms: the assembly's 64 KiB blocks then take about half a second
            // for the 6 MiB, long enough to be seen at any size on the way.
            const std::vector<std::string> slowWrites = {
                "strace", "-fqqo/dev/null", "--trace=write", "--inject=write:delay_exit=5000"};
            std::mt19937 random(kAssemblyKillSeed);
            // Up to 5 MiB: a sixth of the assembly is still to come when the kill is sent.
            std::uniform_int_distribution<std::int64_t> size(1, 5 * kMiB);
            for (int round = 0; round < kAssemblyKillRounds; ++round) {
                const std::int64_t killAt = size(random);
                SCOPED_TRACE("round " + std::to_string(round) + ", killed at " +
                             std::to_string(killAt) + " bytes assembled");
                std::unique_ptr<RunningChild> installer = t.StartNative(slowWrites);
                ChildResult ended;
                bool reached = false;
                EXPECT_TRUE(WaitUntil(60000, [&] {
                    std::error_code error;
                    reached = static_cast<std::int64_t>(
                                  std::filesystem::file_size(assembly, error)) >= killAt &&
                              !error;
                    return reached || installer->Wait(0, ended);
                })) << "the installer neither assembled nor ended";
                installer->Kill();
                EXPECT_TRUE(reached)
                    << "the run ended before its assembly got so far: " << ended.stdErr;
                t.ExpectIntact(Intact::Exactly);
                // The chunk arrived before the first assembly began; from then on it is kept.
                for (const std::string& chunk : lacking)
                    EXPECT_EQ(RequestsFor(t, chunk) > 0, round == 0) << chunk;
                t.Server().ClearRequests();
            }
            Outcome last = t.Run();
            for (const std::string& chunk : lacking)
                EXPECT_EQ(RequestsFor(t, chunk), 0) << "a kept chunk was fetched again";
            EXPECT_EQ(RangeStartsOf(t, "launcher/big.pak"), std::vector<std::int64_t>{});
            EXPECT_EQ(CountOf(last.log, "Chunked update of "), 1) << last.log;
            EXPECT_FALSE(FileExists(assembly)) << "the assembly was left behind";
            return last;
        });
    nativeOnly("the Windows program is built without chunked updates, and the writes are slowed "
               "by strace");
    rows.back().installer = FELTO_CHUNKED_INSTALLER_BINARY;

    return rows;
}

// The rows about fetching objects once more, with the installer built to fetch eight at a time:
// each object keeps its own attempts, a failure still ends in 108 with the rest fetched, and
// part files and the free space still hold with several downloads in flight.
std::vector<FaultRow> ParallelRows() {
    const std::set<std::string> downloads = {"BodyCutShortOnce",
                                             "BodyCutShortAlways",
                                             "RangeIgnored",
                                             "NotFound",
                                             "NoContentLength",
                                             "OverLongHeader",
                                             "PartFileOfAnotherObject",
                                             "PartFileLargerThanSegment",
                                             "TwoObjectsMissing",
                                             "PartialWithoutContentRange",
                                             "DiskFullOfLeftovers"};
    std::vector<FaultRow> rows;
    for (FaultRow row : Rows()) {
        if (!downloads.count(row.name))
            continue;
        row.fault += " (8 parallel downloads)";
        row.installer = FELTO_PARALLEL_INSTALLER_BINARY;
        rows.push_back(std::move(row));
    }
    // A renamed row must not drop out of the parallel matrix without a word.
    if (rows.size() != downloads.size())
        throw std::logic_error("a parallel row names no row of the fault matrix");
    return rows;
}

// What a fresh lean install asked for: one closed range per small object, no byte twice, over
// at most the connections its pool keeps.
void ExpectLeanRequests(FaultMatrix& t) {
    std::map<std::string, std::int64_t> asked;
    for (const std::string& request : t.Server().requests()) {
        std::size_t range = request.find("Range: bytes=");
        ASSERT_NE(range, std::string::npos) << request;
        long long first = -1, last = -1;
        ASSERT_EQ(std::sscanf(request.c_str() + range, "Range: bytes=%lld-%lld", &first, &last), 2)
            << "an open-ended range: " << request;
        asked[HttpTestServer::RequestPath(request)] += last - first + 1;
    }
    for (const char* relPath : {"launcher/big.pak", "launcher/packed.dll"})
        EXPECT_EQ(asked[t.ObjectUrl(relPath)], t.Entry(relPath).objectSize) << relPath;
    // A small object comes whole with one request (once for each entry that lists it).
    for (std::int64_t start : RangeStartsOf(t, "launcher/small.dat"))
        EXPECT_EQ(start, 0);
    EXPECT_EQ(asked[t.ObjectUrl("launcher/small.dat")] % t.Entry("launcher/small.dat").objectSize,
              0);
    EXPECT_LE(t.Server().connectionCount(), 8 * 3 + 2);
}

// The lean build: sizes from the manifest, closed ranges, connections kept open. The download
// rows run again with it; the rows after them are about kept connections and a file written in
// place. Rows that look for the probe's request or count its log lines stay with the other two
// programs (ChunkedEdge: one refusal per segment here; WrongObjectBehindRightName and
// LyingLengthOnASmallDisk: the listed size refuses the answer before its digest or its room is
// looked at; DiskFullDuringTheJoin: the probe's range start, and no join in place), and so do
// the rows about the archiver, the disk or the folder,
// where the lean build changes nothing, and those whose failure comes before or after the
// engine's requests (ConnectionRefused, ServerError, TwoObjectsMissing: NotFound stands for them).
std::vector<FaultRow> LeanRows() {
    const std::set<std::string> downloads = {"BodyCutShortOnce",
                                             "BodyCutShortAlways",
                                             "RangeIgnored",
                                             "NotFound",
                                             "NoContentLength",
                                             "LongHeads",
                                             "OverLongHeader",
                                             "CompressingEdge",
                                             "PartFileOfAnotherObject",
                                             "PartFileLargerThanSegment",
                                             "PartialWithoutContentRange",
                                             "DiskFullOfLeftovers"};
    std::vector<FaultRow> rows;
    for (FaultRow row : Rows()) {
        if (!downloads.count(row.name))
            continue;
        row.fault += " (lean transfer)";
        rows.push_back(std::move(row));
    }
    if (rows.size() != downloads.size())
        throw std::logic_error("a lean row names no row of the fault matrix");

    auto add = [&rows](std::string name, std::string fault, Expectation expected,
                       std::function<Outcome(FaultMatrix&)> run) {
        rows.push_back({std::move(name), std::move(fault), expected, std::move(run), ""});
    };
    const Expectation complete{0, Intact::Exactly};
    // Run by the fault itself: every answer of the row's kind.
    auto everyAnswer = [](HttpFault fault) {
        return [fault](FaultMatrix& t) {
            t.Update();
            t.Server().AddFault(fault);
            t.StartServer();
            return t.Run();
        };
    };

    add("KeptConnections", "an honest server that keeps connections, two paths of one file",
        complete, [](FaultMatrix& t) {
            std::vector<GameFile> game = t.NewGame();
            game.push_back({"launcher/twin.dat", t.Find(game, "launcher/small.dat").bytes, false});
            t.InstallPrevious(t.OldGame());
            t.Publish(game);
            t.StartServer();
            Outcome outcome = t.Run();
            ExpectLeanRequests(t);
            // A checked download that no later entry needs is moved into place, not copied.
            EXPECT_FALSE(FileExists(t.Incoming(t.Entry("launcher/big.pak").objectMd5)));
            return outcome;
        });
    HttpFault idleClosed;
    idleClosed.closeAfterAnswer = true;
    add("IdleConnectionClosed", "the server closes each connection after its answer", complete,
        everyAnswer(idleClosed));
    HttpFault closing;
    closing.connectionClose = true;
    add("ConnectionCloseEveryAnswer", "Connection: close on every answer", complete,
        everyAnswer(closing));
    HttpFault http10;
    http10.version = "HTTP/1.0";
    add("Http10Server", "an HTTP/1.0 server", complete, everyAnswer(http10));

    add("ResetAfterTheHead", "a reset after the head of a segment, once", complete,
        [](FaultMatrix& t) {
            FaultSecondSegmentOnce(t, [](HttpFault& fault) { fault.resetAfterHead = true; });
            Outcome outcome = t.Run();
            // A failed receive here; Wine's sockets report the reset as the peer's close.
            EXPECT_EQ(CountOf(outcome.log, "Read error!") +
                          CountOf(outcome.log, "The server closed the connection before the "
                                               "segment was complete."),
                      1)
                << outcome.log;
            return outcome;
        });
    add("ContentRangeForAnotherRange", "a 206 for other bytes than asked, once", complete,
        [](FaultMatrix& t) {
            FaultSecondSegmentOnce(t, [](HttpFault& fault) { fault.rangeShift = 100; });
            Outcome outcome = t.Run();
            EXPECT_EQ(CountOf(outcome.log, "Content-Range names bytes 206766-413331, not the "
                                           "206666-413331 asked for."),
                      1)
                << outcome.log;
            return outcome;
        });
    add("LengthDisagreesWithTheManifest", "the manifest lists a size the server's file has not",
        {108, Intact::Exactly}, [](FaultMatrix& t) {
            t.Update();
            std::string body;
            for (PublishedEntry entry : t.Entries()) {
                if (entry.relPath == "launcher/small.dat")
                    entry.objectSize += 1;
                body += ManifestLine(entry, true);
            }
            t.PublishManifest(body);
            t.StartServer();
            Outcome outcome = t.Run();
            EXPECT_EQ(
                CountOf(outcome.log, "The server's file is 6000 bytes, not the 6001 expected."), 3)
                << outcome.log;
            return outcome;
        });
    add("SilentOnAKeptConnection", "the server keeps a connection and sends nothing, once",
        complete, [](FaultMatrix& t) {
            t.Update();
            HttpFault fault = FaultOn(t.ObjectUrl("launcher/small.dat"));
            fault.stallBeforeHeader = true;
            fault.times = 1;
            t.Server().AddFault(fault);
            t.StartServer();
            Outcome outcome = t.Run(kStallRowLimitMs);
            EXPECT_EQ(CountOf(outcome.log, "127.0.0.1 is too slow: the response head was not "
                                           "complete 30000 ms after the request."),
                      1)
                << outcome.log;
            return outcome;
        });
    // Killed while one segment of a file written in place stalls and the other two are done: the
    // next run fetches that segment alone, from what the record says it holds.
    add("KilledMidFile", "killed while a segment stalls, the others done, then run again", complete,
        [](FaultMatrix& t) {
            StallSecondSegmentOnce(t);
            const std::string record =
                t.Incoming(t.Entry("launcher/big.pak").objectMd5 + ".part.record");
            char done[64];
            std::snprintf(done, sizeof done, "%020lld\n", static_cast<long long>(kBigSegment));
            const std::string first(done), last = "00000000000000206668\n";
            std::unique_ptr<RunningChild> installer = t.StartNative();
            ChildResult ended;
            bool othersDone = false;
            for (int look = 0; look < 500 && !othersDone && !installer->Wait(20, ended);) {
                const std::string text = FileExists(record) ? ReadFile(record) : std::string();
                othersDone = text.compare(0, 21, first) == 0 && text.compare(42, 21, last) == 0;
                ++look;
            }
            installer->Kill();
            EXPECT_TRUE(othersDone) << "the two other segments were not recorded as done";
            t.ExpectIntact(Intact::OldOrNew);
            t.Server().ClearRequests();
            Outcome outcome = t.Run();
            EXPECT_EQ(RangeStartsOf(t, "launcher/big.pak"), std::vector<std::int64_t>{kBigSegment})
                << outcome.log;
            return outcome;
        });
    add("RunLargerThanTheDisk", "the listed objects do not fit on the disk", {108, Intact::Exactly},
        [](FaultMatrix& t) {
            if (!t.MountSmallDisk())
                return Skipped(kNoSmallDisk);
            t.Update();
            t.LeaveFree(200000);
            t.StartServer();
            Outcome outcome = t.Run();
            EXPECT_EQ(CountOf(outcome.log, "Not enough free space for the run: "), 1)
                << outcome.log;
            // Refused before the first byte: only the manifest was asked for.
            EXPECT_EQ(t.Server().requests().size(), 1u);
            return outcome;
        });
    for (FaultRow& row : rows)
        row.installer = FELTO_LEAN_INSTALLER_BINARY;
    return rows;
}

// Adds the row to the printed matrix when the test ends, however it ends.
class MatrixRecorder {
  public:
    MatrixRecorder(const FaultRow& row, Program program)
        : start_(std::chrono::steady_clock::now()) {
        line_.fault = row.name + ": " + row.fault;
        line_.program = ProgramName(program);
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
    if (IsSkipped())
        return;
    const FaultRow& row = GetParam().row;
    MatrixRecorder recorder(row, GetParam().program);
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

// Every row on the native program, and the rows that can on the exe under Wine.
std::vector<MatrixCase> Cases() {
    std::vector<MatrixCase> cases;
    for (const FaultRow& row : Rows()) {
        cases.push_back({row, Program::Native});
        if (row.nativeOnly.empty())
            cases.push_back({row, Program::Wine});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<MatrixCase>& info) {
                             return info.param.row.name +
                                    (info.param.program == Program::Wine ? "OnWine" : "");
                         });
// The download rows with the installer that fetches eight objects at a time (native only).
std::vector<MatrixCase> ParallelCases() {
    std::vector<MatrixCase> cases;
    for (const FaultRow& row : ParallelRows())
        cases.push_back({row, Program::Native});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(ParallelFaults, FaultMatrix, ::testing::ValuesIn(ParallelCases()),
                         [](const ::testing::TestParamInfo<MatrixCase>& info) {
                             return info.param.row.name;
                         });
// The download rows and the kept-connection rows with the lean installer; the happy path and two
// kept-connection rows with its exe under Wine too (Winsock's side of a closed or reset
// connection).
std::vector<MatrixCase> LeanCases() {
    const std::set<std::string> onWine = {"KeptConnections", "IdleConnectionClosed",
                                          "ResetAfterTheHead"};
    std::vector<MatrixCase> cases;
    for (const FaultRow& row : LeanRows()) {
        cases.push_back({row, Program::Native});
        if (onWine.count(row.name))
            cases.push_back({row, Program::Wine});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(LeanFaults, FaultMatrix, ::testing::ValuesIn(LeanCases()),
                         [](const ::testing::TestParamInfo<MatrixCase>& info) {
                             return info.param.row.name +
                                    (info.param.program == Program::Wine ? "OnWine" : "");
                         });

} // namespace
