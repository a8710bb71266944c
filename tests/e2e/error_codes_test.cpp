// Every failure a player can meet ends with its numbered message, exit status 0, and leaves what
// was installed before as it was.

#include "tests/e2e/install_fixture.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace {

std::vector<GameFile> SmallGame() {
    std::vector<GameFile> files = LauncherBasics();
    files.push_back({"launcher/a.dat", MakeBytes(5000, 1), false});
    files.push_back({"launcher/b.dat", MakeBytes(7000, 2), false});
    return files;
}

void ExpectReported(const InstallerRun& run, int code) {
    ASSERT_TRUE(run.process.finished) << "the installer did not end";
    EXPECT_EQ(run.process.exitStatus, 0);
    std::string entry = "error,code:" + std::to_string(code) + ", ext err:";
    EXPECT_NE(run.process.stdErr.find(entry), std::string::npos) << run.process.stdErr;
    EXPECT_NE(run.process.stdErr.find("(" + std::to_string(code) + ")"), std::string::npos)
        << run.process.stdErr;
    EXPECT_EQ(run.log.find("_StartLauncher"), std::string::npos);
}

TEST_F(InstallFixture, NoServerEndsWith101AfterThreeAttempts) {
    InstallerRun run = RunInstaller();
    ExpectReported(run, 101);
    EXPECT_EQ(CountOf(run.log, "下载重试，"), 2) << run.log;
    EXPECT_NE(run.log.find("Connecting to the server failed."), std::string::npos);
}

TEST_F(InstallFixture, ManifestWithWrongSizeHeaderEndsWith101AndSaysWhy) {
    auto entries = Tree().Publish(SmallGame());
    std::string body = ManifestLine(entries[0]);
    Tree().WriteRawManifest("#" + std::to_string(body.size() + 1) + "\n" + body);
    StartServer();
    InstallerRun run = RunInstaller();
    ExpectReported(run, 101);
    // Once for each of the three attempts.
    EXPECT_EQ(CountOf(run.log, "size header of launcher_manifest_x64.js: announces " +
                                   std::to_string(body.size() + 1) + " bytes, the body has " +
                                   std::to_string(body.size())),
              3)
        << run.log;
}

TEST_F(InstallFixture, MalformedManifestEndsWith105) {
    Tree().WriteManifest("microclient/objects/x/abc only-two-fields\n");
    StartServer();
    ExpectReported(RunInstaller(), 105);
}

TEST_F(InstallFixture, ManifestPathLeavingTheFolderIsRefusedAndNothingIsWritten) {
    auto entries = Tree().Publish(SmallGame());
    PublishedEntry evil = entries[3];
    evil.relPath = "../outside.dat";
    Tree().WriteManifest(ManifestLine(entries[0]) + ManifestLine(evil));
    StartServer();
    ExpectReported(RunInstaller(), 105);
    EXPECT_FALSE(FileExists(Home() + "/outside.dat"));
}

TEST_F(InstallFixture, ManifestEntriesOnTheInstallersOwnFilesAreRefused) {
    auto entries = Tree().Publish(SmallGame());
    StartServer();
    for (const char* path : {"FeltoInstaller.log", "launcher_manifest_x64.js", "incoming\\x.dat",
                             ".FeltoUpdater.lock", "launcher/COM1.dat", "a.dat:zone"}) {
        SCOPED_TRACE(path);
        PublishedEntry evil = entries[3];
        evil.relPath = path;
        Tree().WriteManifest(ManifestLine(entries[0]) + ManifestLine(evil));
        InstallerRun run = RunInstaller();
        ExpectReported(run, 105);
        // The run's own log is still the run's own.
        EXPECT_NE(run.log.find("manifest line refused"), std::string::npos) << run.log;
    }
}

TEST_F(InstallFixture, OnePathWithTwoDigestsEndsWith105) {
    auto entries = Tree().Publish(SmallGame());
    PublishedEntry other = entries[4];
    other.relPath = "Launcher\\A.dat"; // entries[3] is launcher/a.dat
    Tree().WriteManifest(ManifestLine(entries[3]) + ManifestLine(other));
    StartServer();
    ExpectReported(RunInstaller(), 105);
    EXPECT_FALSE(FileExists(Installed("launcher/a.dat")));
}

TEST_F(InstallFixture, MissingObjectEndsWith108AndNamesIt) {
    auto files = SmallGame();
    auto entries = Tree().Publish(files);
    std::filesystem::remove(Tree().ObjectPath(entries[4]));
    StartServer();
    InstallerRun run = RunInstaller();
    ExpectReported(run, 108);
    EXPECT_EQ(CountOf(run.log, "下载失败," + entries[4].objectMd5), 1) << run.log;
    EXPECT_NE(run.log.find("404 error."), std::string::npos);
    // The other files were still fetched.
    EXPECT_TRUE(FileExists(InstallDir() + "/incoming/" + entries[3].objectMd5));
}

