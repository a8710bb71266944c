// What the installer could not install is refused before anything is written.

#include "tests/publish/publish_helpers.h"
#include "tests/support/manifest_signing.h"
#include "tests/support/temp_dir.h"
#include "tests/support/text_checks.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

struct BadInput {
    const char* name;
    // Spoils the game folder; `outside` is a sibling folder holding secret.txt.
    std::function<void(const std::string& game, const std::string& outside)> spoil;
    const char* reason;            // part of the message
    const char* output = "www";    // below the test's folder
    const char* signKey = nullptr; // --sign-key, below the test's folder
    std::vector<std::string> options = {};
};

// Test names stay readable and the same from run to run.
void PrintTo(const BadInput& input, std::ostream* out) {
    *out << input.name;
}

class PublishRefusal : public ::testing::TestWithParam<BadInput> {};

TEST_P(PublishRefusal, NamesTheProblemAndWritesNothing) {
    TempDir temp;
    const std::string game = temp / "game", outside = temp / "outside";
    PutFile(game, "Felto.exe", "good file");
    PutFile(outside, "secret.txt", "not for players");
    GetParam().spoil(game, outside);
    const std::string output = temp / GetParam().output;

    std::vector<std::string> args = {"--input", game, "--output", output};
    if (GetParam().signKey)
        args.insert(args.end(), {"--sign-key", temp / GetParam().signKey});
    args.insert(args.end(), GetParam().options.begin(), GetParam().options.end());
    ChildResult run = RunPublisher(args);
    EXPECT_EQ(run.exitStatus, 3) << run.stdErr;
    EXPECT_NE(run.stdErr.find("refused"), std::string::npos) << run.stdErr;
    EXPECT_NE(run.stdErr.find(GetParam().reason), std::string::npos) << run.stdErr;
    EXPECT_FALSE(FileExists(output)) << "something was written";
}

// A game folder spoilt by one more file of that name.
std::function<void(const std::string&, const std::string&)> PutsFile(const std::string& relPath) {
    return [relPath](const std::string& game, const std::string&) { PutFile(game, relPath, "x"); };
}

