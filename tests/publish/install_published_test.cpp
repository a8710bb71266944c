// The real installer against nginx, Apache httpd and lighttpd serving what felto-publish laid
// out, each configured as the README shows a studio, and felto-publish check against each; then
// through Varnish, Squid and Traffic Server as caching edges in front of nginx.

#include "net/engine_settings.h"
#include "tests/publish/publish_helpers.h"
#include "tests/support/edge_server.h"
#include "tests/support/installer_fixture.h"
#include "tests/support/manifest_signing.h"
#include "tests/support/nginx_server.h"
#include "tests/support/server_tree.h"
#include "tests/support/temp_dir.h"
#include "tests/support/text_checks.h"
#include "tests/support/web_server.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

// Names each case after its server, as the tables print it.
template <typename Kind> auto NamedAfter(const char* (*name)(Kind)) {
    return [name](const ::testing::TestParamInfo<Kind>& info) {
        return std::string(name(info.param));
    };
}

// A game published into a tree that a server serves, and the real installer run against it.
class PublishedGame : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const GameFile& file : LauncherBasics())
            PutFile(game, file.path, file.bytes);
        PutFile(game, "data/world.dat", MakeBytes(409601 + 200000, 1)); // three connections
        PutFile(game, "data/sounds.pak", MakeBytes(30000, 2) + std::string(100000, 's'));
        PutFile(game, "readme.txt", "version 1\n");
        PutFile(game, "data/empty.txt", ""); // a Range on an empty file must not be refused
        fs::create_directories(home);
    }

    void Publish(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args = {"--input", game, "--output", www, "--pack", "*.pak"};
        args.insert(args.end(), extra.begin(), extra.end());
        ChildResult run = RunPublisher(args);
        ASSERT_EQ(run.exitStatus, 0) << run.stdErr;
    }

    // A player's machine is its home folder; the install goes to its Felto folder.
    std::string RunInstaller(const char* installer = FELTO_INSTALLER_BINARY) {
        return RunInstallerIn(home, installer);
    }
    std::string RunInstallerIn(const std::string& player,
                               const char* installer = FELTO_INSTALLER_BINARY) {
        fs::create_directories(player);
        ChildResult run = RunAsPlayer(player, installer, 120000);
        EXPECT_TRUE(run.finished) << run.stdErr;
        EXPECT_NE(run.stdErr.find("安装成功"), std::string::npos) << run.stdErr;
        return ReadFile(player + "/Felto/FeltoInstaller.log");
    }

    void ExpectGameInstalled(const std::string& player) {
        for (const auto& item : fs::recursive_directory_iterator(game)) {
            if (!item.is_regular_file())
                continue;
            const std::string relPath = fs::relative(item.path(), game).generic_string();
            EXPECT_TRUE(ReadFile(player + "/Felto/" + relPath) == ReadFile(item.path().string()))
                << relPath << " not installed as published in " << player;
        }
    }
    void ExpectGameInstalled() { ExpectGameInstalled(home); }

    TempDir temp;
    const std::string game = temp / "game", www = temp / "www", home = temp / "home";
};

// The game behind a server of one kind, skipped where that kind cannot run.
// The manifest lists names in code page 936, the Windows installer's; the installer here turns
// them back into this system's UTF-8, so the game has the same names on both.
TEST_F(PublishedGame, ChineseNamesAreListedInCodePage936AndInstalledUnderTheirOwn) {
    PutFile(game, "设置/配置.txt", "settings");
    Publish();
    EXPECT_NE(ReadFile(ManifestPath(www)).find("\t\xc9\xe8\xd6\xc3/\xc5\xe4\xd6\xc3.txt\t"),
              std::string::npos);
    std::unique_ptr<WebServer> server = MakeWebServer(WebServerKind::Nginx);
    ASSERT_TRUE(server->Start(www, 80)) << server->ErrorLog();
    RunInstaller();
    ExpectGameInstalled();
    EXPECT_FALSE(fs::exists(home + "/Felto/\xc9\xe8\xd6\xc3"));
}

template <typename Kind, std::string (*whyCannotRun)(Kind)>
class PublishedGameOn : public PublishedGame, public ::testing::WithParamInterface<Kind> {
  protected:
    void SetUp() override {
        const std::string why = whyCannotRun(this->GetParam());
        if (!why.empty())
            GTEST_SKIP() << why;
        PublishedGame::SetUp();
    }
};