// Fetching eight objects at a time, one failing: every other object arrives, the failed one is
// named with its own retries, the run ends with 108, and the next run fetches only that one.
TEST_F(InstallFixture, ParallelDownloadsEndWith108ForTheOneThatFailed) {
    installer_ = FELTO_PARALLEL_INSTALLER_BINARY;
    std::vector<GameFile> files = LauncherBasics();
    for (int i = 0; i < 10; ++i)
        files.push_back({"launcher/f" + std::to_string(i) + ".dat", MakeBytes(3000 + i, i), false});
    files.push_back({"launcher/big.pak", MakeBytes(409601 + 50000, 20), false});
    auto entries = Tree().Publish(files);
    const PublishedEntry& failing = entries[entries.size() - 3];
    const std::string object = ReadFile(Tree().ObjectPath(failing));
    std::filesystem::remove(Tree().ObjectPath(failing));
    StartServer();

    InstallerRun run = RunInstaller();
    ExpectReported(run, 108);
    EXPECT_EQ(CountOf(run.log, "下载失败,"), 1) << run.log;
    EXPECT_EQ(CountOf(run.log, "下载失败," + failing.objectMd5), 1) << run.log;
    EXPECT_EQ(CountOf(run.log, "下载重试，" + InstallDir() + "/" + failing.relPath), 2) << run.log;
    EXPECT_EQ(CountOf(run.log, "下载重试，"), 2) << run.log;
    for (const PublishedEntry& entry : entries)
        EXPECT_EQ(FileExists(InstallDir() + "/incoming/" + entry.objectMd5),
                  entry.objectMd5 != failing.objectMd5)
            << entry.relPath;
    int firstRun = ObjectRequests();

    WriteFile(Tree().ObjectPath(failing), object);
    InstallerRun second = RunInstaller();
    EXPECT_EQ(CountOf(second.log, "error,code:"), 0) << second.log;
    ExpectInstalled(files);
    // A file of 20 KB or less comes as a probe and one range.
    EXPECT_EQ(ObjectRequests() - firstRun, 2);
}

TEST_F(InstallFixture, CorruptObjectIsNeverInstalled) {
    auto files = SmallGame();
    auto entries = Tree().Publish(files);
    WriteFile(Tree().ObjectPath(entries[3]), "not what the name promises");
    StartServer();
    InstallerRun run = RunInstaller();
    ExpectReported(run, 108);
    EXPECT_FALSE(FileExists(Installed("launcher/a.dat")));
}

TEST_F(InstallFixture, PackedEntryWithoutArchiverEndsWith21) {
    std::vector<GameFile> files = {{"Felto.exe", "#!/bin/sh\n", false},
                                   {"launcher/p.dat", MakeBytes(1000, 3), true}};
    Tree().Publish(files);
    StartServer();
    InstallerRun run = RunInstaller();
    ExpectReported(run, 21);
    EXPECT_NE(run.log.find("plantform/x64/7z.exe\" x \"-o"), std::string::npos) << run.log;
    EXPECT_NE(run.process.stdErr.find("ext err:2"), std::string::npos);
}

TEST_F(InstallFixture, ArchiveWithoutTheExpectedMemberEndsWith21) {
    auto files = LauncherBasics();
    files.push_back({"launcher/p.dat", MakeBytes(1000, 3), true});
    auto entries = Tree().Publish(files);
    // The manifest asks for another digest than the archive yields.
    PublishedEntry wrong = entries.back();
    wrong.fileMd5 = std::string(32, 'a');
    std::string body;
    for (std::size_t i = 0; i + 1 < entries.size(); ++i)
        body += ManifestLine(entries[i]);
    Tree().WriteManifest(body + ManifestLine(wrong));
    StartServer();
    InstallerRun run = RunInstaller();
    ExpectReported(run, 21);
    EXPECT_EQ(CountOf(run.log, "解压未完成，文件不存在, file = "), 2) << run.log;
    EXPECT_FALSE(FileExists(Installed("launcher/p.dat")));
}

TEST_F(InstallFixture, TargetThatCannotBeWrittenEndsWith21WithTheSystemText) {
    auto entries = Tree().Publish(SmallGame());
    StartServer();
    std::filesystem::create_directories(Installed("launcher/a.dat")); // a folder in the way
    InstallerRun run = RunInstaller();
    ExpectReported(run, 21);
    // The checked copy is made and moving it over the folder fails: the log reads as for any
    // failed copy, from the download to the target, and then names the move.
    auto a = *std::find_if(entries.begin(), entries.end(), [](const PublishedEntry& entry) {
        return entry.relPath == "launcher/a.dat";
    });
    std::vector<std::string> messages = LogMessages(run.log);
    int at = FindMessage(messages, "CopyFile ErrorCode:");
    ASSERT_GE(at, 0) << run.log;
    ASSERT_LT(at + 2, static_cast<int>(messages.size())) << run.log;
    EXPECT_EQ(messages[at], "CopyFile ErrorCode:" + std::to_string(EISDIR) +
                                ", ErrorDesc:" + std::strerror(EISDIR));
    EXPECT_EQ(messages[at + 1],
              a.objectMd5 + ",src=" + Incoming(a.fileMd5) + ",dst=" + Installed("launcher/a.dat"));
    EXPECT_EQ(messages[at + 2], "MoveFile of the checked temporary copy " + Incoming("~felto.tmp") +
                                    " over the target failed.");
    EXPECT_EQ(CountOf(run.log, "ErrorCode:"), 1) << run.log;
    EXPECT_FALSE(FileExists(InstallDir() + "/incoming/~felto.tmp"));
}

