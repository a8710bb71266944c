// The installer as a studio with a second server builds it (FeltoInstallerStudio): when the first
// server fails an attempt, the next goes to 127.0.0.1:8081; the signature comes from the server
// that served the manifest; and the run's outcome goes to that server in one GET.

#include "tests/e2e/install_fixture.h"
#include "tests/support/http_test_server.h"
#include "tests/support/manifest_signing.h"

#include <regex>
#include <sys/utsname.h>

namespace {

constexpr int kSecondPort = 8081;
const char* const kFirst = " from http://127.0.0.1\n";
const char* const kSecond = " from http://127.0.0.1:8081\n";

std::vector<GameFile> Game() {
    std::vector<GameFile> files = LauncherBasics();
    files.push_back({"launcher/config.ini", "[launcher]\r\n", false});
    files.push_back({"launcher/data.pak", MakeBytes(500000, 4), false});
    return files;
}

// The kernel's release as the report gives it: its first three numbers.
std::string KernelNumbers() {
    utsname name;
    if (::uname(&name) != 0)
        return "";
    std::smatch match;
    std::string release = name.release;
    if (!std::regex_search(release, match, std::regex(R"(^(\d+)\.(\d+)(?:\.(\d+))?)")))
        return "";
    return match[1].str() + "." + match[2].str() + "." +
           (match[3].matched ? match[3].str() : std::string("0"));
}

enum class FirstServer { Refuses, LacksAnObject, Stalls };

struct StudioCase {
    const char* name;
    FirstServer first;
};

void PrintTo(const StudioCase& studioCase, std::ostream* out) {
    *out << studioCase.name;
}

class StudioServers : public InstallFixture, public ::testing::WithParamInterface<StudioCase> {
  protected:
    void SetUp() override {
        InstallFixture::SetUp();
        installer_ = FELTO_STUDIO_INSTALLER_BINARY;
    }
    void TearDown() override {
        first_.Stop();
        if (second_)
            second_->Stop();
        InstallFixture::TearDown();
    }
    // The game published and signed; the second server serves it all.
    std::vector<PublishedEntry> Publish(const std::vector<GameFile>& files) {
        auto entries = Tree().Publish(files);
        SignManifests(ServerRoot());
        first_.ServeFolder(ServerRoot());
        second_ = std::make_unique<NginxServer>();
        EXPECT_TRUE(second_->Start(ServerRoot(), kSecondPort)) << "nginx did not start";
        return entries;
    }
    void StartFirst() { ASSERT_TRUE(first_.Start(80)); }
    // The report requests the first server saw.
    std::vector<std::string> FirstReports() const {
        std::vector<std::string> reports;
        for (const std::string& request : first_.requests())
            if (request.find("/microclient/report") != std::string::npos)
                reports.push_back(request);
        return reports;
    }