using InstallPublished = PublishedGameOn<WebServerKind, WhyWebServerCannotRun>;

TEST_P(InstallPublished, InstallsEverythingThenFetchesOnlyTheChangedFile) {
    Publish();
    std::unique_ptr<WebServer> server = MakeWebServer(GetParam());
    ASSERT_TRUE(server->Start(www, 80)) << server->ErrorLog();

    const ChildResult check = RunPublisherCapturingOutput({"check", "http://127.0.0.1", "--quiet"});
    EXPECT_EQ(check.exitStatus, 0) << check.stdErr;
    EXPECT_EQ(CountOf(check.stdErr, "FAIL"), 0) << check.stdErr;
    EXPECT_EQ(CountOf(check.stdErr, "WARN"), 0) << check.stdErr;
    EXPECT_EQ(CountOf(check.stdErr, "this build's installer asks"), 0) << check.stdErr;
    EXPECT_NE(check.stdErr.find("6 of 6 objects present, 6 of 6 fetched with their digest"),
              std::string::npos)
        << check.stdErr;
    // The publisher's own files at the tree's root are not for anyone to read.
    for (const char* own : {".felto-packed-objects", ".felto-publish.lock"}) {
        ASSERT_TRUE(fs::exists(www + "/" + own)) << own;
        const ChildResult get = RunChild({"/bin/sh", "-c",
                                          "exec curl -s --max-time 20 -o /dev/null -w "
                                          "'%{http_code}' \"$0\" >&2",
                                          std::string("http://127.0.0.1/") + own},
                                         ChildOptions{});
        EXPECT_TRUE(get.stdErr == "403" || get.stdErr == "404") << own << ": " << get.stdErr;
    }

    const std::string first = RunInstaller();
    ExpectGameInstalled();
    // Missing files, not the archiver's output that is still on its way.
    EXPECT_EQ(CountOf(first, "文件不存在,") - CountOf(first, "解压未完成，文件不存在,"), 7)
        << first;
    EXPECT_EQ(CountOf(first, "error,code:"), 0) << first;

    PutFile(game, "readme.txt", "version 2\n");
    Publish();
    const ListedFile changed = ReadPublishedManifest(www, true).files.back();
    ASSERT_EQ(changed.relPath, "readme.txt");
    // A fresh access log: a server may write the first run's last lines late.
    server->Stop();
    ASSERT_TRUE(server->Start(www, 80)) << server->ErrorLog();

    const std::string second = RunInstaller();
    ExpectGameInstalled();
    EXPECT_EQ(CountOf(second, "文件不存在,"), 0) << second;
    EXPECT_EQ(CountOf(second, "MD5不一致"), 1) << second;
    EXPECT_TRUE(
        WaitUntil(10000, [&] { return CountOf(server->AccessLog(), "/" + changed.url) > 0; }));
    const std::string requests = server->AccessLog();
    EXPECT_GT(CountOf(requests, "/microclient/objects/"), 0) << requests;
    EXPECT_EQ(CountOf(requests, "/microclient/objects/"), CountOf(requests, "/" + changed.url))
        << "objects other than the changed one were fetched:\n"
        << requests;
}

TEST_P(InstallPublished, ASignedPublishInstallsWithTheKeyBuiltIn) {
    Publish({"--sign-key", TestPrivateKeyPath()});
    std::unique_ptr<WebServer> server = MakeWebServer(GetParam());
    ASSERT_TRUE(server->Start(www, 80)) << server->ErrorLog();
    const std::string log = RunInstaller(FELTO_TEST_KEY_INSTALLER_BINARY);
    ExpectGameInstalled();
    EXPECT_EQ(CountOf(log, "signature ok: launcher_manifest_x64.js"), 1) << log;
    EXPECT_EQ(CountOf(log, "error,code:"), 0) << log;
}

// Bytes of objects that the server sent, by the last field of its log lines.
long long ObjectBytes(const std::string& log);

