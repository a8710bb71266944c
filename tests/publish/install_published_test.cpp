// The real installer against nginx serving what felto-publish laid out.

#include "tests/publish/publish_helpers.h"
#include "tests/support/manifest_signing.h"
#include "tests/support/nginx_server.h"
#include "tests/support/server_tree.h"
#include "tests/support/temp_dir.h"

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

class InstallPublished : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const GameFile& file : LauncherBasics())
            PutFile(game, file.path, file.bytes);
        PutFile(game, "data/world.dat", MakeBytes(409601 + 200000, 1)); // three connections
        PutFile(game, "data/sounds.pak", MakeBytes(30000, 2) + std::string(100000, 's'));
        PutFile(game, "readme.txt", "version 1\n");
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

TEST_F(InstallPublished, InstallsEverythingThenFetchesOnlyTheChangedFile) {
    Publish();
    NginxServer server;
    ASSERT_TRUE(server.Start(www, 80)) << server.ErrorLog();

    const std::string first = RunInstaller();
    ExpectGameInstalled();
    EXPECT_EQ(Count(first, "文件不存在,"), 6) << first;
    EXPECT_EQ(Count(first, "error,code:"), 0) << first;

    PutFile(game, "readme.txt", "version 2\n");
    Publish();
    const ListedFile changed = ReadPublishedManifest(www, true).files.back();
    ASSERT_EQ(changed.relPath, "readme.txt");
    const std::size_t seen = server.AccessLog().size();

    const std::string second = RunInstaller();
    ExpectGameInstalled();
    EXPECT_EQ(Count(second, "文件不存在,"), 0) << second;
    EXPECT_EQ(Count(second, "MD5不一致"), 1) << second;
    const std::string requests = server.AccessLog().substr(seen);
    EXPECT_GT(Count(requests, "/microclient/objects/"), 0) << requests;
    EXPECT_EQ(Count(requests, "/microclient/objects/"), Count(requests, "/" + changed.url))
        << "objects other than the changed one were fetched:\n"
        << requests;
}

TEST_F(InstallPublished, ASignedPublishInstallsWithTheKeyBuiltIn) {
    Publish({"--sign-key", TestPrivateKeyPath()});
    NginxServer server;
    ASSERT_TRUE(server.Start(www, 80)) << server.ErrorLog();
    const std::string log = RunInstaller(FELTO_TEST_KEY_INSTALLER_BINARY);
    ExpectGameInstalled();
    EXPECT_EQ(Count(log, "signature ok: launcher_manifest_x64.js"), 1) << log;
    EXPECT_EQ(Count(log, "error,code:"), 0) << log;
}

} // namespace
