// The Windows program installs for real under Wine, from nginx on 127.0.0.1:80 of the test's own
// network: downloads over Winsock, the archiver started with CreateProcessA and waited for,
// CopyFileA into place, the shell-link shortcut on the desktop and the game started with
// ShellExecuteA.

#include "manifest/manifest_signature.h"
#include "tests/support/manifest_signing.h"
#include "tests/support/nginx_server.h"
#include "tests/support/server_tree.h"
#include "tests/support/temp_dir.h"
#include "tests/support/text_checks.h"
#include "tests/support/wine_prefix_posix.h"

#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <regex>

namespace {

constexpr int kRunTimeoutMs = 180000;

void WriteFileIn(const std::string& root, const std::string& relPath, const std::string& bytes) {
    const std::filesystem::path path = std::filesystem::path(root) / relPath;
    std::filesystem::create_directories(path.parent_path());
    WriteFile(path.string(), bytes);
}

// The text as the shell link stores it: ANSI in the link's file location, UTF-16 in its strings.
bool HoldsText(const std::string& bytes, const std::string& text) {
    std::string wide;
    for (char c : text) {
        wide += c;
        wide += '\0';
    }
    return bytes.find(text) != std::string::npos || bytes.find(wide) != std::string::npos;
}

// The working-directory field of a shell link (the Shell Link Binary File Format): after the
// 76-byte header, the item-ID list and the link info when the flags name them, then the strings
// in order (name, relative path, working directory), each a count and that many characters.
// Empty when the link has no such field.
std::string LinkWorkingDir(const std::string& link) {
    auto u16 = [&](std::size_t at) {
        return at + 2 <= link.size() ? static_cast<unsigned char>(link[at]) |
                                           static_cast<unsigned char>(link[at + 1]) << 8
                                     : 0u;
    };
    auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
    const unsigned flags = u32(0x14);
    const bool unicode = flags & 0x80;
    std::size_t at = 0x4c;
    if (flags & 0x1) // HasLinkTargetIDList
        at += 2 + u16(at);
    if (flags & 0x2) // HasLinkInfo
        at += u32(at);
    const unsigned kStringFlags[] = {0x4, 0x8, 0x10}; // name, relative path, working directory
    for (unsigned flag : kStringFlags) {
        if (!(flags & flag))
            continue;
        std::size_t count = u16(at);
        std::string text;
        for (std::size_t i = 0; i < count && at + 2 + (i + 1) * (unicode ? 2 : 1) <= link.size();
             ++i)
            text += link[at + 2 + i * (unicode ? 2 : 1)];
        at += 2 + count * (unicode ? 2 : 1);
        if (flag == 0x10) // Wine counts the string's terminating zero in
            return text.substr(0, text.find('\0'));
    }
    return std::string();
}

class WineInstallTest : public WineTest {
  protected:
    void SetUp() override {
        WineTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        std::filesystem::create_directories(www_.path());
        archiver_ = ReadFile(StandIn("7z.exe"));
        game_ = ReadFile(StandIn("Felto.exe"));
        ASSERT_FALSE(archiver_.empty() || game_.empty());
    }

    void StartServer() {
        ASSERT_TRUE(server_.Start(www_.path(), 80)) << "nginx did not start" << server_.ErrorLog();
    }

    // The archiver for both kinds of system, and the game.
    std::vector<GameFile> Basics(bool withGame) const {
        std::vector<GameFile> files = {{"plantform/x86/7z.exe", archiver_, false},
                                       {"plantform/x64/7z.exe", archiver_, false}};
        if (withGame)
            files.push_back({"Felto.exe", game_, false});
        return files;
    }

    ChildResult RunInstaller() {
        return RunChild(Wine().Command(Installer()), Wine().Options(kRunTimeoutMs));
    }

    std::string Felto() { return Wine().DriveD() + "/Felto"; }
    std::string Log() { return ReadFile(Felto() + "/FeltoInstaller.log"); }
    int ObjectRequests() { return CountOf(server_.AccessLog(), "/microclient/objects/"); }