// One tree serves both: an installer without chunked updates installs a chunked tree as it
// always has; one with them brings a changed file up to date from the chunks it lacks.
TEST_F(PublishedGame, AChunkedUpdateFetchesOnlyTheChunksThatChanged) {
    std::string big = MakeBytes(6 * 1024 * 1024, 7);
    PutFile(game, "data/big.bin", big);
    Publish({"--chunks"});
    std::unique_ptr<WebServer> server = MakeWebServer(WebServerKind::Nginx);
    ASSERT_TRUE(server->Start(www, 80)) << server->ErrorLog();
    const std::string first = RunInstaller();
    ExpectGameInstalled();
    // This build's own installer: without the option it asks for no chunk list at all.
    if (!GetEngineSettings().chunkedUpdates) {
        EXPECT_EQ(CountOf(first, "Chunked update"), 0) << first;
        std::string listed;
        for (const ListedFile& file : ReadPublishedManifest(www, true).files)
            listed += file.chunkList;
        ASSERT_FALSE(listed.empty());
        EXPECT_EQ(CountOf(server->AccessLog(), listed.substr(listed.size() - 32)), 0);
    }

    big.replace(big.size() / 2, 4096, MakeBytes(4096, 8));
    PutFile(game, "data/big.bin", big);
    Publish({"--chunks"});
    server->Stop();
    ASSERT_TRUE(server->Start(www, 80)) << server->ErrorLog();
    const std::string update = RunInstaller(FELTO_CHUNKED_INSTALLER_BINARY);
    ExpectGameInstalled();
    EXPECT_EQ(CountOf(update, "Chunked update of "), 1) << update;
    EXPECT_EQ(CountOf(update, "failed:"), 0) << update;
    ListedFile changed;
    for (const ListedFile& file : ReadPublishedManifest(www, true).files)
        if (file.relPath == "data/big.bin")
            changed = file;
    ASSERT_TRUE(WaitUntil(
        10000, [&] { return CountOf(server->AccessLog(), LastComponent(changed.chunkList)) > 0; }));
    const std::string requests = server->AccessLog();
    EXPECT_EQ(CountOf(requests, "/" + changed.url), 0) << requests;
    const long long sent = ObjectBytes(requests);
    // The whole object would cost more than its size: the probe and the ranges each bring bytes.
    EXPECT_LT(sent, static_cast<long long>(big.size() / 2)) << requests;
    std::printf("chunked update of a 6 MiB file with 4 KiB changed: %lld object bytes sent\n",
                sent);

    // The file moves to another folder: its bytes come from where the earlier release put it
    // (once the download folder no longer holds them).
    fs::remove(home + "/Felto/incoming/" + LastComponent(changed.url));
    fs::create_directories(game + "/data/moved");
    fs::rename(game + "/data/big.bin", game + "/data/moved/big.bin");
    Publish({"--chunks"});
    server->Stop();
    ASSERT_TRUE(server->Start(www, 80)) << server->ErrorLog();
    const std::string moved = RunInstaller(FELTO_CHUNKED_INSTALLER_BINARY);
    EXPECT_TRUE(ReadFile(home + "/Felto/data/moved/big.bin") == big);
    EXPECT_EQ(CountOf(moved, "data/moved/big.bin: "), 1) << moved;
    EXPECT_EQ(CountOf(moved, " reused, 0 chunks (0 bytes) fetched"), 1) << moved;
}

INSTANTIATE_TEST_SUITE_P(Servers, InstallPublished,
                         ::testing::Values(WebServerKind::Nginx, WebServerKind::Apache,
                                           WebServerKind::Lighttpd),
                         NamedAfter(WebServerName));

// The origin as the README sets it behind an edge: manifests are asked for again on every run,
// objects (named by their digest) never change.
const char kOriginCaching[] =
    "location /microclient/download/ { add_header Cache-Control \"no-cache\"; }\n"
    "    location /microclient/objects/ { add_header Cache-Control \"public, max-age=31536000, "
    "immutable\"; }";

int Lines(const std::string& text) {
    return CountOf(text, "\n");
}

// Bytes of objects that the origin sent, by the last field of its log lines.
long long ObjectBytes(const std::string& log) {
    long long bytes = 0;
    std::size_t at = 0;
    for (std::size_t end; (end = log.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string line = log.substr(at, end - at);
        if (line.find("/microclient/objects/") != std::string::npos)
            bytes += std::atoll(line.c_str() + line.rfind(' ') + 1);
    }
    return bytes;
}

// The text after its first `skip` lines.
std::string LinesFrom(const std::string& text, int skip) {
    std::size_t at = 0;
    for (int line = 0; line < skip; ++line) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            return std::string();
        at = end + 1;
    }
    return text.substr(at);
}

