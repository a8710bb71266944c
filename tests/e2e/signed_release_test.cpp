// Signed releases: the installer built with the tests' release key (FeltoInstallerTestKey)
// installs only what the key signed, never an older release than it installed before, nothing
// below its lowest release (FELTO_TEST_RELEASE_FLOOR) and no expired release; the installer built
// without a key never asks for a signature.

#include "manifest/manifest_signature.h"
#include "tests/e2e/install_fixture.h"
#include "tests/support/manifest_signing.h"
#include "tests/support/server_tree.h"

#include <ctime>
#include <filesystem>
#include <map>
#include <sstream>

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kFloor = FELTO_TEST_RELEASE_FLOOR;
constexpr std::int64_t kDay = 24 * 60 * 60;

std::int64_t Now() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

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

    // The install folder as a player's files: everything but the installer's own (download
    // folder, log, lock).
    std::map<std::string, std::string> InstalledTree() const {
        std::map<std::string, std::string> tree;
        for (const auto& item : fs::recursive_directory_iterator(InstallDir())) {
            const std::string relPath = fs::relative(item.path(), InstallDir()).generic_string();
            if (item.is_regular_file() && relPath.rfind("incoming/", 0) != 0 &&
                relPath != "FeltoInstaller.log" && relPath != ".FeltoUpdater.lock")
                tree[relPath] = ReadFile(item.path());
        }
        return tree;
    }

    int Requests(const std::string& uri) {
        return CountOf(server_->AccessLog(), "/microclient/download/" + uri + " HTTP/1.1");
    }

    std::string StatePath() const { return InstallDir() + "/incoming/FeltoRelease.state"; }
    std::string State() const { return fs::exists(StatePath()) ? ReadFile(StatePath()) : ""; }
    // What the installer remembers after taking the 64-bit manifest of `release`.
    std::string StateOf(std::uint64_t release, const std::string& key) const {
        return "felto-release-state 1\nkey " + key + "\nrelease " + std::to_string(release) +
               "\nmanifest launcher_manifest_x64.js\nmd5 " +
               Md5Of(ReadFile(Download("launcher_manifest_x64.js"))) + "\n";
    }
    // The key as the installer carries it: the PEM file's base64 lines.
    static std::string TestKey() {
        std::istringstream pem(ReadFile(TestPublicKeyPath()));
        std::string line, key;
        while (std::getline(pem, line))
            if (line.rfind("-----", 0) != 0)
                key += line;
        return key;
    }

    void ExpectRefused(const InstallerRun& run, int extra, const std::string& logged) {
        EXPECT_EQ(run.process.exitStatus, 0);
        EXPECT_EQ(CountOf(run.log, "error,code:106, ext err:" + std::to_string(extra) + "\n"), 1)
            << run.log;
        EXPECT_EQ(CountOf(run.log, logged), 1) << run.log;
        EXPECT_NE(run.process.stdErr.find("清单文件损坏，请重新运行Felto.exe(106)"),
                  std::string::npos)
            << run.process.stdErr;
        EXPECT_EQ(CountOf(run.log, "_StartLauncher"), 0) << run.log;
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
    EXPECT_EQ(CountOf(run.log, "error,code:"), 0) << run.log;
    EXPECT_EQ(CountOf(run.log, " signature ok: launcher_manifest_x64.js, release " +
                                   std::to_string(kFloor + 1) + "\n"),
              1)
        << run.log;
    // The signature is fetched like the manifest: a probe, then its one range.
    EXPECT_EQ(Requests("launcher_manifest_x64.js.sig"), 2) << server_->AccessLog();
    EXPECT_EQ(Requests("launcher_manifest.js.sig"), 0);
    EXPECT_EQ(State(), StateOf(kFloor + 1, TestKey()));

    // A run that finds the same release again leaves the state as it is; the cleanup of the
    // download folder keeps it.
    const auto written = fs::last_write_time(StatePath());
    run = RunInstaller();
    EXPECT_EQ(CountOf(run.log, "error,code:"), 0) << run.log;
    EXPECT_EQ(State(), StateOf(kFloor + 1, TestKey()));
    EXPECT_EQ(fs::last_write_time(StatePath()), written);

    // The next release replaces it.
    files = Version(2);
    Tree().Publish(files);
    SignManifests(ServerRoot(), {kFloor + 7, Now() + 30 * kDay});
    run = RunInstaller();
    EXPECT_EQ(CountOf(run.log, "error,code:"), 0) << run.log;
    ExpectInstalled(files);
    EXPECT_EQ(CountOf(run.log, "expired"), 0) << run.log;
    EXPECT_EQ(State(), StateOf(kFloor + 7, TestKey()));
}