std::string Deep(std::size_t length) {
    return std::string(200, 'd') + "/" + std::string(200, 'e') + "/" +
           std::string(length - 402, 'f');
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, PublishRefusal,
    ::testing::Values(
        BadInput{"TabInName", PutsFile("a\tb.txt"), "a\\tb.txt: name holds a tab"},
        BadInput{"LineFeedInName", PutsFile("sub/a\nb"), "sub/a\\nb: name holds a line end"},
        BadInput{"CarriageReturnInFolderName", PutsFile("d\r/a"), "d\\r: name holds a line end"},
        BadInput{"Backslash", PutsFile("a\\b.txt"), "a\\b.txt: name holds '\\'"},
        BadInput{"OnlyDots", PutsFile("d/.../x"), "d/...: name made of dots"},
        BadInput{"LinkToAFileOutside",
                 [](const std::string& g, const std::string& o) {
                     fs::create_symlink(o + "/secret.txt", g + "/secret.txt");
                 },
                 "secret.txt: symbolic link to"},
        BadInput{"RelativeLinkUpwards",
                 [](const std::string& g, const std::string&) {
                     fs::create_directories(g + "/data");
                     fs::create_symlink("../../outside/secret.txt", g + "/data/up.txt");
                 },
                 "data/up.txt: symbolic link to"},
        BadInput{"LinkToAFolderOutside",
                 [](const std::string& g, const std::string& o) {
                     fs::create_directory_symlink(o, g + "/more");
                 },
                 "more: symbolic link to"},
        BadInput{"DanglingLink",
                 [](const std::string& g, const std::string&) {
                     fs::create_symlink("nowhere.txt", g + "/gone.txt");
                 },
                 "gone.txt: symbolic link that leads nowhere"},
        BadInput{"LinkLoop",
                 [](const std::string& g, const std::string&) {
                     fs::create_directory_symlink(".", g + "/again");
                 },
                 "again: symbolic link loop"},
        BadInput{"PathTooLongForAManifestLine", PutsFile(Deep(421)), "path too long"},
        BadInput{"NamesEqualButForCase",
                 [](const std::string& g, const std::string&) {
                     PutFile(g, "Data/readme.txt", "x");
                     PutFile(g, "data/README.txt", "y");
                 },
                 "ignores case"},
        BadInput{"NameCodePage936CannotHold", PutsFile("data/\xf0\x9f\x8e\xae.txt"),
                 "data/\xf0\x9f\x8e\xae.txt: a name code page 936 cannot hold"},
        BadInput{"NameThatIsNoUtf8", PutsFile("data/\xc9\xe8.txt"),
                 "data/\xc9\xe8.txt: a name code page 936 cannot hold"},
        BadInput{"DeviceName", PutsFile("sub/Con.txt"),
                 "sub/Con.txt: a name Windows keeps for a device"},
        BadInput{"InstallersOwnFile", PutsFile("incoming/x.dat"),
                 "incoming/x.dat: a path the installer keeps for its own files"},
        BadInput{"Fifo",
                 [](const std::string& g, const std::string&) {
                     ASSERT_EQ(::mkfifo((g + "/pipe").c_str(), 0644), 0);
                 },
                 "pipe: neither a file nor a folder"},
        BadInput{"OutputInsideTheGame", [](const std::string&, const std::string&) {},
                 "inside the game folder", "game/www"},
        BadInput{"SignKeyMissing", [](const std::string&, const std::string&) {},
                 "outside/key.pem: cannot read", "www", "outside/key.pem"},
        BadInput{"NoLauncher",
                 [](const std::string& g, const std::string&) { fs::remove(g + "/Felto.exe"); },
                 "game: Felto.exe is missing: the installer puts its desktop shortcut on it"},
        BadInput{"PackedWithoutArchivers",
                 PutsFile("data/level.pak"),
                 "game: plantform/x86/7z.exe is missing, and 1 file is delivered packed: "
                 "installs on 32-bit Windows would end with error 21 at unpacking; add it",
                 "www",
                 nullptr,
                 {"--pack", "*.pak"}},
        BadInput{"PackedWithoutThe64BitArchiver",
                 [](const std::string& g, const std::string&) {
                     PutFile(g, "plantform/x86/7z.exe", "x");
                     PutFile(g, "data/level.pak", "abc");
                 },
                 "game: plantform/x64/7z.exe is missing, and 2 files are delivered packed",
                 "www",
                 nullptr,
                 {"--pack-over", "2"}},
        BadInput{"SignKeyThatIsAPublicKey",
                 [](const std::string&, const std::string& o) {
                     PutFile(o, "key.pem", ReadFile(TestPublicKeyPath()));
                 },
                 "key.pem: not an ECDSA P-256 private key", "www", "outside/key.pem"}),
    [](const ::testing::TestParamInfo<BadInput>& info) { return std::string(info.param.name); });