    TempDir www_;
    ServerTree tree_{www_.path()};
    NginxServer server_;
    std::string archiver_, game_;
};

TEST_F(WineInstallTest, FreshInstallPlacesEveryFileMakesTheShortcutAndStartsTheGame) {
    // Above 409,600 bytes: fetched over three connections; packed: unpacked by the archiver,
    // which the manifest lists later and which is installed first all the same.
    std::vector<GameFile> files = {{"data/assets.pak", MakeBytes(600000, 11), true},
                                   {"data/config.txt", "fullscreen=1\r\n", false},
                                   {"data/sub folder/music.ogg", MakeBytes(450000, 12), false}};
    for (const GameFile& basic : Basics(true))
        files.push_back(basic);
    tree_.Publish(files);
    StartServer();

    ChildResult run = RunInstaller();
    ASSERT_TRUE(run.finished) << "the installer did not end";
    EXPECT_EQ(run.exitStatus, 0);
    std::string log = Log();
    EXPECT_EQ(CountOf(log, "error,code:"), 0) << log;
    for (const GameFile& file : files) {
        std::string installed = Felto() + "/" + file.path;
        ASSERT_TRUE(FileExists(installed)) << file.path << "\n" << log;
        EXPECT_TRUE(ReadFile(installed) == file.bytes) << file.path << " differs";
    }
    EXPECT_EQ(CountOf(log, ToCp936("解压文件")), 1) << log;
    EXPECT_EQ(CountOf(log, "_StartLauncher"), 1) << log;
    EXPECT_EQ(CountOf(log, "\n"), CountOf(log, "\r\n")) << "bare line ends in the log";

    std::string shortcut = Wine().Desktop() + "/Felto.lnk";
    ASSERT_TRUE(FileExists(shortcut)) << "no shortcut on " << Wine().Desktop();
    std::string link = ReadFile(shortcut);
    // A shell link: header size 0x4C, then the link class {00021401-0000-0000-C000-...46}.
    ASSERT_GE(link.size(), 20u);
    EXPECT_EQ(link.substr(0, 8), std::string("\x4c\0\0\0\x01\x14\x02\0", 8));
    EXPECT_TRUE(HoldsText(link, "D:\\Felto\\Felto.exe"));
    // The game starts in its own folder: the link's own field says so, not a text that the
    // target's path holds anyway.
    EXPECT_EQ(LinkWorkingDir(link), "D:\\Felto");

    // The game is started and not waited for; it leaves its mark in its working folder.
    std::string mark = Felto() + "/game-started.mark";
    ASSERT_TRUE(WaitUntil(60000, [&] { return FileExists(mark) && !ReadFile(mark).empty(); }))
        << "the game was not started";
    EXPECT_NE(ReadFile(mark).find("started in D:\\Felto\r\n"), std::string::npos) << ReadFile(mark);

    // A second run finds everything in place: nothing is fetched, the shortcut is replaced and
    // stays the only one.
    int fetched = ObjectRequests();
    EXPECT_GT(fetched, 0);
    std::filesystem::remove(mark);
    ChildResult again = RunInstaller();
    ASSERT_TRUE(again.finished);
    EXPECT_EQ(again.exitStatus, 0);
    EXPECT_EQ(ObjectRequests(), fetched);
    EXPECT_EQ(CountOf(Log(), ToCp936("解压文件")), 0) << Log();
    EXPECT_EQ(CountOf(Log(), "_StartLauncher"), 1) << Log();
    int links = 0;
    for (const auto& item : std::filesystem::directory_iterator(Wine().Desktop()))
        links += item.path().extension() == ".lnk";
    EXPECT_EQ(links, 1);
    EXPECT_TRUE(WaitUntil(60000, [&] { return FileExists(mark); }));
}

// "淺" is 0x9C 0x5C in code page 936: its second byte is a backslash. Read byte by byte, the
// folder "深淺" would end in a lone lead byte and the file would land in a stray folder; on a
// Chinese system the name must reach the system whole, on every run.
TEST_F(WineInstallTest, OnAChineseSystemAFolderEndingInATrailByteBackslashIsInstalledWhole) {
    const std::string folder = "深淺";
    ASSERT_EQ(ToCp936(folder).back(), '\\');
    const std::string bytes = MakeBytes(5000, 14);
    std::vector<GameFile> files = Basics(true);
    files.push_back({ToCp936("data/" + folder + "/level.dat"), bytes, false});
    tree_.Publish(files);
    StartServer();

    ChildOptions options = Wine().Options(kRunTimeoutMs);
    options.env["LC_ALL"] = "zh_CN.UTF-8";
    ChildResult run = RunChild(Wine().Command(Installer()), options);
    ASSERT_TRUE(run.finished) << "the installer did not end";
    EXPECT_EQ(run.exitStatus, 0);
    std::string log = Log();
    EXPECT_EQ(CountOf(log, "error,code:"), 0) << log;
    // Wine names the files on disk in UTF-8: the folder the system made is the whole name.
    std::vector<std::string> made;
    for (const auto& item : std::filesystem::directory_iterator(Felto() + "/data"))
        made.push_back(item.path().filename().string());
    EXPECT_EQ(made, std::vector<std::string>{folder});
    std::string installed = Felto() + "/data/" + folder + "/level.dat";
    ASSERT_TRUE(FileExists(installed)) << log;
    EXPECT_TRUE(ReadFile(installed) == bytes) << "the installed file differs";

    // The second run finds the file where the first put it: nothing is fetched again.
    int fetched = ObjectRequests();
    ChildResult again = RunChild(Wine().Command(Installer()), options);
    ASSERT_TRUE(again.finished);
    EXPECT_EQ(again.exitStatus, 0);
    EXPECT_EQ(CountOf(Log(), "error,code:"), 0) << Log();
    EXPECT_EQ(ObjectRequests(), fetched);
}

// A game folder with Chinese names, published by felto-publish from the build machine's UTF-8:
// on a Chinese system the Windows program installs them under the very names the folder has
// (Wine names files on disk in UTF-8), as the native program does (tests/publish).
TEST_F(WineInstallTest, OnAChineseSystemPublishedChineseNamesInstallUnderTheirOwnNames) {
    TempDir game;
    for (const GameFile& file : Basics(true))
        WriteFileIn(game.path(), file.path, file.bytes);
    const std::string bytes = MakeBytes(3000, 21);
    WriteFileIn(game.path(), "设置/配置.txt", bytes);
    const ChildResult published =
        RunChild({FELTO_BINARY_DIR "/tools/felto-publish/felto-publish", "--input", game.path(),
                  "--output", www_.path(), "--quiet"},
                 ChildOptions{});
    ASSERT_EQ(published.exitStatus, 0) << published.stdErr;
    StartServer();

    ChildOptions options = Wine().Options(kRunTimeoutMs);
    options.env["LC_ALL"] = "zh_CN.UTF-8";
    const ChildResult run = RunChild(Wine().Command(Installer()), options);
    ASSERT_TRUE(run.finished) << "the installer did not end";
    EXPECT_EQ(CountOf(Log(), "error,code:"), 0) << Log();
    std::vector<std::string> made;
    for (const auto& item : std::filesystem::directory_iterator(Felto() + "/设置"))
        made.push_back(item.path().filename().string());
    EXPECT_EQ(made, std::vector<std::string>{"配置.txt"});
    EXPECT_TRUE(ReadFile(Felto() + "/设置/配置.txt") == bytes) << "the installed file differs";
}

// A player who just clicks OK in the folder dialog gets the game in a folder of its own, and the
// log, the shortcut and the game's working folder all follow it.
TEST_F(WineInstallTest, WithoutDriveDOkOnTheProposedFolderInstallsIntoAFeltoFolderThere) {
    std::vector<GameFile> files = Basics(true);
    files.push_back({"data/config.txt", "fullscreen=1\r\n", false});
    tree_.Publish(files);
    StartServer();
    std::filesystem::remove(Wine().DriveD());

    PlayerSession player(Wine(), StandIn("player.exe"), "ok", "en_US.UTF-8");
    ChildResult run = RunChild(Wine().Command(Installer()), player.Options(kRunTimeoutMs));
    ASSERT_TRUE(run.finished) << "the installer did not end";
    EXPECT_EQ(run.exitStatus, 0);

    // Without drive D: the dialog proposes the system drive; the game goes into C:\Felto.
    std::string drive = Wine().DriveC();
    std::string felto = drive + "/Felto";
    std::string log = ReadFile(felto + "/FeltoInstaller.log");
    EXPECT_EQ(CountOf(log, "error,code:"), 0) << log << run.stdErr;
    for (const GameFile& file : files)
        EXPECT_TRUE(ReadFile(felto + "/" + file.path) == file.bytes) << file.path;
    for (const char* spilled : {"FeltoInstaller.log", "incoming", "Felto.exe", "data"})
        EXPECT_FALSE(FileExists(drive + "/" + spilled)) << spilled << " landed on the drive";

    std::string link = ReadFile(Wine().Desktop() + "/Felto.lnk");
    EXPECT_TRUE(HoldsText(link, "C:\\Felto\\Felto.exe"));
    EXPECT_EQ(LinkWorkingDir(link), "C:\\Felto");
    std::string mark = felto + "/game-started.mark";
    ASSERT_TRUE(WaitUntil(60000, [&] { return FileExists(mark) && !ReadFile(mark).empty(); }))
        << "the game was not started";
    EXPECT_NE(ReadFile(mark).find("started in C:\\Felto\r\n"), std::string::npos) << ReadFile(mark);

    // The player read the success in Chinese on a Western system.
    std::vector<std::string> windows = player.Windows();
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(windows[0].rfind("folder dialog|", 0), 0u) << windows[0];
    EXPECT_EQ(windows[1], "message box|提示|安装成功，以后请点击桌面Felto图标进行游戏。");
}

TEST_F(WineInstallTest, MissingGameIsReportedWithTheShellsErrorAfterTheShortcutIsWritten) {
    std::vector<GameFile> files = Basics(false);
    files.push_back({"data/config.txt", "fullscreen=0\r\n", false});
    tree_.Publish(files);
    StartServer();

    ChildResult run = RunInstaller();
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitStatus, 0);
    std::string log = Log();
    EXPECT_EQ(CountOf(log, "_StartLauncher"), 1) << log;
    // ShellExecuteA's own result for a missing file (ERROR_FILE_NOT_FOUND) is the extra number.
    EXPECT_EQ(CountOf(log, "error,code:109, ext err:2"), 1) << log;
    EXPECT_TRUE(FileExists(Wine().Desktop() + "/Felto.lnk"));
}

