// A player's runs of the installer against nginx serving a tree made here.

#include "tests/e2e/install_fixture.h"

#include <cctype>
#include <filesystem>
#include <regex>

namespace {

std::vector<GameFile> SampleGame() {
    std::vector<GameFile> files = LauncherBasics();
    files.push_back({"launcher/config.ini", "[launcher]\r\nserver=felto\r\n", false});
    files.push_back({"launcher/data/big.pak", MakeBytes(409601 + 1000000, 7), false});
    files.push_back({"launcher/data/small.pak", MakeBytes(409600, 8), false});
    files.push_back({"launcher/packed.dll", MakeBytes(300000, 9) + std::string(200000, 'z'), true});
    files.push_back({"empty.txt", "", false});
    return files;
}

TEST_F(InstallFixture, FreshInstallPutsEveryFileShortcutAndStartsTheGame) {
    auto files = SampleGame();
    Tree().Publish(files);
    StartServer();

    InstallerRun run = RunInstaller();
    ASSERT_TRUE(run.process.finished) << run.process.stdErr;
    EXPECT_EQ(run.process.exitStatus, 0);
    ExpectInstalled(files);

    EXPECT_NE(run.log.find("64bit:1, system info:"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find(" microclient/download/launcher_manifest_x64.js\n"), std::string::npos);
    EXPECT_EQ(CountOf(run.log, "文件不存在,"), static_cast<int>(files.size()));
    EXPECT_NE(run.log.find("解压文件"), std::string::npos);
    EXPECT_NE(run.log.find("_StartLauncher"), std::string::npos);
    EXPECT_EQ(CountOf(run.log, "error,code:"), 0) << run.log;
    // Built without fall-back servers or a report path: no server named, no report sent.
    EXPECT_EQ(CountOf(run.log, "attempt 1 of"), 0) << run.log;
    EXPECT_EQ(CountOf(run.log, "report"), 0) << run.log;
    EXPECT_EQ(CountOf(server_->AccessLog(), "report"), 0) << server_->AccessLog();
    EXPECT_NE(run.process.stdErr.find("安装成功，以后请点击桌面Felto图标进行游戏。"),
              std::string::npos);

    std::string shortcut = ReadFile(Home() + "/Desktop/Felto.desktop");
    EXPECT_NE(shortcut.find("Exec=\"" + InstallDir() + "/Felto.exe\""), std::string::npos)
        << shortcut;
    EXPECT_TRUE(WaitUntil(10000, [&] { return FileExists(Installed("game-started.mark")); }));
    EXPECT_EQ(ReadFile(Installed("launcher_manifest_x64.js")),
              ReadFile(ServerRoot() + "/microclient/download/launcher_manifest_x64.js"));
    // No part file is left behind.
    for (const auto& item : std::filesystem::directory_iterator(InstallDir() + "/incoming")) {
        std::string name = item.path().filename().string();
        std::size_t underscore = name.rfind('_');
        EXPECT_FALSE(underscore != std::string::npos && underscore + 1 < name.size() &&
                     std::isdigit(static_cast<unsigned char>(name[underscore + 1])))
            << "part file left: " << name;
    }
}

// Built with the progress display, the program shows one line, rewritten in place, to a player
// at a terminal (a pseudo-terminal made by script(1) here) and prints nothing more into a pipe.
TEST_F(InstallFixture, WithTheProgressDisplayATerminalGetsOneLineAndAPipeNothingMore) {
    auto files = SampleGame();
    Tree().Publish(files);
    StartServer();
    installer_ = FELTO_PROGRESS_INSTALLER_BINARY;

    std::string typescript = dir_ / "terminal.txt";
    InstallerRun run = RunInstaller(120000, {"script", "-qe", typescript, "-c"});
    ASSERT_TRUE(run.process.finished);
    EXPECT_EQ(run.process.exitStatus, 0);
    ExpectInstalled(files);
    std::string terminal = ReadFile(typescript);
    // Which steps a 100 ms refresh catches depends on the machine's speed: the line's form is
    // what is certain, and that the log's lines clear it before they are written.
    EXPECT_TRUE(std::regex_search(terminal, std::regex("\r([0-9]+% )?正在[^\r\n]*\x1b\\[K")))
        << terminal;
    EXPECT_NE(terminal.find("\r\x1b[K[提示] 安装成功，以后请点击桌面Felto图标进行游戏。"),
              std::string::npos)
        << terminal;
    EXPECT_EQ(terminal.find("\x1b[K2"), terminal.find("\r\x1b[K2") + 1) << terminal;

    InstallerRun piped = RunInstaller();
    ASSERT_TRUE(piped.process.finished);
    EXPECT_EQ(piped.process.stdErr.find('\r'), std::string::npos) << piped.process.stdErr;
    EXPECT_EQ(piped.process.stdErr.find("正在检查"), std::string::npos) << piped.process.stdErr;
}

TEST_F(InstallFixture, SecondRunFetchesNothingAndRepairsWhatWasDamaged) {
    auto files = SampleGame();
    ASSERT_NO_FATAL_FAILURE(InstallFirst(files));
    int firstRunObjects = ObjectRequests();
    EXPECT_GT(firstRunObjects, 0);

    InstallerRun second = RunInstaller();
    EXPECT_EQ(second.process.exitStatus, 0);
    EXPECT_EQ(ObjectRequests(), firstRunObjects) << "the second run fetched objects";
    EXPECT_EQ(CountOf(second.log, "文件不存在,"), 0) << second.log;
    EXPECT_EQ(CountOf(second.log, "MD5不一致"), 0) << second.log;
    EXPECT_NE(second.log.find("_StartLauncher"), std::string::npos);

    // Damage one file, delete another: the next run puts both right, from the good copies it
    // left in the download folder, without asking the server again.
    WriteFile(Installed("launcher/data/big.pak"), "damaged");
    std::filesystem::remove(Installed("launcher/config.ini"));
    InstallerRun third = RunInstaller();
    EXPECT_EQ(third.process.exitStatus, 0);
    ExpectInstalled(files);
    EXPECT_EQ(CountOf(third.log, "MD5不一致,local:"), 1) << third.log;
    EXPECT_EQ(CountOf(third.log, "文件不存在,"), 1) << third.log;
    EXPECT_EQ(ObjectRequests(), firstRunObjects);

    // A packed file whose archive is still in the download folder is unpacked from it again.
    std::filesystem::remove(Installed("launcher/packed.dll"));
    std::filesystem::remove(InstallDir() + "/incoming/" + Md5Of(files[6].bytes));
    InstallerRun fifth = RunInstaller();
    EXPECT_EQ(fifth.process.exitStatus, 0);
    ExpectInstalled(files);
    EXPECT_EQ(ObjectRequests(), firstRunObjects);

    // With the download folder gone too, the damaged file is fetched again.
    std::filesystem::remove_all(InstallDir() + "/incoming");
    WriteFile(Installed("launcher/data/small.pak"), "damaged again");
    InstallerRun fourth = RunInstaller();
    EXPECT_EQ(fourth.process.exitStatus, 0);
    ExpectInstalled(files);
    EXPECT_GT(ObjectRequests(), firstRunObjects);
}

std::string Upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// A studio's hand-made manifest: the packed file listed before the archiver that unpacks it,
// Windows separators, digests in capitals, and one file listed twice alike.
TEST_F(InstallFixture, AHandMadeManifestInstallsWhatItMeans) {
    std::vector<GameFile> files = {{"launcher/packed.dll", MakeBytes(20000, 5), true},
                                   {"data/config.ini", "[felto]\r\n", false}};
    for (const GameFile& basic : LauncherBasics())
        files.push_back(basic);
    std::vector<PublishedEntry> entries = Tree().Publish(files);
    PublishedEntry config = entries[1];
    // The object under a name in capitals too: the server is asked for it as written.
    PublishedEntry shouted = config;
    shouted.urlPath = "microclient/objects/" + Upper(config.objectMd5);
    shouted.relPath = "data\\config.ini";
    shouted.fileMd5 = Upper(config.fileMd5);
    WriteFile(ServerRoot() + "/" + shouted.urlPath, files[1].bytes);
    std::string body = ManifestLine(entries[0]) + ManifestLine(shouted) + ManifestLine(config);
    for (std::size_t i = 2; i < entries.size(); ++i)
        body += ManifestLine(entries[i]);
    Tree().WriteManifest(body);
    StartServer();

    InstallerRun run = RunInstaller();
    ASSERT_TRUE(run.process.finished);
    EXPECT_EQ(CountOf(run.log, "error,code:"), 0) << run.log;
    ExpectInstalled(files);
    EXPECT_FALSE(FileExists(InstallDir() + "/data\\config.ini"));
    EXPECT_TRUE(WaitUntil(10000, [&] { return FileExists(Installed("game-started.mark")); }));

    // Installed once, matched from then on.
    InstallerRun again = RunInstaller();
    EXPECT_EQ(CountOf(again.log, "MD5不一致"), 0) << again.log;
    EXPECT_EQ(CountOf(again.log, "文件不存在"), 0) << again.log;
}

// Only the 32-bit manifest and the 32-bit archiver are published: a run that took the system
// for 64-bit would find nothing to install, or no archiver.
TEST_F(InstallFixture, ASystemThatCannotBeDescribedGetsThe32BitFiles) {
    std::vector<GameFile> files = LauncherBasics();
    files.erase(files.begin() + 1); // plantform/x64/7z.exe
    files.push_back({"launcher/packed.dll", MakeBytes(20000, 6), true});
    Tree().Publish(files);
    std::filesystem::remove(ServerRoot() + "/microclient/download/launcher_manifest_x64.js");
    StartServer();

    InstallerRun run = RunInstaller(120000, {FELTO_WITHOUT_UNAME});
    ASSERT_TRUE(run.process.finished);
    EXPECT_EQ(CountOf(run.log, "error,code:"), 0) << run.log;
    ExpectInstalled(files);
    EXPECT_NE(run.log.find("获取操作系统版本信息失败!\n\n"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find(" 64bit:0, system info:\n\n"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find(" microclient/download/launcher_manifest.js\n"), std::string::npos);
    EXPECT_FALSE(FileExists(Installed("plantform/x64/7z.exe")));
}

TEST_F(InstallFixture, AnUpdatedGameFileIsTheOnlyOneFetched) {
    auto files = SampleGame();
    ASSERT_NO_FATAL_FAILURE(InstallFirst(files));
    int before = ObjectRequests();

    files[3].bytes = "[launcher]\r\nserver=felto-2\r\n"; // launcher/config.ini
    Tree().Publish(files);
    InstallerRun update = RunInstaller();
    EXPECT_EQ(update.process.exitStatus, 0);
    ExpectInstalled(files);
    EXPECT_EQ(CountOf(update.log, "MD5不一致,local:"), 1) << update.log;
    EXPECT_EQ(ObjectRequests(), before + 2); // the probe and the one segment of one small file
}

TEST_F(InstallFixture, AnInterruptedInstallResumesItsPartFiles) {
    auto files = LauncherBasics();
    files.push_back({"launcher/huge.pak", MakeBytes(24 * 1024 * 1024, 11), false});
    Tree().Publish(files);
    server_ = std::make_unique<NginxServer>();
    // Slow enough that the installer is surely stopped half-way.
    server_->SetExtraConfig("limit_rate 2m;");
    ASSERT_TRUE(server_->Start(ServerRoot(), 80));

    {
        std::unique_ptr<RunningChild> installer = StartNative();
        std::string incoming = InstallDir() + "/incoming/";
        ASSERT_TRUE(WaitUntil(60000, [&] {
            for (int i = 0; i < 3; ++i) {
                std::error_code error;
                auto size = std::filesystem::file_size(
                    incoming + Md5Of(files.back().bytes) + "_" + std::to_string(i), error);
                if (error || size < 1024 * 1024)
                    return false;
            }
            return true;
        })) << "the download never got going";
        installer->Kill();
    }
    server_->Stop();
    server_ = std::make_unique<NginxServer>();
    ASSERT_TRUE(server_->Start(ServerRoot(), 80));
    InstallerRun resumed = RunInstaller();
    EXPECT_EQ(resumed.process.exitStatus, 0) << resumed.process.stdErr;
    ExpectInstalled(files);
    // The segments asked from where their part files ended, not from their starts.
    std::string access = server_->AccessLog();
    int fromStart = 0;
    std::size_t lineStart = 0;
    for (std::size_t end; (end = access.find('\n', lineStart)) != std::string::npos;
         lineStart = end + 1) {
        std::string line = access.substr(lineStart, end - lineStart);
        if (line.find("/microclient/objects/") != std::string::npos &&
            line.find("\"bytes=0-\"") != std::string::npos)
            ++fromStart;
    }
    EXPECT_EQ(fromStart, 1) << access; // only the probe asked from the first byte
}

} // namespace

namespace {

TEST_F(InstallFixture, ManifestPartLeftByAnInterruptedRunIsNotResumed) {
    auto files = LauncherBasics();
    Tree().Publish(files);
    StartServer();
    std::filesystem::create_directories(InstallDir() + "/incoming");
    // The start of another version of the manifest.
    WriteFile(InstallDir() + "/incoming/launcher_manifest_x64.js_0", "#7\nold");
    InstallerRun run = RunInstaller();
    EXPECT_EQ(run.process.exitStatus, 0);
    ExpectInstalled(files);
    EXPECT_EQ(CountOf(run.log, "下载重试，"), 0) << run.log;
}

} // namespace
