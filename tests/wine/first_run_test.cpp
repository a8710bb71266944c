// The Windows program's first steps under Wine: the default folder on drive D:, the log in code
// page 936 with CR LF line ends, the single-instance mutex, and the folder dialog when there is
// no drive D:, answered by a stand-in player on a Western and on a Chinese system.

#include "tests/support/http_test_server.h"
#include "tests/support/text_checks.h"
#include "tests/support/wine_prefix_posix.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <regex>
#include <stdexcept>

namespace {

constexpr int kRunTimeoutMs = 120000;
const char kEnglish[] = "en_US.UTF-8";
const char kChinese[] = "zh_CN.UTF-8";

std::vector<std::string> Entries(const std::string& log) {
    std::vector<std::string> entries;
    for (std::size_t start = 0; start < log.size();) {
        std::size_t end = log.find("\r\n\r\n", start);
        if (end == std::string::npos) {
            entries.push_back(log.substr(start));
            break;
        }
        entries.push_back(log.substr(start, end - start));
        start = end + 4;
    }
    return entries;
}

// The Subsystem field of a program's PE optional header (2: windowed, 3: console).
int PeSubsystem(const std::string& program) {
    std::string bytes = ReadFile(program);
    if (bytes.size() < 0x40)
        return -1;
    std::uint32_t header = 0;
    std::memcpy(&header, bytes.data() + 0x3c, sizeof header);
    std::size_t at = header + 24 + 68;
    if (at + 2 > bytes.size())
        return -1;
    return static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8;
}

// A text as Wine's debug channels print a wide string: printable ASCII as it is, every other
// UTF-16 unit as a backslash and four hexadecimal digits.
std::string WineDebugText(const std::string& utf8) {
    const std::string out = FromUtf8(utf8, "UTF-16LE");
    std::string printed;
    for (std::size_t i = 0; i + 1 < out.size(); i += 2) {
        unsigned unit = static_cast<unsigned char>(out[i]) | static_cast<unsigned char>(out[i + 1])
                                                                 << 8;
        char escaped[8];
        if (unit == '\\' || unit == '"')
            printed += {'\\', static_cast<char>(unit)};
        else if (unit >= ' ' && unit < 127)
            printed += static_cast<char>(unit);
        else if (std::snprintf(escaped, sizeof escaped, "\\%04x", unit) == 5)
            printed += escaped;
    }
    return printed;
}

class FirstRunTest : public WineTest {
  protected:
    void TearDown() override {
        player_.reset(); // its display and player go before the prefix does
        WineTest::TearDown();
    }

    // Without drive D:, the player picks "C:\测试" (a folder made for it) in the dialog on a
    // system of `locale`; the run must end normally.
    ChildResult RunPickingAChineseFolder(const char* locale) {
        std::filesystem::remove(Wine().DriveD());
        std::filesystem::create_directory(ChineseFolder());
        player_ =
            std::make_unique<PlayerSession>(Wine(), StandIn("player.exe"), "C:\\测试", locale);
        ChildResult run = RunChild(Wine().Command(Installer()), player_->Options(kRunTimeoutMs));
        EXPECT_TRUE(run.finished);
        EXPECT_EQ(run.exitStatus, 0);
        return run;
    }
    std::string ChineseFolder() { return Wine().DriveC() + "/测试"; }

