// felto-publish report on access logs written by real nginx and Apache in the "combined" format:
// 100 runs reported with the installer's own request, read back plain and gzip, with damaged and
// foreign lines among them.

#include "app/field_report.h"
#include "net/report_request.h"
#include "tests/publish/publish_helpers.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/text_checks.h"
#include "tests/support/web_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {

// Run i of 100: release 7 for the first 60, 8 for the rest; every tenth ended with 21 (extra
// 3), i % 15 == 1 with 101; three Windows versions in turn; i seconds and i KB.
ReportFacts RunFacts(int i) {
    ReportFacts facts;
    facts.code = i % 10 == 0 ? 21 : i % 15 == 1 ? 101 : 0;
    facts.extra = facts.code == 21 ? 3 : 0;
    const char* const systems[] = {"6.1.7601", "10.0.19045", "10.0.22631"};
    facts.os = systems[i % 3];
    facts.x64 = i % 3 != 0;
    facts.installer = "1.2.0.0";
    facts.release = i < 60 ? 7 : 8;
    facts.files = i % 5;
    facts.bytes = i * 1000;
    facts.seconds = i;
    return facts;
}

// The runs reported to a real server, which wrote them into its "combined" log.
class ReportFromAccessLog : public ::testing::TestWithParam<WebServerKind> {
  protected:
    void SetUp() override {
        const std::string why = WhyWebServerCannotRun(GetParam());
        if (!why.empty())
            GTEST_SKIP() << why;
        PutFile(dir_.path(), "www/index.html", "felto\n");
        server_ = MakeWebServer(GetParam());
        ASSERT_TRUE(server_->Start(dir_ / "www")) << server_->ErrorLog();
        const std::string base = "http://127.0.0.1:" + std::to_string(server_->port());
        for (int i = 0; i < 100; ++i)
            ASSERT_EQ(
                SendReportRequest(base, ReportTarget("microclient/report", RunFacts(i)), 5000),
                404);
        ASSERT_EQ(SendReportRequest(base, "/index.html", 5000), 200);
        // A server logs a request once it has answered it: the last line may still be coming.
        ASSERT_TRUE(WaitUntil(10000, [&] { return CountOf(ReadFile(Log()), "\n") == 101; }));
        server_->Stop();
    }
    std::string Log() const { return server_->CombinedLogPath(); }

    TempDir dir_;
    std::unique_ptr<WebServer> server_;
};

