// felto-publish check against the loopback test server, serving a published tree as it is and
// with one fault at a time: each fault must show in its own line and in the exit status.

#include "manifest/chunk_list.h"
#include "manifest/manifest_signature.h"
#include "tests/publish/publish_helpers.h"
#include "tests/support/http_test_server.h"
#include "tests/support/manifest_signing.h"
#include "tests/support/temp_dir.h"
#include "tests/support/text_checks.h"

#include <ctime>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

struct Fault {
    const char* name;
    // Spoils the server; given the URL paths of a small object and of the largest.
    std::function<void(HttpTestServer&, const std::string& small, const std::string& large)> apply;
    int exitStatus;
    std::string line; // "$small" and "$large" stand for the URL paths
};

std::string Fill(std::string text, const std::string& small, const std::string& large) {
    for (const auto& [mark, value] :
         {std::pair<std::string, std::string>{"$small", small}, {"$large", large}}) {
        for (std::size_t at = text.find(mark); at != std::string::npos; at = text.find(mark))
            text.replace(at, mark.size(), value);
    }
    return text;
}

void PrintTo(const Fault& fault, std::ostream* out) {
    *out << fault.name;
}

class Check : public ::testing::TestWithParam<Fault> {
  protected:
    void SetUp() override {
        PutFile(game, "plantform/x64/7z.exe", "archiver");
        PutFile(game, "Felto.exe", MakeBytes(1000, 1));
        PutFile(game, "data/world.dat", MakeBytes(609601, 2)); // three connections
        PutFile(game, "readme.txt", "first words");
        const ChildResult run = RunPublisher({"--input", game, "--output", www});
        ASSERT_EQ(run.exitStatus, 0) << run.stdErr;
        for (const ListedFile& file : ReadPublishedManifest(www).files) {
            if (file.relPath == "readme.txt")
                small = file.url;
            if (file.relPath == "data/world.dat")
                large = file.url;
        }
        for (const auto& item : fs::recursive_directory_iterator(www + "/microclient")) {
            if (item.is_regular_file())
                server.SetFile(fs::relative(item.path(), www).generic_string(),
                               ReadFile(item.path().string()));
        }
        ASSERT_TRUE(server.Start());
    }
    ChildResult RunCheck(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args{"check", "http://127.0.0.1:" + std::to_string(server.port()),
                                      "--quiet"};
        args.insert(args.end(), extra.begin(), extra.end());
        return RunPublisherCapturingOutput(args);
    }

    // Runs check with `extra`: it must end with `status` and say `said`.
    void ExpectCheckSays(const std::vector<std::string>& extra, int status,
                         const std::string& said) {
        const ChildResult check = RunCheck(extra);
        EXPECT_EQ(check.exitStatus, status) << check.stdErr;
        EXPECT_NE(check.stdErr.find(said), std::string::npos) << said << "\nnot in:\n"
                                                              << check.stdErr;
    }

    TempDir temp;
    const std::string game = temp / "game", www = temp / "www";
    std::string small, large;
    HttpTestServer server;
};

TEST_F(Check, PassesAServerThatServesTheTreeAsPublished) {
    const ChildResult check = RunCheck();
    EXPECT_EQ(check.exitStatus, 0) << check.stdErr;
    EXPECT_EQ(check.stdErr.find("FAIL"), std::string::npos) << check.stdErr;
    EXPECT_EQ(check.stdErr.find("WARN"), std::string::npos) << check.stdErr;
    EXPECT_NE(check.stdErr.find("ok    4 of 4 objects present, 4 of 4 fetched with their digest"),
              std::string::npos)
        << check.stdErr;
    EXPECT_NE(check.stdErr.find("ok    Range bytes=304800- of " + large +
                                ": 206 with the right Content-Range"),
              std::string::npos)
        << check.stdErr;
    EXPECT_NE(check.stdErr.find("info  largest object " + large + ": 609601 bytes in "),
              std::string::npos)
        << check.stdErr;
    // The test server's port is not the one this build's installer asks.
    EXPECT_NE(check.stdErr.find("info  this build's installer asks http://127.0.0.1 on port 80, "
                                "not this server; an installer for this one is built with "
                                "-DFELTO_SERVER_URL=http://127.0.0.1:" +
                                std::to_string(server.port()) + "\n"),
              std::string::npos)
        << check.stdErr;
    // The installer's requests, absolute target and all.
    bool sawSegment = false;
    for (const std::string& request : server.requests()) {
        EXPECT_EQ(request.rfind("GET http://127.0.0.1/microclient/", 0), 0u) << request;
        sawSegment = sawSegment || (HttpTestServer::RequestPath(request) == "/" + large &&
                                    HttpTestServer::RangeStart(request) == 406400);
    }
    EXPECT_TRUE(sawSegment) << "the largest object was not fetched over three connections";
}