// What an attacker on the way, or a damaged mirror, might serve after a good install.
struct Refusal {
    const char* name;
    void (*spoil)(ServerTree& tree, const std::string& download);
    const char* logged;
    int extra;
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
     "the signature does not match: launcher_manifest_x64.js", 1},
    {"SignatureMissing",
     [](ServerTree& tree, const std::string& download) {
         tree.Publish(Version(2));
         SignManifests(tree.root());
         fs::remove(download + "launcher_manifest_x64.js.sig");
     },
     "no signature on the server: microclient/download/launcher_manifest_x64.js.sig", 1},
    {"The32BitManifestsSignature",
     [](ServerTree& tree, const std::string& download) {
         // Both manifests hold the same bytes: only the name in the signature tells them apart.
         tree.Publish(Version(2));
         SignManifests(tree.root());
         fs::copy_file(download + "launcher_manifest.js.sig",
                       download + "launcher_manifest_x64.js.sig",
                       fs::copy_options::overwrite_existing);
     },
     "the signature does not match: launcher_manifest_x64.js", 1},
    {"GarbageForASignature",
     [](ServerTree& tree, const std::string& download) {
         tree.Publish(Version(2));
         WriteFile(download + "launcher_manifest_x64.js.sig", "<html>not found</html>");
     },
     "no signature on the server: microclient/download/launcher_manifest_x64.js.sig", 1},
    {"TheFormatWithoutAReleaseNumber",
     [](ServerTree& tree, const std::string&) {
         tree.Publish(Version(2));
         SignManifestsWithoutStamp(tree.root());
     },
     "the signature of launcher_manifest_x64.js has the old format without a release number", 1},
    {"AnOlderSignedRelease",
     [](ServerTree& tree, const std::string&) {
         tree.Publish(Version(0));
         SignManifests(tree.root(), {kFloor, std::nullopt});
     },
     "launcher_manifest_x64.js is release 1000, older than release 1001 installed before", 2},
    {"AnotherManifestUnderTheSameNumber",
     [](ServerTree& tree, const std::string&) {
         tree.Publish(Version(2));
         SignManifests(tree.root(), {kFloor + 1, std::nullopt});
     },
     "launcher_manifest_x64.js is release 1001, installed before with other manifest bytes", 3},
    {"ExpiredBeyondTheGrace",
     [](ServerTree& tree, const std::string&) {
         tree.Publish(Version(2));
         SignManifests(tree.root(), {kFloor + 2, Now() - 4 * kDay});
     },
     ": refused", 5},
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
    const std::string state = State();
    ASSERT_FALSE(state.empty());

    GetParam().spoil(Tree(), ServerRoot() + "/microclient/download/");
    ExpectRefused(RunInstaller(), GetParam().extra, GetParam().logged);
    const auto after = InstalledTree();
    for (const auto& [path, bytes] : after)
        EXPECT_TRUE(before.count(path) && before.at(path) == bytes) << "changed: " << path;
    EXPECT_EQ(after.size(), before.size());
    EXPECT_EQ(State(), state);
}

TEST_F(SignedReleaseTest, AReleaseBelowTheBuiltInFloorIsRefusedEvenOnAFirstInstall) {
    Tree().Publish(Version(1));
    SignManifests(ServerRoot(), {kFloor - 1, std::nullopt});
    StartServer();
    ExpectRefused(RunInstaller(), 4,
                  "launcher_manifest_x64.js is release 999, below the lowest this installer "
                  "takes, 1000");
    for (const auto& [path, bytes] : InstalledTree())
        ADD_FAILURE() << "installed: " << path;
    EXPECT_FALSE(fs::exists(StatePath()));
}