TEST_P(ReportFromAccessLog, SumsUpEveryReleaseFromPlainAndGzipLogsSkippingDamagedLines) {
    // The first half plain with a damaged line and a foreign one, the rest gzip with a line cut
    // short.
    std::vector<std::string> lines;
    {
        std::string text = ReadFile(Log()), line;
        for (char c : text)
            if (c == '\n')
                lines.push_back(line), line.clear();
            else
                line += c;
    }
    ASSERT_EQ(lines.size(), 101u);
    // A server with several workers may log two requests in the other order than they were
    // answered: put the runs back in their order (the one other request last) before the log is
    // split in two.
    const auto runOf = [](const std::string& line) {
        const std::size_t at = line.find("&secs=");
        return at == std::string::npos ? 100 : std::atoi(line.c_str() + at + 6);
    };
    std::stable_sort(lines.begin(), lines.end(), [&](const std::string& a, const std::string& b) {
        return runOf(a) < runOf(b);
    });
    ASSERT_EQ(runOf(lines[99]), 99);
    std::string first, second;
    for (std::size_t i = 0; i < lines.size(); ++i)
        (i < 50 ? first : second) += lines[i] + "\n";
    first += "this is no access log line\n" + lines[3].substr(0, 40) + "\n";
    // A request line the server could not read is a foreign request.
    first += "127.0.0.1 - - [08/Dec/2026:10:00:00 +0000] \"-\" 400 0 \"-\" \"-\"\n";
    // Report lines the installer never sends: another format version, a field that is no
    // number, a text where numbers belong, a field twice, no query.
    const std::string head = lines[0].substr(0, lines[0].find("\"GET ") + 5);
    const std::string tail = " HTTP/1.1\" 404 153 \"-\" \"-\"\n";
    for (const char* query : {"?v=2&result=0&ext=0&os=1.2.3&x64=0&installer=1&release=0&files=0"
                              "&bytes=0&secs=0",
                              "?v=1&result=x&ext=0&os=1.2.3&x64=0&installer=1&release=0&files=0"
                              "&bytes=0&secs=0",
                              "?v=1&result=0&ext=0&os=<b>&x64=0&installer=1&release=0&files=0"
                              "&bytes=0&secs=0",
                              "?v=1&v=1&result=0&ext=0&os=1.2.3&x64=0&installer=1&release=0"
                              "&files=0&bytes=0&secs=0",
                              ""})
        first += head + "/microclient/report" + query + tail;
    second += lines[99].substr(0, lines[99].size() - 5) + "\n";
    WriteFile(dir_ / "access.log", first);
    WriteFile(dir_ / "access.log.1", second);
    ASSERT_EQ(RunChild({"gzip", "-9", dir_ / "access.log.1"}, ChildOptions()).exitStatus, 0);

    ChildResult result = RunPublisherCapturingOutput(
        {"report", dir_ / "access.log", dir_ / "access.log.1.gz", "--plot", dir_ / "daily.png"});
    const std::string& out = result.stdErr;
    EXPECT_EQ(result.exitStatus, 0) << out;
    // Release 7: runs 0-59, 6 ended with 21 and 4 with 101; its seconds 0-59 give a median of
    // 29 (the 30th) and a 90th percentile of 53 (the 54th).
    EXPECT_NE(out.find("1.2.0.0    7            60    83.3%           29           53          "
                       "29000          53000\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("    failed      6  code 21 ext 3: 释放文件失败，请重新运行Felto.exe\n"
                       "    failed      4  code 101 ext 0: 下载失败，请重新运行Felto.exe\n"),
              std::string::npos)
        << out;
    // Release 8: runs 60-99 (60, 70, 80, 90 with 21; 61, 76, 91 with 101).
    EXPECT_NE(out.find("1.2.0.0    8            40    82.5%           79           95          "
                       "79000          95000\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("    Windows 6.1.7601         20 runs, 90.0% success\n"), std::string::npos)
        << out;
    EXPECT_NE(out.find("100 report lines, 2 other requests, 8 malformed lines skipped\n"),
              std::string::npos)
        << out;
    const std::string png = ReadFile(dir_ / "daily.png");
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");

    // The same as CSV, and nothing of a day after the log.
    result = RunPublisherCapturingOutput({"report", "--csv", dir_ / "access.log"});
    EXPECT_NE(result.stdErr.find("1.2.0.0,7,all,,50,41,0.8200,24,44,24000,44000,\n"),
              std::string::npos)
        << result.stdErr;
    EXPECT_NE(result.stdErr.find("1.2.0.0,7,failure,21 ext 3,5,0,0.0000,20,40,20000,40000,"
                                 "释放文件失败，请重新运行Felto.exe\n"),
              std::string::npos)
        << result.stdErr;
    result = RunPublisherCapturingOutput({"report", Log(), "--since", "2999-01-01"});
    EXPECT_NE(result.stdErr.find("0 report lines, 1 other requests, 0 malformed lines skipped, "
                                 "100 reports before 2999-01-01\n"),
              std::string::npos)
        << result.stdErr;
}

INSTANTIATE_TEST_SUITE_P(Servers, ReportFromAccessLog,
                         ::testing::Values(WebServerKind::Nginx, WebServerKind::Apache),
                         [](const ::testing::TestParamInfo<WebServerKind>& info) {
                             return std::string(WebServerName(info.param));
                         });

} // namespace
