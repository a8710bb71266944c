// The installer built with its progress window, met by a stand-in player on a display of the
// test's own: the window shows the run from its first download on, its texts reach the system
// in UTF-16 on a Chinese and a Western system, the bar only moves forward, every box comes up
// in front of it, and a cancel ends the run so that the next run fetches no byte twice.

#include "tests/support/http_test_server.h"
#include "tests/support/server_tree.h"
#include "tests/support/text_checks.h"
#include "tests/support/wine_prefix_posix.h"

#include <filesystem>

namespace {

constexpr int kRunTimeoutMs = 180000;
constexpr std::int64_t kBigSize = 400000; // one connection: a single part file
constexpr std::int64_t kStalledAt = 300000;
// Until its size is known the big object is guessed as large as the three small ones before it,
// which bring the bar to 750; past this point the big object is well on its way.
constexpr int kCancelAtPermille = 850;

std::string WindowsPath(const std::string& path) {
    std::string windows = "Z:" + path;
    std::replace(windows.begin(), windows.end(), '/', '\\');
    return windows;
}

// "progress window|<caption>|<status>|<position>" split into its fields.
std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    for (std::size_t start = 0;;) {
        std::size_t bar = line.find('|', start);
        fields.push_back(line.substr(start, bar - start));
        if (bar == std::string::npos)
            return fields;
        start = bar + 1;
    }
}

class ProgressWindowTest : public WineTest, public ::testing::WithParamInterface<const char*> {
  protected:
    std::string Felto() { return Wine().DriveD() + "/Felto"; }
    std::string Log() { return ReadFile(Felto() + "/FeltoInstaller.log"); }

    HttpTestServer server_;
};