TEST_F(WineInstallTest, MissingArchiverIsReportedWithWinExecsResult) {
    // A packed entry, and no archiver anywhere in the install folder.
    tree_.Publish({{"Felto.exe", game_, false}, {"data/assets.pak", MakeBytes(2000, 13), true}});
    StartServer();

    ChildResult run = RunInstaller();
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitStatus, 0);
    std::string log = Log();
    // WinExec's result for a missing program (ERROR_FILE_NOT_FOUND) is the extra number, and
    // the command line that failed is logged before the report.
    std::size_t command = log.find("/plantform/");
    std::size_t report = log.find("error,code:21, ext err:2");
    ASSERT_NE(command, std::string::npos) << log;
    ASSERT_NE(report, std::string::npos) << log;
    EXPECT_LT(command, report);
    EXPECT_NE(log.find(" x "), std::string::npos) << log;
    EXPECT_FALSE(FileExists(Felto() + "/data/assets.pak"));
    EXPECT_FALSE(FileExists(Wine().Desktop() + "/Felto.lnk"));
}

// Wine's CryptoAPI needs bcrypt.dll too: without it this system has no MD5 at all. No digest
// can then match, so nothing is accepted or installed, and the log says why, once.
TEST_F(WineInstallTest, WithoutAnyMd5ServiceNothingIsInstalled) {
    tree_.Publish({{"data/config.txt", "fullscreen=1\r\n", false}});
    StartServer();

    ChildOptions options = Wine().Options(kRunTimeoutMs);
    options.env["WINEDLLOVERRIDES"] += ";bcrypt=";
    ChildResult run = RunChild(Wine().Command(Installer()), options);
    ASSERT_TRUE(run.finished) << "the installer did not end";
    std::string log = Log();
    EXPECT_EQ(CountOf(log, "MD5 cannot be computed on this system"), 1) << log;
    EXPECT_EQ(CountOf(log, "error,code:108"), 1) << log;
    EXPECT_FALSE(FileExists(Felto() + "/data/config.txt"));
    EXPECT_EQ(CountOf(log, "_StartLauncher"), 0) << log;
}