// A tree meant to be incomplete (a test server, a game started some other way) is published when
// the studio says so, with what it lacks still said; packing nothing needs no archiver.
TEST(PublishIncompleteGame, IsPublishedWhenAskedOrWhenNothingIsPacked) {
    TempDir temp;
    const std::string game = temp / "game", output = temp / "www";
    PutFile(game, "data/level.pak", "level");
    ChildResult run = RunPublisher(
        {"--input", game, "--output", output, "--pack", "*.pak", "--allow-incomplete"});
    EXPECT_EQ(run.exitStatus, 0) << run.stdErr;
    EXPECT_NE(run.stdErr.find("warning: " + game + ": Felto.exe is missing"), std::string::npos)
        << run.stdErr;
    EXPECT_EQ(CountOf(run.stdErr, " is missing"), 3) << run.stdErr;

    PutFile(game, "Felto.exe", "launcher");
    run = RunPublisher({"--input", game, "--output", output, "--pack", "*.dat"});
    EXPECT_EQ(run.exitStatus, 0) << run.stdErr;
    EXPECT_EQ(run.stdErr.find("missing"), std::string::npos) << run.stdErr;

    // Apart, each architecture's tree needs only the archiver its Windows runs.
    const std::string x64 = temp / "x64";
    PutFile(game, "plantform/x86/7z.exe", "32-bit archiver");
    PutFile(x64, "plantform/x64/7z.exe", "64-bit archiver");
    PutFile(x64, "Felto.exe", "launcher");
    PutFile(x64, "data/level.pak", "level");
    run =
        RunPublisher({"--input", game, "--input-x64", x64, "--output", output, "--pack", "*.pak"});
    EXPECT_EQ(run.exitStatus, 0) << run.stdErr;
    fs::remove(x64 + "/plantform/x64/7z.exe");
    run =
        RunPublisher({"--input", game, "--input-x64", x64, "--output", output, "--pack", "*.pak"});
    EXPECT_EQ(run.exitStatus, 3) << run.stdErr;
    EXPECT_NE(run.stdErr.find(x64 + ": plantform/x64/7z.exe is missing"), std::string::npos)
        << run.stdErr;
    EXPECT_EQ(CountOf(run.stdErr, " is missing"), 1) << run.stdErr;
}

// Signing for installers built with the release key: the key named by its fingerprint, another
// key refused unless asked for, and a signed tree never republished without a signature.
TEST(PublishSigning, TakesOnlyTheBuildsKeyAndNeverLeavesAStaleSignature) {
    TempDir temp;
    const std::string game = temp / "game", output = temp / "www", other = temp / "other.pem";
    PutFile(game, "Felto.exe", "v1");
    ChildResult made =
        RunChild({"openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", other},
                 ChildOptions{});
    ASSERT_EQ(made.exitStatus, 0) << made.stdErr;

    ChildResult run = RunKeyedPublisher({"--input", game, "--output", output, "--sign-key", other});
    EXPECT_EQ(run.exitStatus, 3) << run.stdErr;
    const std::string said = " is not the release key this felto-publish was built with (key ";
    const std::size_t at = run.stdErr.find(said);
    ASSERT_NE(at, std::string::npos) << run.stdErr;
    const std::string builtKey = run.stdErr.substr(at + said.size() - 4, 20);
    EXPECT_NE(run.stdErr.find("felto-publish: signing with key "), std::string::npos);
    EXPECT_EQ(run.stdErr.find("signing with " + builtKey), std::string::npos) << run.stdErr;
    EXPECT_FALSE(FileExists(output));

    run = RunKeyedPublisher(
        {"--input", game, "--output", output, "--sign-key", other, "--key-mismatch-ok"});
    EXPECT_EQ(run.exitStatus, 0) << run.stdErr;
    EXPECT_NE(run.stdErr.find("warning: key "), std::string::npos) << run.stdErr;

    run = RunKeyedPublisher(
        {"--input", game, "--output", output, "--sign-key", TestPrivateKeyPath()});
    EXPECT_EQ(run.exitStatus, 0) << run.stdErr;
    EXPECT_NE(run.stdErr.find("felto-publish: signing with " + builtKey + "\n"), std::string::npos)
        << builtKey << "\n"
        << run.stdErr;
    EXPECT_EQ(run.stdErr.find("warning"), std::string::npos) << run.stdErr;

    const std::string manifest = ReadFile(ManifestPath(output));
    PutFile(game, "Felto.exe", "v2");
    run = RunPublisher({"--input", game, "--output", output});
    EXPECT_EQ(run.exitStatus, 3) << run.stdErr;
    EXPECT_NE(run.stdErr.find("launcher_manifest_x64.js.sig: the tree is signed"),
              std::string::npos)
        << run.stdErr;
    EXPECT_EQ(ReadFile(ManifestPath(output)), manifest);
}