// A server and its fall-back servers: each is checked, and they must serve the same manifests.
TEST_F(Check, SeveralServersAreEachCheckedAndMustServeTheSameManifests) {
    const std::string other = temp / "www-other";
    fs::copy(www, other, fs::copy_options::recursive);
    HttpTestServer second;
    second.ServeFolder(other);
    ASSERT_TRUE(second.Start());
    const std::string secondUrl = "http://127.0.0.1:" + std::to_string(second.port());
    ChildResult check = RunCheck({secondUrl});
    EXPECT_EQ(check.exitStatus, 0) << check.stdErr;
    EXPECT_EQ(CountOf(check.stdErr, "verdict: the installer will work against this server"), 2)
        << check.stdErr;
    EXPECT_NE(check.stdErr.find("ok    launcher_manifest_x64.js: the same on all 2 servers\n"),
              std::string::npos)
        << check.stdErr;
    EXPECT_NE(second.requests().size(), 0u);

    // The other server still has an older release: whole and working, but not the same tree.
    PutFile(game, "readme.txt", "second words");
    ASSERT_EQ(RunPublisher({"--input", game, "--output", other}).exitStatus, 0);
    second.ServeFolder(other);
    check = RunCheck({secondUrl});
    EXPECT_EQ(check.exitStatus, 1) << check.stdErr;
    EXPECT_EQ(CountOf(check.stdErr, "verdict: the installer will work against this server"), 2)
        << check.stdErr;
    EXPECT_NE(check.stdErr.find("FAIL  launcher_manifest_x64.js: not the same on every server"),
              std::string::npos)
        << check.stdErr;
    EXPECT_NE(check.stdErr.find("verdict: the installer will NOT work against every server"),
              std::string::npos)
        << check.stdErr;
}

TEST_F(Check, ASampleAlwaysHoldsTheLargestObject) {
    const ChildResult check = RunCheck({"--sample", "1"});
    EXPECT_EQ(check.exitStatus, 0) << check.stdErr;
    EXPECT_NE(check.stdErr.find("4 of 4 objects present, 1 of 1 fetched with their digest (a "
                                "sample)"),
              std::string::npos)
        << check.stdErr;
    // Every object asked for once; only the largest fetched, over three connections.
    int smallRequests = 0, largeSegments = 0;
    for (const std::string& request : server.requests()) {
        const std::string path = HttpTestServer::RequestPath(request);
        smallRequests += path == "/" + small ? 1 : 0;
        largeSegments += path == "/" + large && HttpTestServer::RangeStart(request) == 406400;
    }
    EXPECT_EQ(smallRequests, 1);
    EXPECT_EQ(largeSegments, 1);
}