// The installer built with the tests' release key: CNG (bcrypt.dll, loaded at run time) checks
// the manifest's signature, its release number and its expiry before anything is copied.
// The studio's build under Wine: nothing answers on port 80, so the manifest, its signature and
// every file come from the fall-back server on port 8081, and the outcome is reported there in
// exactly one request that names nothing but the run.
TEST_F(WineInstallTest, AStudioBuildInstallsFromTheFallBackServerAndReportsThere) {
    const std::string installer = buildDir_ + "/FeltoInstallerStudio.exe";
    ASSERT_TRUE(FileExists(installer)) << installer;
    std::vector<GameFile> files = Basics(true);
    files.push_back({"data/config.txt", "version=1\r\n", false});
    auto entries = tree_.Publish(files);
    SignManifests(www_.path());
    ASSERT_TRUE(server_.Start(www_.path(), 8081)) << server_.ErrorLog();

    ChildResult result = RunChild(Wine().Command(installer), Wine().Options(kRunTimeoutMs));
    EXPECT_TRUE(result.finished);
    const std::string log = Log();
    EXPECT_EQ(CountOf(log, "error,code:"), 0) << log;
    EXPECT_EQ(CountOf(log, "launcher_manifest_x64.js from http://127.0.0.1\r\n"), 1) << log;
    EXPECT_EQ(CountOf(log, "attempt 1 of microclient/download/launcher_manifest_x64.js.sig from "
                           "http://127.0.0.1:8081\r\n"),
              1)
        << log;
    EXPECT_EQ(CountOf(log, " signature ok: launcher_manifest_x64.js"), 1) << log;
    EXPECT_EQ(ReadFile(Felto() + "/data/config.txt"), "version=1\r\n");

    std::size_t bytes = 0;
    for (const PublishedEntry& entry : entries)
        bytes += ReadFile(tree_.ObjectPath(entry)).size();
    // nginx logs a request once it has answered it.
    EXPECT_TRUE(
        WaitUntil(10000, [&] { return CountOf(server_.AccessLog(), "/microclient/report") > 0; }));
    const std::string access = server_.AccessLog();
    ASSERT_EQ(CountOf(access, "/microclient/report"), 1) << access;
    std::smatch match;
    ASSERT_TRUE(std::regex_search(
        access, match,
        std::regex("GET /microclient/report\\?v=1&result=0&ext=0&os=(\\d+)\\.\\d+\\.\\d+&x64=1&"
                   "installer=1\\.0\\.0\\.0&release=" +
                   std::to_string(FELTO_TEST_RELEASE_FLOOR + 1) +
                   "&files=" + std::to_string(entries.size()) + "&bytes=" + std::to_string(bytes) +
                   "&secs=\\d+ HTTP/1\\.1")))
        << access;
    EXPECT_GE(std::stoi(match[1].str()), 5) << match[0];
    EXPECT_EQ(CountOf(log, ": answered 404"), 1) << log;
}