    std::unique_ptr<PlayerSession> player_;
};

TEST_F(FirstRunTest, InstallerIsAWindowedProgram) {
    // No console window may open when the player starts it.
    EXPECT_EQ(PeSubsystem(Installer()), 2);
}

TEST_F(FirstRunTest, SecondCopyIsRefusedWhileTheFirstRunsAndTheLogIsCodePage936) {
    // The server takes the first copy's request and does not answer: the copy then waits inside
    // its first download until the test lets it go.
    HttpTestServer server;
    HttpFault silent;
    silent.stallBeforeHeader = true;
    server.AddFault(silent);
    ASSERT_TRUE(server.Start(80));
    RunningChild first(Wine().Command(Installer()), Wine().Options(0));

    ASSERT_TRUE(WaitUntil(90000, [&] { return !server.requests().empty(); }))
        << "the first copy never asked for its manifest";
    const std::string request = server.requests().front();
    std::string felto = Wine().DriveD() + "/Felto";
    EXPECT_TRUE(FileExists(felto + "/FeltoInstaller.log"));
    EXPECT_TRUE(std::filesystem::is_directory(felto + "/incoming"));

    ChildResult second = RunChild(Wine().Command(Installer()), Wine().Options(90000));
    ASSERT_TRUE(second.finished) << "the second copy did not end";
    EXPECT_EQ(second.exitStatus, 0);
    // The second copy must not start the running copy's log afresh: its refusal goes to
    // standard error only.
    EXPECT_GE(CountOf(second.stdErr, "error,code:102, ext err:0"), 1) << second.stdErr;
    ChildResult still;
    EXPECT_FALSE(first.Wait(0, still)) << "the first copy ended while the second ran";

    // Let the first copy's downloads fail: it reports code 101 and ends.
    server.Stop();
    ChildResult firstResult;
    ASSERT_TRUE(first.Wait(90000, firstResult)) << "the first copy did not end";
    EXPECT_EQ(firstResult.exitStatus, 0);

    std::string log = ReadFile(felto + "/FeltoInstaller.log");
    for (std::size_t at = log.find('\n'); at != std::string::npos; at = log.find('\n', at + 1))
        ASSERT_TRUE(at > 0 && log[at - 1] == '\r') << "bare line end at byte " << at;
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log.substr(log.size() - 4), "\r\n\r\n");
    std::vector<std::string> entries = Entries(log);
    std::regex entryForm("\\d{4}-[1-9]\\d?-[1-9]\\d?,\\d\\d:\\d\\d:\\d\\d [^\\r\\n]*");
    for (const std::string& entry : entries)
        EXPECT_TRUE(std::regex_match(entry, entryForm)) << "malformed entry: " << entry;

    // The first entries are the first copy's own: nothing of the second reached the file.
    ASSERT_GE(entries.size(), 2u);
    std::smatch probe;
    ASSERT_TRUE(std::regex_search(entries[0], probe, std::regex(" 64bit:([01]), system info:")))
        << entries[0];
    bool is64 = probe[1] == "1";
    std::string manifest = is64 ? "launcher_manifest_x64.js" : "launcher_manifest.js";
    EXPECT_NE(entries[0].find("system info:Microsoft "), std::string::npos) << entries[0];
    EXPECT_NE(entries[1].find(" microclient/download/" + manifest), std::string::npos)
        << entries[1];
    EXPECT_NE(request.find("/microclient/download/" + manifest + " HTTP/1.1\r\n"),
              std::string::npos)
        << request;
    EXPECT_EQ(CountOf(log, "error,code:102"), 0);

    // Two repeats, each announced in Chinese, then the failure report.
    std::string retry = ToCp936("下载重试，") + "D:\\Felto/" + manifest + "," + manifest;
    EXPECT_EQ(CountOf(log, retry), 2) << log;
    EXPECT_EQ(CountOf(log, "error,code:101, ext err:0"), 1) << log;
    EXPECT_NE(entries.back().find("error,code:101, ext err:0"), std::string::npos);
}

TEST_F(FirstRunTest, WithoutDriveDTheDialogStartsOnAFolderAndCancelEndsTheRunWithoutInstalling) {
    std::filesystem::remove(Wine().DriveD());
    TempDir start;
    PlayerSession player(Wine(), StandIn("player.exe"), "cancel", kEnglish);
    ChildOptions options = player.Options(kRunTimeoutMs);
    options.workingDir = start.path();
    ChildResult run = RunChild(Wine().Command(Installer()), options);
    ASSERT_TRUE(run.finished) << "the installer did not end once the dialog closed";
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_NE(run.stdErr.find("no install folder was chosen"), std::string::npos) << run.stdErr;

    // One dialog, its title readable on a system of another code page.
    std::vector<std::string> windows = player.Windows();
    ASSERT_EQ(windows.size(), 1u) << run.stdErr;
    EXPECT_EQ(windows[0].rfind("folder dialog|", 0), 0u) << windows[0];
    EXPECT_NE(windows[0].find("|请选择程序的安装目录"), std::string::npos) << windows[0];
    // Nothing is left behind: no log in the folder the program was started in, no folder made.
    EXPECT_TRUE(std::filesystem::is_empty(start.path()));
    EXPECT_FALSE(FileExists(Wine().DriveD()));
    EXPECT_FALSE(FileExists(Wine().DriveC() + "/Felto"));
}