TEST_F(InstallFixture, DownloadFolderThatCannotBeMadeEndsWith100) {
    std::filesystem::create_directories(InstallDir());
    WriteFile(InstallDir() + "/incoming", "a file where the folder belongs");
    ExpectReported(RunInstaller(), 100);
    EXPECT_EQ(ReadFile(InstallDir() + "/incoming"), "a file where the folder belongs");
}

TEST_F(InstallFixture, ALockThatCannotBeMadeEndsWith100AndSaysWhy) {
    std::filesystem::create_directories(InstallDir() + "/.FeltoUpdater.lock/x");
    InstallerRun run = RunInstaller();
    ExpectReported(run, 100);
    EXPECT_EQ(CountOf(run.process.stdErr, "cannot create the single-instance lock in " +
                                              InstallDir() + ": Is a directory"),
              1)
        << run.process.stdErr;
    EXPECT_EQ(CountOf(run.process.stdErr, "error,code:"), 1) << run.process.stdErr;
    EXPECT_FALSE(FileExists(InstallDir() + "/FeltoInstaller.log"));
}

TEST_F(InstallFixture, AnInstallFolderThatCannotBeMadeIsNamedWithTheReason) {
    WriteFile(InstallDir(), "a file where the folder belongs");
    InstallerRun run = RunInstaller();
    ASSERT_TRUE(run.process.finished);
    EXPECT_EQ(run.process.exitStatus, 0);
    const std::string& err = run.process.stdErr;
    EXPECT_EQ(CountOf(err, "cannot make the install folder " + InstallDir() + ": File exists"), 1)
        << err;
    EXPECT_EQ(CountOf(err, "no install folder was chosen"), 1) << err;
    EXPECT_EQ(ReadFile(InstallDir()), "a file where the folder belongs");
}

TEST_F(InstallFixture, ManifestCopyThatFailsEndsWith104) {
    Tree().Publish(SmallGame());
    StartServer();
    std::filesystem::create_directories(InstallDir() + "/launcher_manifest_x64.js");
    InstallerRun run = RunInstaller();
    ExpectReported(run, 104);
    // The log names the system's reason, as it would a full disk.
    EXPECT_NE(run.log.find("CopyFile ErrorCode:" + std::to_string(EISDIR) +
                           ", ErrorDesc:" + std::strerror(EISDIR)),
              std::string::npos)
        << run.log;
}

TEST_F(InstallFixture, MissingGameEndsWith109AfterTheShortcut) {
    std::vector<GameFile> files = {{"launcher/a.dat", MakeBytes(100, 1), false}};
    Tree().Publish(files);
    StartServer();
    InstallerRun run = RunInstaller();
    ASSERT_TRUE(run.process.finished);
    EXPECT_EQ(run.process.exitStatus, 0);
    ExpectInstalled(files);
    EXPECT_NE(run.process.stdErr.find("error,code:109, ext err:"), std::string::npos)
        << run.process.stdErr;
    EXPECT_TRUE(FileExists(Home() + "/Desktop/Felto.desktop"));
}

TEST_F(InstallFixture, SecondCopyIsRefusedWith102WhileTheFirstGoesOn) {
    Tree().Publish(SmallGame());
    server_ = std::make_unique<NginxServer>();
    server_->SetExtraConfig("limit_rate 1k;"); // keeps the first copy busy downloading
    ASSERT_TRUE(server_->Start(ServerRoot(), 80));

    std::unique_ptr<RunningChild> first = StartNative();
    ASSERT_TRUE(WaitUntil(30000, [&] {
        return ReadFile(InstallDir() + "/FeltoInstaller.log").find("正在建立连接") !=
               std::string::npos;
    }));
    InstallerRun second = RunInstaller(30000);
    ExpectReported(second, 102);
    EXPECT_EQ(CountOf(second.process.stdErr, "error,code:102"), 1) << second.process.stdErr;
    // Another home whose Felto is a link to the same folder meets the same lock.
    std::string otherHome = dir_ / "other-home";
    std::filesystem::create_directories(otherHome);
    std::filesystem::create_directory_symlink(InstallDir(), otherHome + "/Felto");
    ChildResult linked = RunAsPlayer(otherHome, installer_, 30000);
    ASSERT_TRUE(linked.finished);
    EXPECT_EQ(CountOf(linked.stdErr, "error,code:102"), 1) << linked.stdErr;
    // The first copy's log is its own: the second did not start it afresh.
    std::string firstLog = ReadFile(InstallDir() + "/FeltoInstaller.log");
    EXPECT_NE(firstLog.find("64bit:"), std::string::npos) << firstLog;
    EXPECT_EQ(firstLog.find("error,code:102"), std::string::npos);
    ChildResult result;
    EXPECT_FALSE(first->Wait(0, result)) << "the first copy ended early";
}

} // namespace