TEST_F(WineInstallTest, ASignedReleaseInstallsAndEverySpoiledOneIsRefused) {
    const std::string installer = buildDir_ + "/FeltoInstallerTestKey.exe";
    ASSERT_TRUE(FileExists(installer)) << installer;
    auto run = [&](const std::string& dllOverrides = "") {
        ChildOptions options = Wine().Options(kRunTimeoutMs);
        if (!dllOverrides.empty())
            options.env["WINEDLLOVERRIDES"] += ";" + dllOverrides;
        ChildResult result = RunChild(Wine().Command(installer), options);
        EXPECT_TRUE(result.finished);
        return Log();
    };
    // The player's files: everything but the download folder, the log and the game's mark.
    auto installed = [&] {
        std::map<std::string, std::string> tree;
        for (const auto& item : std::filesystem::recursive_directory_iterator(Felto())) {
            std::string relPath = std::filesystem::relative(item.path(), Felto()).generic_string();
            if (item.is_regular_file() && relPath.rfind("incoming/", 0) != 0 &&
                relPath != "FeltoInstaller.log" && relPath != "game-started.mark")
                tree[relPath] = ReadFile(item.path());
        }
        return tree;
    };
    const std::string download = www_.path() + "/microclient/download/";
    std::vector<GameFile> files = Basics(true);
    files.push_back({"data/config.txt", "version=1\r\n", false});
    tree_.Publish(files);
    SignManifests(www_.path());
    StartServer();

    std::string log = run();
    EXPECT_EQ(CountOf(log, "error,code:"), 0) << log;
    EXPECT_EQ(CountOf(log, " signature ok: launcher_manifest"), 1) << log;
    const auto good = installed();
    ASSERT_EQ(good.count("data/config.txt"), 1u) << log;
    EXPECT_EQ(good.at("data/config.txt"), "version=1\r\n");

    // Version 2 beside version 1's signatures; then each manifest with the other's signature;
    // then no signatures at all.
    files.back().bytes = "version=2\r\n";
    tree_.Publish(files);
    log = run();
    EXPECT_EQ(CountOf(log, "error,code:106, ext err:1"), 1) << log;
    EXPECT_EQ(CountOf(log, "the signature does not match: launcher_manifest"), 1) << log;
    EXPECT_TRUE(installed() == good) << "the install folder changed";

    SignManifests(www_.path());
    std::filesystem::rename(download + "launcher_manifest.js.sig", download + "swap");
    std::filesystem::rename(download + "launcher_manifest_x64.js.sig",
                            download + "launcher_manifest.js.sig");
    std::filesystem::rename(download + "swap", download + "launcher_manifest_x64.js.sig");
    log = run();
    EXPECT_EQ(CountOf(log, "error,code:106, ext err:1"), 1) << log;
    EXPECT_EQ(CountOf(log, "the signature does not match: launcher_manifest"), 1) << log;
    EXPECT_TRUE(installed() == good) << "the install folder changed";

    std::filesystem::remove(download + "launcher_manifest.js.sig");
    std::filesystem::remove(download + "launcher_manifest_x64.js.sig");
    log = run();
    EXPECT_EQ(CountOf(log, "error,code:106, ext err:1"), 1) << log;
    EXPECT_EQ(CountOf(log, "no signature on the server: microclient/download/launcher_manifest"), 1)
        << log;
    EXPECT_TRUE(installed() == good) << "the install folder changed";

    // Signatures without a release number, an older signed release, one expired beyond the
    // grace: all refused, the remembered release unchanged.
    const std::string statePath = Felto() + "/incoming/FeltoRelease.state";
    const std::string state = ReadFile(statePath);
    EXPECT_NE(state.find("\nrelease 1001\nmanifest launcher_manifest"), std::string::npos) << state;
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr)), day = 86400;
    struct Spoiled {
        std::optional<TestStamp> stamp; // none: the format without a release number
        const char* code;
        const char* logged;
    };
    for (const Spoiled& spoiled :
         {Spoiled{std::nullopt, "error,code:106, ext err:1",
                  "has the old format without a release number"},
          Spoiled{TestStamp{1000, std::nullopt}, "error,code:106, ext err:2",
                  " is release 1000, older than release 1001 installed before"},
          Spoiled{TestStamp{1002, now - 4 * day}, "error,code:106, ext err:5", ": refused"}}) {
        if (spoiled.stamp)
            SignManifests(www_.path(), *spoiled.stamp);
        else
            SignManifestsWithoutStamp(www_.path());
        log = run();
        EXPECT_EQ(CountOf(log, spoiled.code), 1) << log;
        EXPECT_EQ(CountOf(log, spoiled.logged), 1) << log;
        EXPECT_TRUE(installed() == good) << "the install folder changed";
        EXPECT_EQ(ReadFile(statePath), state);
    }

    // Just past its expiry the release installs, and the log shows both times.
    SignManifests(www_.path(), {1002, now - day});
    log = run();
    EXPECT_EQ(CountOf(log, "error,code:"), 0) << log;
    EXPECT_EQ(CountOf(log, ": accepted within the 3-day grace"), 1) << log;
    EXPECT_EQ(CountOf(log, "expired at " + UtcText(now - day) + ", this computer's clock says "), 1)
        << log;
    const auto second = installed();
    EXPECT_EQ(second.at("data/config.txt"), "version=2\r\n");
    EXPECT_NE(ReadFile(statePath).find("\nrelease 1002\n"), std::string::npos);

    // A system without bcrypt.dll (Windows XP): the program starts, cannot check, and refuses.
    SignManifests(www_.path(), {1003, std::nullopt});
    log = run("bcrypt=");
    EXPECT_EQ(CountOf(log, "error,code:106, ext err:1"), 1) << log;
    EXPECT_EQ(CountOf(log, "this system cannot check the signature of launcher_manifest"), 1)
        << log;
    EXPECT_TRUE(installed() == second) << "the install folder changed";
}

