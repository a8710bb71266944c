// The default build on the wire and in its log: an update run compared byte for byte with the
// transcript kept in tests/data. Options a studio turns on must leave this untouched, and so
// must manifests that carry more fields than the installer reads.
// FELTO_WRITE_TRANSCRIPT=1 writes the transcript anew (only when the change is meant).

#include "tests/faults/fault_fixture.h"

#include <algorithm>
#include <cstdlib>
#include <regex>

namespace {

const std::string kTranscript = std::string(FELTO_SOURCE_DIR) + "/tests/data/default-update.wire";

// Sorts each run of requests for one path: the segments of a file are asked for at once, on
// their own connections, so they reach the server in any order.
std::vector<std::string> InSegmentOrder(std::vector<std::string> requests) {
    for (auto first = requests.begin(); first != requests.end();) {
        const std::string path = HttpTestServer::RequestPath(*first);
        auto last = std::find_if(first, requests.end(), [&](const std::string& request) {
            return HttpTestServer::RequestPath(request) != path;
        });
        std::sort(first, last);
        first = last;
    }
    return requests;
}

std::string ReplaceEvery(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); !from.empty() && at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

class DefaultWire : public FaultFixture, public ::testing::WithParamInterface<bool> {
  protected:
    // What varies from run to run is masked: times, the test's folders, the system's name, the
    // digest of a 7-Zip archive (which holds its member's time) and the order of the log lines of
    // segments running at once.
    std::string Masked(std::string text) const {
        text = ReplaceEvery(text, InstallDir(), "<install>");
        for (const PublishedEntry& entry : entries_) {
            if (entry.objectMd5 == entry.fileMd5)
                continue;
            const std::string folder = "/" + entry.objectMd5.substr(0, 2) + "/";
            if (text.find(entry.objectMd5) != std::string::npos)
                text = ReplaceEvery(text, folder, "/<archive folder>/");
            text = ReplaceEvery(text, entry.objectMd5, "<archive>");
        }
        text =
            std::regex_replace(text, std::regex("\\d+-\\d+-\\d+,\\d\\d:\\d\\d:\\d\\d "), "<time> ");
        return text;
    }
};

TEST_P(DefaultWire, UpdateSendsAndLogsWhatItAlwaysHas) {
    InstallPrevious(OldGame());
    Publish(NewGame());
    if (GetParam()) {
        // A manifest as felto-publish writes it now: every line with the object's size after
        // its digest.
        std::string body;
        for (const PublishedEntry& entry : entries_)
            body += ManifestLine(entry, true);
        PublishManifest(body);
    }
    StartServer();
    Outcome outcome = RunInstaller(120000);
    ASSERT_TRUE(outcome.finished);
    ASSERT_EQ(outcome.code, 0) << outcome.log;
    ExpectComplete(outcome);

    std::string transcript;
    for (const std::string& request : InSegmentOrder(server_.requests()))
        transcript += Masked(request);
    transcript += "----\n";
    std::string log = Masked(outcome.log);
    // The system's own description is this machine's, not the installer's.
    log = std::regex_replace(log, std::regex("<time> [^\n]*(Linux|Windows)[^\n]*\n"),
                             "<time> <system>\n");
    transcript += log;

    if (const char* write = std::getenv("FELTO_WRITE_TRANSCRIPT"); write && *write == '1') {
        WriteFile(kTranscript, transcript);
        GTEST_SKIP() << "wrote " << kTranscript;
    }
    EXPECT_EQ(transcript, ReadFile(kTranscript));
}

INSTANTIATE_TEST_SUITE_P(Manifest, DefaultWire, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "WithSizes" : "ThreeFields";
                         });

} // namespace