TEST(PublishRefusalOfARepublish, LeavesThePublishedTreeAsItWas) {
    TempDir temp;
    const std::string game = temp / "game", output = temp / "www";
    PutFile(game, "Felto.exe", "v1");
    ASSERT_EQ(RunPublisher({"--input", game, "--output", output}).exitStatus, 0);
    const std::string manifest = ReadFile(ManifestPath(output));
    const auto objects = ObjectFiles(output);

    PutFile(game, "Felto.exe", "v2");
    PutFile(game, "bad\tname", "x");
    ChildResult run = RunPublisher({"--input", game, "--output", output});
    EXPECT_EQ(run.exitStatus, 3) << run.stdErr;
    EXPECT_EQ(ReadFile(ManifestPath(output)), manifest);
    EXPECT_EQ(ObjectFiles(output), objects);
}

TEST(PublishCommandLine, MistakesAreReportedWithTheUsage) {
    TempDir temp;
    fs::create_directories(temp / "game");
    const std::string game = temp / "game", output = temp / "www";
    const std::vector<std::vector<std::string>> mistakes = {
        {},
        {"--input", game},
        {"--output", output},
        {"--input", game, "--output", output, "--pack-over", "12k"},
        {"--input", game, "--output", output, "--pack-over", "-1"},
        {"--input", game, "--output", output, "--pack", ""},
        {"--input", game, "--output", output, "--frobnicate"},
        {"--input", game, "--output"},
        {"--input", game, "--output", output, "--sign-key"},
    };
    for (const auto& args : mistakes) {
        ChildResult run = RunPublisher(args);
        EXPECT_EQ(run.exitStatus, 2) << run.stdErr;
        EXPECT_NE(run.stdErr.find("usage: felto-publish"), std::string::npos) << run.stdErr;
    }
    EXPECT_FALSE(FileExists(output));

    ChildResult missing = RunPublisher({"--input", temp / "nothing", "--output", output});
    EXPECT_EQ(missing.exitStatus, 3) << missing.stdErr;
    EXPECT_NE(missing.stdErr.find("nothing: not a folder"), std::string::npos) << missing.stdErr;
    EXPECT_FALSE(FileExists(output));
}

// A manifest may only name objects that are already in place.
TEST(PublishArchiverFailure, LeavesNoManifestNamingAMissingObject) {
    TempDir temp;
    const std::string game = temp / "game", output = temp / "www";
    PutFirstRelease(game);

    ChildResult failed = RunPublisher(
        {"--input", game, "--output", output, "--pack", "*.pak", "--7z", "/bin/false"});
    EXPECT_EQ(failed.exitStatus, 1) << failed.stdErr;
    EXPECT_NE(failed.stdErr.find("the archiver '/bin/false' failed"), std::string::npos)
        << failed.stdErr;
    EXPECT_FALSE(FileExists(ManifestPath(output)));
    EXPECT_FALSE(FileExists(ManifestPath(output, true)));

    ASSERT_EQ(RunPublisher({"--input", game, "--output", output}).exitStatus, 0);
    const std::string manifest = ReadFile(ManifestPath(output));
    PutFile(game, "Felto.exe", "v2");
    ChildResult missing = RunPublisher(
        {"--input", game, "--output", output, "--pack", "*.pak", "--7z", temp / "no-such-7z"});
    EXPECT_EQ(missing.exitStatus, 1) << missing.stdErr;
    EXPECT_NE(missing.stdErr.find("cannot run the archiver"), std::string::npos) << missing.stdErr;
    EXPECT_EQ(ReadFile(ManifestPath(output)), manifest);
    for (const ListedFile& file : ReadPublishedManifest(output).files)
        EXPECT_TRUE(FileExists(output + "/" + file.url)) << file.url;
    for (const auto& entry : fs::directory_iterator(output + "/microclient/objects"))
        EXPECT_NE(entry.path().filename().string().rfind(".felto-tmp-", 0), 0u)
            << "temporary files were left: " << entry.path();
}

} // namespace