// A deep folder picked in the dialog, 200 characters with the Felto folder made in it, holds an
// ordinary game: a packed file, a large one fetched in three parts, one in a folder with a blank.
TEST_F(WineInstallTest, AChosenFolderOf200CharactersHoldsAnOrdinaryGame) {
    std::vector<GameFile> files = Basics(true);
    files.push_back({"data/assets.pak", MakeBytes(30000, 15), true});
    files.push_back({"data/sub folder/music.ogg", MakeBytes(450000, 16), false});
    files.push_back({"data/config.txt", "fullscreen=1\r\n", false});
    tree_.Publish(files);
    StartServer();
    std::filesystem::remove(Wine().DriveD());

    const std::string name(191, 'p');
    const std::string picked = "C:\\" + name;
    const std::string host = Wine().DriveC() + "/" + name;
    ASSERT_EQ((picked + "\\Felto").size(), 200u);
    std::filesystem::create_directories(host);

    PlayerSession player(Wine(), StandIn("player.exe"), picked, "en_US.UTF-8");
    ChildResult run = RunChild(Wine().Command(Installer()), player.Options(kRunTimeoutMs));
    ASSERT_TRUE(run.finished) << "the installer did not end";
    std::string log = ReadFile(host + "/Felto/FeltoInstaller.log");
    ASSERT_EQ(CountOf(log, "_StartLauncher"), 1) << log << run.stdErr;
    EXPECT_EQ(CountOf(log, "error,code:"), 0) << log;
    for (const GameFile& file : files)
        EXPECT_TRUE(ReadFile(host + "/Felto/" + file.path) == file.bytes) << file.path;
    EXPECT_TRUE(
        HoldsText(ReadFile(Wine().Desktop() + "/Felto.lnk"), picked + "\\Felto\\Felto.exe"));
}