TEST_P(ProgressWindowTest, ShowsTheRunAndACancelKeepsWhatWasFetchedForTheNextRun) {
    const std::string locale = GetParam();
    const std::string program = buildDir_ + "/FeltoInstallerProgress.exe";
    ASSERT_TRUE(FileExists(program)) << program;

    TempDir www;
    ServerTree tree(www.path());
    const std::string big = MakeBytes(kBigSize, 21);
    std::string archiver = ReadFile(StandIn("7z.exe"));
    std::vector<GameFile> files = {{"plantform/x86/7z.exe", archiver, false},
                                   {"plantform/x64/7z.exe", archiver, false},
                                   {"Felto.exe", ReadFile(StandIn("Felto.exe")), false},
                                   {"data/big.pak", big, false}};
    std::string bigPath;
    for (const PublishedEntry& entry : tree.Publish(files))
        if (entry.relPath == "data/big.pak")
            bigPath = "/" + entry.urlPath;
    ASSERT_FALSE(bigPath.empty());
    // Served from memory, so that one object's body can be paced.
    server_.ServeFolder(www.path());
    // About 100 KB/s, and never more than the first kStalledAt bytes: the bar is seen moving,
    // and the cancel always meets the object unfinished, however slow the machine.
    HttpFault pace;
    pace.path = bigPath;
    pace.dripDelayMs = 10;
    pace.dripBytes = 1024;
    pace.stallAfterBodyBytes = kStalledAt;
    server_.AddFault(pace);
    ASSERT_TRUE(server_.Start(80));

    // The screen as the player saw it, kept beside the build as the test's artefact.
    std::string shots = std::string(FELTO_BINARY_DIR) + "/test-artefacts";
    std::filesystem::create_directories(shots);
    std::string shot = shots + "/progress-window-" + locale.substr(0, locale.find('.')) + ".bmp";
    std::filesystem::remove(shot);
    // On the Chinese system the player presses Cancel, on the Western one Alt+F4.
    bool chinese = locale.rfind("zh_CN", 0) == 0;
    std::string action = (chinese ? "cancel@" : "close@") + std::to_string(kCancelAtPermille);
    PlayerSession player(Wine(), StandIn("player.exe"), "ok", locale, action, WindowsPath(shot));

    ChildResult first = RunChild(Wine().Command(program), player.Options(kRunTimeoutMs));
    ASSERT_TRUE(first.finished) << "the cancelled run did not end";
    EXPECT_EQ(first.exitStatus, 0);
    std::vector<std::string> windows = player.Windows();
    std::string all;
    for (const std::string& line : windows)
        all += line + "\n";
    std::vector<int> downloadPositions;
    bool connecting = false;
    std::string log = Log();
    EXPECT_EQ(CountOf(log, "The player cancelled the install."), 1) << log;
    EXPECT_EQ(CountOf(log, "error,code:"), 0) << log;
    EXPECT_FALSE(FileExists(Felto() + "/data/big.pak"));
    std::string part = Felto() + "/incoming" + bigPath.substr(bigPath.rfind('/')) + "_0";
    std::string incoming;
    for (const auto& item : std::filesystem::directory_iterator(Felto() + "/incoming"))
        incoming += item.path().filename().string() + " ";
    ASSERT_TRUE(FileExists(part)) << "the cancel threw the part file away: " << incoming << "\n"
                                  << log;
    std::int64_t kept = static_cast<std::int64_t>(std::filesystem::file_size(part));
    EXPECT_GT(kept, 0);
    EXPECT_LE(kept, kStalledAt);

    for (const std::string& line : windows) {
        std::vector<std::string> fields = Fields(line);
        // The last look may meet the window as the process takes it down.
        if (fields[0] != "progress window" || (fields.size() == 4 && fields[2].empty()))
            continue;
        ASSERT_EQ(fields.size(), 4u) << line;
        EXPECT_EQ(fields[1], "Felto") << line;
        connecting = connecting || fields[2] == "正在连接服务器，获取文件列表…";
        if (fields[2].rfind("正在下载 big.pak（4/4）", 0) == 0)
            downloadPositions.push_back(std::stoi(fields[3]));
    }
    EXPECT_TRUE(connecting) << "the window was not up before the downloads\n" << all;
    ASSERT_FALSE(downloadPositions.empty()) << all;
    EXPECT_TRUE(std::is_sorted(downloadPositions.begin(), downloadPositions.end())) << all;
    EXPECT_GE(downloadPositions.back(), kCancelAtPermille) << all;
    EXPECT_NE(
        all.find(
            "owned message box|Felto|确定要取消安装吗？已下载的部分会保留，下次运行时继续。\n"),
        std::string::npos)
        << all;
    std::string picture = ReadFile(shot);
    EXPECT_EQ(picture.substr(0, 2), "BM") << "no screenshot at " << shot;

    // The lock went with the cancelled run: the next run goes ahead, resumes the part file
    // from its end and shows its success in front of the window.
    server_.ClearFaults();
    server_.ClearRequests();
    ChildResult second = RunChild(Wine().Command(program), player.Options(kRunTimeoutMs));
    ASSERT_TRUE(second.finished) << "the second run did not end";
    EXPECT_EQ(second.exitStatus, 0);
    log = Log();
    EXPECT_EQ(CountOf(log, "error,code:"), 0) << log;
    EXPECT_TRUE(ReadFile(Felto() + "/data/big.pak") == big) << "the resumed file differs";
    // The size probe asks from the start and reads only the head; the body comes from where
    // the part file ends.
    EXPECT_EQ(server_.RangeStarts(bigPath), (std::vector<std::int64_t>{0, kept}));
    std::string mark = Felto() + "/game-started.mark";
    EXPECT_TRUE(WaitUntil(60000, [&] { return FileExists(mark); })) << "the game was not started";
    all.clear();
    for (const std::string& line : player.Windows())
        all += line + "\n";
    EXPECT_EQ(CountOf(all, "owned message box|提示|安装成功，以后请点击桌面Felto图标进行游戏。\n"),
              1)
        << all;
    EXPECT_EQ(CountOf(all, "\nmessage box|"), 0) << "a box without the window as its owner\n"
                                                 << all;
}

INSTANTIATE_TEST_SUITE_P(Locales, ProgressWindowTest,
                         ::testing::Values("zh_CN.UTF-8", "en_US.UTF-8"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param).substr(0, 2) == "zh" ? "Chinese"
                                                                                 : "English";
                         });

} // namespace