// Chunk lists cost nothing when they fail (installers fetch the whole object), so a damaged one is
// a warning, not a failure.
TEST_F(Check, FetchesTheChunkListsAndSomeOfTheirChunks) {
    PutFile(game, "data/big.bin", MakeBytes(3 * 1024 * 1024, 3));
    const ChildResult run =
        RunPublisher({"--input", game, "--output", www, "--chunks-over", "1000000"});
    ASSERT_EQ(run.exitStatus, 0) << run.stdErr;
    std::string list;
    for (const ListedFile& file : ReadPublishedManifest(www).files) {
        list += file.chunkList;
        server.SetFile(file.url, ReadFile(www + "/" + file.url));
    }
    for (bool x64 : {false, true})
        server.SetFile(ManifestPath(www, x64).substr(www.size() + 1),
                       ReadFile(ManifestPath(www, x64)));
    ASSERT_EQ(list.size(), 32u + 23u) << list;
    const ChunkListReading reading = ParseChunkList(ReadFile(www + "/" + list));
    ASSERT_EQ(reading.refusal, ChunkListRefusal::None);
    ASSERT_GE(reading.list.chunks.size(), 3u);
    const std::size_t checked = 3;
    server.SetFile(list, ReadFile(www + "/" + list));
    for (const ChunkPiece& chunk : reading.list.chunks)
        server.SetFile(ChunkUrl(list, chunk.md5), ReadFile(www + "/" + ChunkUrl(list, chunk.md5)));
    ExpectCheckSays({}, 0,
                    "ok    1 of 1 chunk lists and " + std::to_string(checked) +
                        " of their chunks fetched with their digest");

    for (const ChunkPiece& chunk : reading.list.chunks)
        server.SetFile(ChunkUrl(list, chunk.md5), "damaged");
    ExpectCheckSays({}, 0, "WARN  chunk list " + list + ": its chunk ");
    server.RemoveFile(list);
    ExpectCheckSays({"--sample", "1"}, 0, "WARN  chunk list " + list + ": the download failed");
}

TEST_F(Check, ChecksSignaturesAsAnInstallerWithTheReleaseKeyWould) {
    const std::vector<std::string> withKey{"--release-key", TestPublicKeyPath()};
    ExpectCheckSays(withKey, 1,
                    "FAIL  launcher_manifest.js.sig: not on the server (players see error 106); "
                    "fix: upload launcher_manifest.js.sig from the published tree beside its "
                    "manifest");

    // The server sends what was signed last.
    const std::string download = "microclient/download/";
    auto serve = [&](const std::string& name) {
        const std::string bytes = ReadFile(www + "/" + download + name);
        server.SetFile(download + name, bytes);
        return bytes;
    };
    SignManifests(www);
    const std::string sig32 = serve("launcher_manifest.js.sig");
    serve("launcher_manifest_x64.js.sig");
    ExpectCheckSays(withKey, 0,
                    "ok    launcher_manifest_x64.js.sig: signed with the release key, release "
                    "1001, no expiry");

    // An expiry is shown; within 7 days it warns, once passed it fails (the installer's grace
    // is for wrong clocks, not for the studio).
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    struct Expiry {
        std::int64_t expires;
        int status;
        const char* said;
    };
    for (const Expiry& expiry :
         {Expiry{now + 30 * 86400, 0,
                 "ok    launcher_manifest.js.sig: "
                 "signed with the release key, "
                 "release 1002, expires "},
          Expiry{now + 2 * 86400, 0, "WARN  launcher_manifest.js.sig: release 1002, expires "},
          Expiry{now - 3600, 1,
                 "FAIL  launcher_manifest.js.sig: expired, release 1002, "
                 "expires "}}) {
        SignManifests(www, {1002, expiry.expires});
        serve("launcher_manifest.js.sig");
        ExpectCheckSays(withKey, expiry.status, expiry.said + UtcText(expiry.expires));
    }
    // A signature file of the format without a release number.
    SignManifestsWithoutStamp(www);
    serve("launcher_manifest.js.sig");
    ExpectCheckSays(withKey, 1,
                    "FAIL  launcher_manifest.js.sig: the old format without a release number");

    // The 32-bit manifest's signature does not vouch for the 64-bit one.
    server.SetFile(download + "launcher_manifest_x64.js.sig", sig32);
    ExpectCheckSays(withKey, 1, "FAIL  launcher_manifest_x64.js.sig: does not match");
}