    HttpTestServer first_;
    std::unique_ptr<NginxServer> second_;
};

// The report target a successful fresh install of `entries` sends.
std::string SuccessReport(const ServerTree& tree, const std::vector<PublishedEntry>& entries,
                          const std::string& seconds) {
    std::size_t bytes = 0;
    for (const PublishedEntry& entry : entries)
        bytes += ReadFile(tree.ObjectPath(entry)).size();
    return "/microclient/report?v=1&result=0&ext=0&os=" + KernelNumbers() +
           "&x64=1&installer=1.0.0.0&release=" + std::to_string(FELTO_TEST_RELEASE_FLOOR + 1) +
           "&files=" + std::to_string(entries.size()) + "&bytes=" + std::to_string(bytes) +
           "&secs=" + seconds;
}

TEST_P(StudioServers, InstallCompletesFromTheSecondServerAndReportsToTheManifestsOne) {
    auto files = Game();
    auto entries = Publish(files);
    const PublishedEntry& pak = entries.back();
    if (GetParam().first == FirstServer::LacksAnObject) {
        first_.RemoveFile("/" + pak.urlPath);
    } else if (GetParam().first == FirstServer::Stalls) {
        HttpFault stall;
        stall.path = "/" + pak.urlPath;
        stall.stallBeforeHeader = true;
        first_.AddFault(stall);
    }
    if (GetParam().first != FirstServer::Refuses)
        StartFirst();

    InstallerRun run = RunInstaller();
    ASSERT_TRUE(run.process.finished) << run.process.stdErr;
    EXPECT_EQ(CountOf(run.log, "error,code:"), 0) << run.log;
    ExpectInstalled(files);
    EXPECT_TRUE(WaitUntil(10000, [&] { return FileExists(Installed("game-started.mark")); }));

    // The failed attempt names the first server, the next one the second.
    const bool manifestFromSecond = GetParam().first == FirstServer::Refuses;
    const std::string failed =
        manifestFromSecond ? "microclient/download/launcher_manifest_x64.js" : pak.urlPath;
    EXPECT_EQ(CountOf(run.log, "attempt 1 of " + failed + kFirst), 1) << run.log;
    EXPECT_EQ(CountOf(run.log, "attempt 2 of " + failed + kSecond), 1) << run.log;
    // The server that served last is where the next download starts.
    EXPECT_EQ(CountOf(run.log, pak.urlPath + kSecond), 1) << run.log;
    EXPECT_EQ(CountOf(run.log, "attempt 3 of"), 0) << run.log;
    // The signature comes from the manifest's server, and is checked as from the first.
    const std::string manifestServer = manifestFromSecond ? kSecond : kFirst;
    EXPECT_EQ(CountOf(run.log, "attempt 1 of microclient/download/launcher_manifest_x64.js.sig" +
                                   manifestServer),
              1)
        << run.log;
    EXPECT_EQ(CountOf(run.log, ".sig from"), 1) << run.log;
    EXPECT_EQ(CountOf(run.log, " signature ok: launcher_manifest_x64.js"), 1) << run.log;

    // One report, to the manifest's server, with nothing but the request line and the host.
    EXPECT_EQ(CountOf(run.log, "report http://"), 1) << run.log;
    const std::regex reportLine(R"(GET (/microclient/report\?[^ ]*&secs=(\d+)) HTTP/1.1)");
    std::smatch match;
    if (manifestFromSecond) {
        // nginx logs a request once it has answered it.
        EXPECT_TRUE(WaitUntil(
            10000, [&] { return CountOf(second_->AccessLog(), "/microclient/report") > 0; }));
        const std::string log = second_->AccessLog();
        ASSERT_EQ(CountOf(log, "/microclient/report"), 1) << log;
        ASSERT_TRUE(std::regex_search(log, match, reportLine)) << log;
        EXPECT_EQ(match[1].str(), SuccessReport(Tree(), entries, match[2].str()));
        EXPECT_NE(run.log.find("report http://127.0.0.1:8081" + match[1].str() + ": answered 404"),
                  std::string::npos)
            << run.log;
    } else {
        const std::vector<std::string> reports = FirstReports();
        ASSERT_EQ(reports.size(), 1u);
        ASSERT_TRUE(std::regex_search(reports[0], match, reportLine)) << reports[0];
        EXPECT_EQ(reports[0], "GET " + SuccessReport(Tree(), entries, match[2].str()) +
                                  " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
        EXPECT_EQ(CountOf(second_->AccessLog(), "/microclient/report"), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(FirstServer, StudioServers,
                         ::testing::Values(StudioCase{"Refuses", FirstServer::Refuses},
                                           StudioCase{"LacksAnObject", FirstServer::LacksAnObject},
                                           StudioCase{"Stalls", FirstServer::Stalls}),
                         [](const ::testing::TestParamInfo<StudioCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(InstallFixture, WithEveryServerDownTheStudioBuildEndsWith101AsToday) {
    installer_ = FELTO_STUDIO_INSTALLER_BINARY;
    InstallerRun run = RunInstaller();
    ASSERT_TRUE(run.process.finished);
    EXPECT_EQ(CountOf(run.log, "error,code:101, ext err:0"), 1) << run.log;
    EXPECT_EQ(CountOf(run.log, "Connecting to the server failed."), 3) << run.log;
    // In turn: first, second, first.
    EXPECT_EQ(CountOf(run.log, "launcher_manifest_x64.js from http://127.0.0.1\n"), 2) << run.log;
    EXPECT_EQ(CountOf(run.log, "attempt 2 of microclient/download/launcher_manifest_x64.js" +
                                   std::string(kSecond)),
              1)
        << run.log;
    EXPECT_EQ(CountOf(run.log, "/microclient/report?v=1&result=101&ext=0&"), 1) << run.log;
    EXPECT_EQ(CountOf(run.log, ": no answer\n"), 1) << run.log;
}

// A report server that never answers costs the player at most its two seconds: the game starts.
TEST_F(StudioServers, ASilentReportServerDoesNotHoldTheGameBack) {
    auto files = Game();
    Publish(files);
    HttpFault silent;
    silent.path = "/microclient/report";
    silent.stallBeforeHeader = true;
    first_.AddFault(silent);
    StartFirst();

    InstallerRun run = RunInstaller();
    ASSERT_TRUE(run.process.finished) << run.process.stdErr;
    ExpectInstalled(files);
    EXPECT_TRUE(WaitUntil(10000, [&] { return FileExists(Installed("game-started.mark")); }));
    EXPECT_EQ(CountOf(run.log, ": no answer within 2000 ms\n"), 1) << run.log;
    EXPECT_EQ(FirstReports().size(), 1u);
    // Nothing went to the second server.
    EXPECT_EQ(CountOf(second_->AccessLog(), "GET "), 0);
}

} // namespace