TEST_F(SignedReleaseTest, ASignatureJustPastItsExpiryCountsForThreeDaysAndSaysSo) {
    auto files = Version(1);
    Tree().Publish(files);
    const std::int64_t expires = Now() - kDay;
    SignManifests(ServerRoot(), {kFloor + 1, expires});
    StartServer();
    InstallerRun run = RunInstaller();
    EXPECT_EQ(CountOf(run.log, "error,code:"), 0) << run.log;
    ExpectInstalled(files);
    // Support tells a wrong clock from an attack by the two times.
    EXPECT_EQ(CountOf(run.log, "the signature of launcher_manifest_x64.js expired at " +
                                   UtcText(expires) + ", this computer's clock says "),
              1)
        << run.log;
    EXPECT_EQ(CountOf(run.log, ": accepted within the 3-day grace\n"), 1) << run.log;
    EXPECT_EQ(State(), StateOf(kFloor + 1, TestKey()));
}

// A state the installer cannot use counts as nothing remembered, never as a lock-out.
struct ForeignState {
    const char* name;
    std::string (*text)(const std::string& testKey);
    const char* logged; // nullptr: taken in silence
};

void PrintTo(const ForeignState& state, std::ostream* out) {
    *out << state.name;
}

const ForeignState kForeignStates[] = {
    {"Damaged",
     [](const std::string&) { return std::string("felto-release-state 1\nkey \xff\xfe"); },
     "the release state cannot be read and is ignored (nothing remembered): "},
    {"EmptyAfterACrash", [](const std::string&) { return std::string(); },
     "the release state cannot be read and is ignored (nothing remembered): "},
    {"AnOldKeysHigherRelease",
     [](const std::string& testKey) {
         // What an installer with the studio's earlier key remembered.
         std::string oldKey = testKey;
         oldKey[70] = oldKey[70] == 'A' ? 'B' : 'A';
         return "felto-release-state 1\nkey " + oldKey +
                "\nrelease 99999999999\nmanifest launcher_manifest_x64.js\nmd5 "
                "0123456789abcdef0123456789abcdef\n";
     },
     nullptr},
};

class SignedReleaseForeignState : public SignedReleaseTest,
                                  public ::testing::WithParamInterface<ForeignState> {};

TEST_P(SignedReleaseForeignState, IsIgnoredAndReplacedByTheReleaseTaken) {
    auto files = Version(1);
    Tree().Publish(files);
    SignManifests(ServerRoot());
    StartServer();
    fs::create_directories(InstallDir() + "/incoming");
    WriteFile(StatePath(), GetParam().text(TestKey()));

    InstallerRun run = RunInstaller();
    EXPECT_EQ(CountOf(run.log, "error,code:"), 0) << run.log;
    ExpectInstalled(files);
    EXPECT_EQ(CountOf(run.log, "the release state"), GetParam().logged ? 1 : 0) << run.log;
    if (GetParam().logged) {
        EXPECT_EQ(CountOf(run.log, GetParam().logged + StatePath()), 1) << run.log;
    }
    EXPECT_EQ(State(), StateOf(kFloor + 1, TestKey()));
}

INSTANTIATE_TEST_SUITE_P(States, SignedReleaseForeignState, ::testing::ValuesIn(kForeignStates),
                         [](const auto& info) { return std::string(info.param.name); });

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
    EXPECT_EQ(CountOf(access, "/microclient/download/launcher_manifest_x64.js HTTP/1.1"), 4)
        << access;
    EXPECT_EQ(CountOf(access, ".sig"), 0) << access;
    EXPECT_EQ(CountOf(update.log + unsigned_.log, "signature"), 0);
    EXPECT_FALSE(fs::exists(InstallDir() + "/incoming/FeltoRelease.state"));
}

} // namespace