class InstallThroughEdge : public PublishedGameOn<EdgeKind, WhyEdgeCannotRun> {
  protected:
    // Every object of the published tree was asked of the origin: the log lines of a run are in.
    bool OriginSawEveryObject(const NginxServer& origin) {
        const std::string log = origin.AccessLog();
        for (const ListedFile& file : ReadPublishedManifest(www, true).files)
            if (CountOf(log, "/" + file.url) == 0)
                return false;
        return true;
    }
};

// Cold, the edge fetches from the origin; warm, a second player's install and a one-file update
// take no object bytes from the origin: only the manifests are asked for again on every run.
TEST_P(InstallThroughEdge, ServesColdThenOffloadsTheOriginWarm) {
    Publish();
    NginxServer origin;
    origin.SetExtraConfig(kOriginCaching);
    ASSERT_TRUE(origin.Start(www)) << origin.ErrorLog();
    std::unique_ptr<WebServer> edge = MakeEdgeServer(GetParam(), origin.port());
    ASSERT_TRUE(edge->Start(www, 80)) << edge->ErrorLog();

    const std::string cold = temp / "cold", warm = temp / "warm";
    const std::string coldLog = RunInstallerIn(cold);
    ExpectGameInstalled(cold);
    EXPECT_EQ(CountOf(coldLog, "error,code:"), 0) << coldLog;
    ASSERT_TRUE(WaitUntil(10000, [&] { return OriginSawEveryObject(origin); }))
        << origin.AccessLog();
    const int coldRequests = Lines(origin.AccessLog());

    const ChildResult check = RunPublisherCapturingOutput({"check", "http://127.0.0.1", "--quiet"});
    EXPECT_EQ(check.exitStatus, 0) << check.stdErr;
    EXPECT_EQ(CountOf(check.stdErr, "FAIL"), 0) << check.stdErr;
    const std::size_t heads = check.stdErr.find("answer heads: largest ");
    ASSERT_NE(heads, std::string::npos) << check.stdErr;
    const int largestHead = std::atoi(check.stdErr.c_str() + heads + 22);
    const int afterCheck = Lines(origin.AccessLog());

    const std::string warmLog = RunInstallerIn(warm);
    ExpectGameInstalled(warm);
    const std::string log = origin.AccessLog();
    const int warmTotal = Lines(log) - afterCheck;
    const std::string warmLines = LinesFrom(log, afterCheck);
    // Traffic Server does not keep an empty object: asking for it again costs a head, no bytes.
    EXPECT_EQ(ObjectBytes(warmLines), 0) << "the warm install fetched objects from the origin:\n"
                                         << warmLines;
    const int emptyObjects = GetParam() == EdgeKind::TrafficServer ? 1 : 0;
    EXPECT_EQ(CountOf(warmLines, "/microclient/objects/"), emptyObjects) << warmLines;

    // One file changes: the first player fetches it through the edge, the second from the edge.
    PutFile(game, "readme.txt", "version 2\n");
    Publish();
    const std::string changed = ReadPublishedManifest(www, true).files.back().url;
    const std::string update = RunInstallerIn(cold);
    ExpectGameInstalled(cold);
    EXPECT_EQ(CountOf(update, "MD5不一致"), 1) << update;
    ASSERT_TRUE(WaitUntil(10000, [&] { return CountOf(origin.AccessLog(), "/" + changed) > 0; }));
    const int beforeWarmUpdate = Lines(origin.AccessLog());
    RunInstallerIn(warm);
    ExpectGameInstalled(warm);
    const std::string warmUpdate = LinesFrom(origin.AccessLog(), beforeWarmUpdate);
    EXPECT_EQ(ObjectBytes(warmUpdate), 0) << warmUpdate;

    std::printf("edge %-13s | cold install: %d origin requests | warm install: %d (%d objects) "
                "| warm update: %d (%d objects) | largest head %d bytes\n",
                EdgeName(GetParam()), coldRequests, warmTotal,
                CountOf(warmLines, "/microclient/objects/"), Lines(warmUpdate),
                CountOf(warmUpdate, "/microclient/objects/"), largestHead);
    EXPECT_EQ(CountOf(warmLog, "error,code:"), 0) << warmLog;
}

INSTANTIATE_TEST_SUITE_P(Edges, InstallThroughEdge,
                         ::testing::Values(EdgeKind::Varnish, EdgeKind::Squid,
                                           EdgeKind::TrafficServer),
                         NamedAfter(EdgeName));

} // namespace