// The happy path on each Windows the program is made for, as the prefix reports it: the system
// line names the version the way the description's tables do, and the install completes.
struct WindowsVersion {
    std::string wine; // the prefix's version setting
    std::string line; // the log's system line
};

void PrintTo(const WindowsVersion& version, std::ostream* out) {
    *out << version.wine;
}

class WineVersionTest : public WineInstallTest,
                        public ::testing::WithParamInterface<WindowsVersion> {};

TEST_P(WineVersionTest, InstallsAndNamesTheSystem) {
    Wine().SetWindowsVersion(GetParam().wine);
    std::vector<GameFile> files = Basics(true);
    files.push_back({"data/config.txt", "fullscreen=1\r\n", false});
    files.push_back({"data/assets.pak", MakeBytes(20000, 14), true});
    tree_.Publish(files);
    StartServer();

    ChildResult run = RunInstaller();
    ASSERT_TRUE(run.finished) << "the installer did not end";
    std::string log = Log();
    std::vector<std::string> messages = LogMessages(log);
    int system = FindMessage(messages, "64bit:");
    ASSERT_GE(system, 0) << log;
    EXPECT_EQ(messages[system], GetParam().line);
    EXPECT_EQ(CountOf(log, "error,code:"), 0) << log;
    EXPECT_EQ(CountOf(log, "_StartLauncher"), 1) << log;
    for (const GameFile& file : files)
        EXPECT_TRUE(ReadFile(Felto() + "/" + file.path) == file.bytes) << file.path;
    EXPECT_TRUE(FileExists(Wine().Desktop() + "/Felto.lnk")) << "no shortcut";
}

// What each setting reports, named by the description's tables. The program carries no
// compatibility manifest, so Windows 8.1 and 10 report 6.2, build 9200, as to any such program;
// Wine's edition for 6.x is none of the listed ones, so the name's blank stands alone. Wine 8
// reports "win7" as a server of 6.1 and "win2008r2" as the workstation (Windows 7).
INSTANTIATE_TEST_SUITE_P(
    Versions, WineVersionTest,
    ::testing::Values(
        WindowsVersion{"winxp", "64bit:0, system info:Microsoft Windows XP Professional Service "
                                "Pack 3 (build 2600)"},
        WindowsVersion{"win7", "64bit:1, system info:Microsoft Windows Server 2008 R2 Standard "
                               "Edition Service Pack 1 (build 7601), 64-bit"},
        WindowsVersion{"win2008r2", "64bit:1, system info:Microsoft Windows 7  Service Pack 1 "
                                    "(build 7601), 64-bit"},
        WindowsVersion{"win81", "64bit:1, system info:Microsoft  (build 9200), 64-bit"},
        WindowsVersion{"win10", "64bit:1, system info:Microsoft  (build 9200), 64-bit"}),
    [](const ::testing::TestParamInfo<WindowsVersion>& info) { return info.param.wine; });

} // namespace