// A tree published on purpose without the launcher and the archivers its packed files need
// installs for nobody, whatever the server does right.
TEST_F(Check, FailsATreeWithoutTheLauncherOrTheArchiversItsPackedFilesNeed) {
    fs::remove_all(game);
    PutFile(game, "data/world.dat", MakeBytes(5000, 3));
    const ChildResult run =
        RunPublisher({"--input", game, "--output", www, "--pack", "*.dat", "--allow-incomplete"});
    ASSERT_EQ(run.exitStatus, 0) << run.stdErr;
    for (const auto& item : fs::recursive_directory_iterator(www + "/microclient")) {
        if (item.is_regular_file())
            server.SetFile(fs::relative(item.path(), www).generic_string(),
                           ReadFile(item.path().string()));
    }
    const ChildResult check = RunCheck();
    EXPECT_EQ(check.exitStatus, 1) << check.stdErr;
    for (const char* said :
         {"FAIL  launcher_manifest.js: Felto.exe is missing",
          "FAIL  launcher_manifest_x64.js: plantform/x64/7z.exe is missing, and 1 file is "
          "delivered packed: installs on 64-bit Windows would end with error 21 at unpacking",
          "launcher_manifest.js: plantform/x86/7z.exe is missing"})
        EXPECT_NE(check.stdErr.find(said), std::string::npos) << said << "\n" << check.stdErr;
}

TEST(CheckCommandLine, RefusesAUrlTheInstallerCannotBeBuiltWith) {
    for (const auto& [url, why] : std::vector<std::pair<std::string, std::string>>{
             {"https://127.0.0.1", "plain HTTP only"},
             {"127.0.0.1", "does not start with http://"},
             {"http://127.0.0.1:0", "'0' is no port number"},
             {"http://127.0.0.1:80x", "'80x' is no port number"},
             {"http://:80", "'' is no host name"},
             {"http://127.0.0.1/felto", "holds a path (/felto)"},
             {"http://127.0.0.1/", "ends in a slash"},
             {"http://studio@127.0.0.1", "holds a user name"}}) {
        const ChildResult check = RunPublisherCapturingOutput({"check", url});
        EXPECT_EQ(check.exitStatus, 2) << url << "\n" << check.stdErr;
        EXPECT_NE(check.stdErr.find(why), std::string::npos) << url << "\n" << check.stdErr;
        EXPECT_NE(check.stdErr.find("; write it as http://host or http://host:port\n"),
                  std::string::npos)
            << url << "\n"
            << check.stdErr;
        EXPECT_EQ(check.stdErr.find("checking"), std::string::npos) << url;
    }
}

// The sub-commands that take one plain word (a URL or a published folder) read their command
// lines alike: help on standard output, an unknown option or a second word refused with the
// usage, and nothing done either way.
TEST(SubcommandCommandLine, HelpUnknownOptionsAndASecondWordAreAnsweredAlike) {
    TempDir temp;
    const std::string folder = temp / "www";
    std::filesystem::create_directories(folder);
    for (const std::string command : {"check", "prune", "resign"}) {
        const std::string word = command == "check" ? "http://127.0.0.1" : folder;
        SCOPED_TRACE(command);
        ChildResult run = RunPublisherCapturingOutput({command, "--help"});
        EXPECT_EQ(run.exitStatus, 0) << run.stdErr;
        EXPECT_EQ(run.stdErr.rfind("usage: felto-publish --input DIR", 0), 0u) << run.stdErr;

        for (const std::vector<std::string>& args :
             {std::vector<std::string>{command, word, "--bogus"},
              std::vector<std::string>{command, word, "second"}}) {
            run = RunPublisherCapturingOutput(args);
            EXPECT_EQ(run.exitStatus, 2) << run.stdErr;
            EXPECT_NE(run.stdErr.find("felto-publish " + command + ": unexpected '" + args.back() +
                                      "'\nusage: "),
                      std::string::npos)
                << run.stdErr;
            EXPECT_EQ(run.stdErr.find("checking"), std::string::npos) << run.stdErr;
        }
    }
    EXPECT_TRUE(std::filesystem::is_empty(folder)) << "a refused command line wrote something";
}

