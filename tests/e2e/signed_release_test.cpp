// Signed releases: the installer built with the tests' release key (FeltoInstallerTestKey)
// installs only what the key signed, and the installer built without a key never asks for a
// signature.

#include "tests/e2e/install_fixture.h"
#include "tests/support/manifest_signing.h"

#include <filesystem>
#include <map>

namespace fs = std::filesystem;

namespace {

std::vector<GameFile> Version(int version) {
    std::vector<GameFile> files = LauncherBasics();
    files.push_back({"launcher/config.ini", "version=" + std::to_string(version) + "\n", false});
    files.push_back({"launcher/data.pak", MakeBytes(500000, 3), false});
    return files;
}

class SignedReleaseTest : public InstallFixture {
  protected:
    void SetUp() override {
        InstallFixture::SetUp();
        installer_ = FELTO_TEST_KEY_INSTALLER_BINARY;
    }

    std::string Download(const std::string& name) const {
        return ServerRoot() + "/microclient/download/" + name;
    }

    // The install folder as a player's files: everything but the download folder and the log.
    std::map<std::string, std::string> InstalledTree() const {
        std::map<std::string, std::string> tree;
        for (const auto& item : fs::recursive_directory_iterator(InstallDir())) {
            const std::string relPath = fs::relative(item.path(), InstallDir()).generic_string();
            if (item.is_regular_file() && relPath.rfind("incoming/", 0) != 0 &&
                relPath != "FeltoInstaller.log")
                tree[relPath] = ReadFile(item.path());
        }
        return tree;
    }

    int Requests(const std::string& uri) {
        return CountLines(server_->AccessLog(), "/microclient/download/" + uri + " HTTP/1.1");
    }
};

TEST_F(SignedReleaseTest, ASignedReleaseInstallsWithOneMoreSmallDownload) {
    auto files = Version(1);
    Tree().Publish(files);
    SignManifests(ServerRoot());
    StartServer();

    InstallerRun run = RunInstaller();
    EXPECT_EQ(run.process.exitStatus, 0);
    ExpectInstalled(files);
    EXPECT_EQ(CountLines(run.log, "error,code:"), 0) << run.log;
    EXPECT_EQ(CountLines(run.log, " signature ok: launcher_manifest_x64.js\n"), 1) << run.log;
    // The signature is fetched like the manifest: a probe, then its one range.
    EXPECT_EQ(Requests("launcher_manifest_x64.js.sig"), 2) << server_->AccessLog();
    EXPECT_EQ(Requests("launcher_manifest.js.sig"), 0);
}

// What an attacker on the way, or a damaged mirror, might serve after a good install.
struct Refusal {
    const char* name;
    void (*spoil)(ServerTree& tree, const std::string& download);
    const char* logged;
};

void PrintTo(const Refusal& refusal, std::ostream* out) {
    *out << refusal.name;
}

const Refusal kRefusals[] = {
    {"ManifestChangedAfterSigning",
     [](ServerTree& tree, const std::string&) {
         // Version 2's manifest, size header and all, beside version 1's signature.
         tree.Publish(Version(2));
     },
     "the signature does not match: launcher_manifest_x64.js"},
    {"SignatureMissing",
     [](ServerTree& tree, const std::string& download) {
         tree.Publish(Version(2));
         SignManifests(tree.root());
         fs::remove(download + "launcher_manifest_x64.js.sig");
     },
     "no signature on the server: microclient/download/launcher_manifest_x64.js.sig"},
    {"The32BitManifestsSignature",
     [](ServerTree& tree, const std::string& download) {
         // Both manifests hold the same bytes: only the name in the signature tells them apart.
         tree.Publish(Version(2));
         SignManifests(tree.root());
         fs::copy_file(download + "launcher_manifest.js.sig",
                       download + "launcher_manifest_x64.js.sig",
                       fs::copy_options::overwrite_existing);
     },
     "the signature does not match: launcher_manifest_x64.js"},
    {"GarbageForASignature",
     [](ServerTree& tree, const std::string& download) {
         tree.Publish(Version(2));
         WriteFile(download + "launcher_manifest_x64.js.sig", "<html>not found</html>");
     },
     "no signature on the server: microclient/download/launcher_manifest_x64.js.sig"},
};

class SignedReleaseRefusal : public SignedReleaseTest,
                             public ::testing::WithParamInterface<Refusal> {};

TEST_P(SignedReleaseRefusal, EndsWith106AndLeavesTheInstalledGameAsItWas) {
    Tree().Publish(Version(1));
    SignManifests(ServerRoot());
    StartServer();
    ASSERT_EQ(RunInstaller().process.exitStatus, 0);
    // The game that run started writes its mark on its own time; the snapshot waits for it.
    ASSERT_TRUE(WaitUntil(10000, [&] { return FileExists(Installed("game-started.mark")); }));
    const auto before = InstalledTree();
    ASSERT_EQ(before.at("launcher/config.ini"), "version=1\n");

    GetParam().spoil(Tree(), ServerRoot() + "/microclient/download/");
    InstallerRun run = RunInstaller();
    EXPECT_EQ(run.process.exitStatus, 0);
    EXPECT_EQ(CountLines(run.log, "error,code:106, ext err:1\n"), 1) << run.log;
    EXPECT_EQ(CountLines(run.log, GetParam().logged), 1) << run.log;
    EXPECT_NE(run.process.stdErr.find("清单文件损坏，请重新运行Felto.exe(106)"), std::string::npos)
        << run.process.stdErr;
    EXPECT_EQ(CountLines(run.log, "_StartLauncher"), 0) << run.log;
    EXPECT_TRUE(InstalledTree() == before) << "the install folder changed";
}

INSTANTIATE_TEST_SUITE_P(Refused, SignedReleaseRefusal, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(InstallFixture, AnInstallerWithoutAKeyNeverAsksForASignature) {
    auto files = Version(1);
    Tree().Publish(files);
    StartServer();
    InstallerRun unsigned_ = RunInstaller();
    EXPECT_EQ(unsigned_.process.exitStatus, 0);
    ExpectInstalled(files);

    // Signatures on the server change nothing either.
    files = Version(2);
    Tree().Publish(files);
    SignManifests(ServerRoot());
    InstallerRun update = RunInstaller();
    EXPECT_EQ(update.process.exitStatus, 0);
    ExpectInstalled(files);
    const std::string access = server_->AccessLog();
    EXPECT_EQ(CountLines(access, "/microclient/download/launcher_manifest_x64.js HTTP/1.1"), 4)
        << access;
    EXPECT_EQ(CountLines(access, ".sig"), 0) << access;
    EXPECT_EQ(CountLines(update.log + unsigned_.log, "signature"), 0);
}

} // namespace
