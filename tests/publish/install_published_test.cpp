// The real installer against nginx, Apache httpd and lighttpd serving what felto-publish laid
// out, each configured as the README shows a studio, and felto-publish check against each.

#include "tests/publish/publish_helpers.h"
#include "tests/support/manifest_signing.h"
#include "tests/support/server_tree.h"
#include "tests/support/temp_dir.h"
#include "tests/support/web_server.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

int Count(const std::string& text, const std::string& what) {
    int count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

class InstallPublished : public ::testing::TestWithParam<WebServerKind> {
  protected:
    void SetUp() override {
        const std::string why = WhyWebServerCannotRun(GetParam());
        if (!why.empty())
            GTEST_SKIP() << why;
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

    std::string RunInstaller(const char* installer = FELTO_INSTALLER_BINARY) {
        ChildOptions options;
        options.env["HOME"] = home;
        options.workingDir = home;
        options.timeoutMs = 120000;
        ChildResult run = RunChild({installer}, options);
        EXPECT_TRUE(run.finished) << run.stdErr;
        EXPECT_NE(run.stdErr.find("安装成功"), std::string::npos) << run.stdErr;
        return ReadFile(home + "/Felto/FeltoInstaller.log");
    }

    void ExpectGameInstalled() {
        for (const auto& item : fs::recursive_directory_iterator(game)) {
            if (!item.is_regular_file())
                continue;
            const std::string relPath = fs::relative(item.path(), game).generic_string();
            EXPECT_TRUE(ReadFile(home + "/Felto/" + relPath) == ReadFile(item.path().string()))
                << relPath << " not installed as published";
        }
    }

    TempDir temp;
    const std::string game = temp / "game", www = temp / "www", home = temp / "home";
};

TEST_P(InstallPublished, InstallsEverythingThenFetchesOnlyTheChangedFile) {
    Publish();
    std::unique_ptr<WebServer> server = MakeWebServer(GetParam());
    ASSERT_TRUE(server->Start(www, 80)) << server->ErrorLog();

    const ChildResult check = RunPublisherCapturingOutput({"check", "http://127.0.0.1", "--quiet"});
    EXPECT_EQ(check.exitStatus, 0) << check.stdErr;
    EXPECT_EQ(Count(check.stdErr, "FAIL"), 0) << check.stdErr;
    EXPECT_EQ(Count(check.stdErr, "WARN"), 0) << check.stdErr;
    EXPECT_NE(check.stdErr.find("6 of 6 objects present, 6 of 6 fetched with their digest"),
              std::string::npos)
        << check.stdErr;

    const std::string first = RunInstaller();
    ExpectGameInstalled();
    EXPECT_EQ(Count(first, "文件不存在,"), 7) << first;
    EXPECT_EQ(Count(first, "error,code:"), 0) << first;

    PutFile(game, "readme.txt", "version 2\n");
    Publish();
    const ListedFile changed = ReadPublishedManifest(www, true).files.back();
    ASSERT_EQ(changed.relPath, "readme.txt");
    // A fresh access log: a server may write the first run's last lines late.
    server->Stop();
    ASSERT_TRUE(server->Start(www, 80)) << server->ErrorLog();

    const std::string second = RunInstaller();
    ExpectGameInstalled();
    EXPECT_EQ(Count(second, "文件不存在,"), 0) << second;
    EXPECT_EQ(Count(second, "MD5不一致"), 1) << second;
    EXPECT_TRUE(
        WaitUntil(10000, [&] { return Count(server->AccessLog(), "/" + changed.url) > 0; }));
    const std::string requests = server->AccessLog();
    EXPECT_GT(Count(requests, "/microclient/objects/"), 0) << requests;
    EXPECT_EQ(Count(requests, "/microclient/objects/"), Count(requests, "/" + changed.url))
        << "objects other than the changed one were fetched:\n"
        << requests;
}

TEST_P(InstallPublished, ASignedPublishInstallsWithTheKeyBuiltIn) {
    Publish({"--sign-key", TestPrivateKeyPath()});
    std::unique_ptr<WebServer> server = MakeWebServer(GetParam());
    ASSERT_TRUE(server->Start(www, 80)) << server->ErrorLog();
    const std::string log = RunInstaller(FELTO_TEST_KEY_INSTALLER_BINARY);
    ExpectGameInstalled();
    EXPECT_EQ(Count(log, "signature ok: launcher_manifest_x64.js"), 1) << log;
    EXPECT_EQ(Count(log, "error,code:"), 0) << log;
}

INSTANTIATE_TEST_SUITE_P(Servers, InstallPublished,
                         ::testing::Values(WebServerKind::Nginx, WebServerKind::Apache,
                                           WebServerKind::Lighttpd),
                         [](const ::testing::TestParamInfo<WebServerKind>& info) {
                             return std::string(WebServerName(info.param));
                         });

} // namespace