TEST_P(Check, ReportsTheFaultInItsOwnLine) {
    const Fault& fault = GetParam();
    fault.apply(server, small, large);
    const ChildResult check = RunCheck();
    EXPECT_EQ(check.exitStatus, fault.exitStatus) << check.stdErr;
    EXPECT_NE(check.stdErr.find(Fill(fault.line, small, large)), std::string::npos)
        << Fill(fault.line, small, large) << "\nnot in:\n"
        << check.stdErr;
    EXPECT_NE(check.stdErr.find(fault.exitStatus == 0 ? "verdict: the installer will work"
                                                      : "verdict: the installer will NOT work"),
              std::string::npos)
        << check.stdErr;
}

enum class Where { Everywhere, OnSmall, OnLarge };

// Adds one fault, set by `set`, on every path or on one of the two objects.
decltype(Fault::apply) AddsFault(Where where, std::function<void(HttpFault&)> set) {
    return
        [where, set](HttpTestServer& server, const std::string& small, const std::string& large) {
            HttpFault fault;
            if (where != Where::Everywhere)
                fault.path = "/" + (where == Where::OnSmall ? small : large);
            set(fault);
            server.AddFault(fault);
        };
}

const Fault kFaults[] = {
    Fault{"MissingObject",
          [](HttpTestServer& server, const std::string& small, const std::string&) {
              server.RemoveFile(small);
          },
          1, "FAIL  object $small: missing (404)"},
    Fault{"WrongDigest",
          [](HttpTestServer& server, const std::string& small, const std::string&) {
              server.SetFile(small, "other words");
          },
          1, "FAIL  object $small: its bytes do not have the digest in its name"},
    Fault{"HeadOverTheLimit", AddsFault(Where::OnSmall, [](HttpFault& f) { f.headLength = 16385; }),
          1, "FAIL  1 answer heads over 16,384 bytes (first: $small)"},
    Fault{"LongHeadsOfACdn",
          AddsFault(Where::Everywhere, [](HttpFault& f) { f.headLength = 4000; }), 0,
          "ok    answer heads: largest 4000 bytes"},
    Fault{"HeadCloseToTheLimit",
          AddsFault(Where::Everywhere, [](HttpFault& f) { f.headLength = 16300; }), 0,
          "WARN  answer heads: largest "},
    Fault{"RangeIgnored", AddsFault(Where::Everywhere, [](HttpFault& f) { f.ignoreRange = true; }),
          0,
          "WARN  Range bytes=304800- of $large: answered with status 200; the installer "
          "falls back to one connection per file"},
    Fault{"RangeRefused",
          AddsFault(Where::OnLarge,
                    [](HttpFault& f) {
                        f.rangeStart = 304800;
                        f.status = 416;
                    }),
          1, "FAIL  Range bytes=304800- of $large: answered with status 416"},
    Fault{"NoContentLength",
          AddsFault(Where::OnSmall, [](HttpFault& f) { f.omitContentLength = true; }), 1,
          "without Content-Length (first: $small)"},
    Fault{"CompressingEdge",
          AddsFault(Where::OnSmall, [](HttpFault& f) { f.contentEncoding = "gzip"; }), 1,
          "FAIL  object $small: compressed by the server (Content-Encoding: gzip); fix: turn "
          "compression off for the published tree"},
    Fault{"ChunkedEdge", AddsFault(Where::OnSmall, [](HttpFault& f) { f.chunked = true; }), 1,
          "FAIL  object $small: sent chunked without Content-Length; fix: serve the files "
          "with Content-Length"},
    Fault{"GzipManifest",
          [](HttpTestServer& server, const std::string&, const std::string&) {
              server.SetFile("/microclient/download/launcher_manifest.js",
                             std::string("\x1f\x8b\x08\x00", 4) + MakeBytes(200, 9));
          },
          1,
          "FAIL  launcher_manifest.js: the server compressed it: gzip data where the "
          "manifest belongs (the installer retries, then stops with error 101); fix: "
          "turn compression off"},
    Fault{"Redirect", AddsFault(Where::OnSmall, [](HttpFault& f) { f.status = 302; }), 1,
          "FAIL  object $small: redirected (302)"},
};

INSTANTIATE_TEST_SUITE_P(Faults, Check, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<Fault>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