// The box's text reaches the system as UTF-16 made from code page 936, whatever the system's own
// code page: the same characters on a Western and on a Chinese system, never through the ANSI
// call. No display: Wine closes the box at once, after its relay channel has shown the call.
TEST_F(FirstRunTest, MessageBoxesGetTheChineseTextInUtf16OnWesternAndChineseSystems) {
    Wine().RelayOnly("user32.MessageBoxA;user32.MessageBoxW");
    std::string text = " L\"" + WineDebugText("下载失败，请重新运行Felto.exe(101)") + "\",";
    std::string caption = " L\"" + WineDebugText("提示") + "\",";
    for (const char* locale : {kEnglish, kChinese}) {
        ChildOptions options = Wine().Options(kRunTimeoutMs);
        options.env["WINEDEBUG"] = "+relay";
        options.env["LC_ALL"] = locale;
        // No server listens: the run ends with the download failure, code 101.
        ChildResult run = RunChild(Wine().Command(Installer()), options);
        ASSERT_TRUE(run.finished) << locale;
        std::size_t call = run.stdErr.find("Call user32.MessageBoxW(");
        ASSERT_NE(call, std::string::npos) << locale << "\n" << run.stdErr;
        std::string line = run.stdErr.substr(call, run.stdErr.find('\n', call) - call);
        EXPECT_NE(line.find(text), std::string::npos) << locale << ": " << line;
        EXPECT_NE(line.find(caption), std::string::npos) << locale << ": " << line;
        EXPECT_EQ(run.stdErr.find("user32.MessageBoxA("), std::string::npos) << locale;
        EXPECT_TRUE(Wine().StopWine());
    }
}

// A folder whose name the system's code page cannot hold ("测试" on a Western system) is refused
// with a message and the dialog comes back; on a Chinese system the same folder is used.
TEST_F(FirstRunTest, AFolderTheCodePageCannotNameIsRefusedAndTheDialogShownAgain) {
    ChildResult run = RunPickingAChineseFolder(kEnglish);
    ASSERT_TRUE(run.finished);
    const std::string chinese = ChineseFolder();

    std::vector<std::string> windows = player_->Windows();
    ASSERT_EQ(windows.size(), 3u) << run.stdErr;
    EXPECT_EQ(windows[0].rfind("folder dialog|", 0), 0u) << windows[0];
    EXPECT_EQ(windows[1],
              "message box|提示|所选文件夹的路径含有本系统无法使用的字符，请选择其他文件夹。");
    // Cancelled the second time: the run ends, and nothing was written under any name.
    EXPECT_EQ(windows[2].rfind("folder dialog|", 0), 0u) << windows[2];
    EXPECT_NE(run.stdErr.find("no install folder was chosen"), std::string::npos) << run.stdErr;
    EXPECT_TRUE(std::filesystem::is_empty(chinese));
    for (const auto& item : std::filesystem::directory_iterator(Wine().DriveC()))
        EXPECT_NE(item.path().filename(), "Felto");
}

TEST_F(FirstRunTest, OnAChineseSystemAFolderNamedInChineseIsUsed) {
    ChildResult run = RunPickingAChineseFolder(kChinese);
    ASSERT_TRUE(run.finished);
    const std::string chinese = ChineseFolder();

    // No server answers: the run goes as far as its download, in a Felto folder inside the one
    // picked, and the failure reads as on every Chinese system.
    std::string log = ReadFile(chinese + "/Felto/FeltoInstaller.log");
    EXPECT_EQ(CountOf(log, "error,code:101, ext err:0"), 1) << run.stdErr;
    EXPECT_NE(log.find(ToCp936("C:\\测试\\Felto/launcher_manifest")), std::string::npos) << log;
    std::vector<std::string> windows = player_->Windows();
    ASSERT_EQ(windows.size(), 2u) << run.stdErr;
    EXPECT_EQ(windows[1], "message box|提示|下载失败，请重新运行Felto.exe(101)");
}

} // namespace
