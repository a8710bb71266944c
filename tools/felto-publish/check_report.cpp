#include "check_report.h"

#include "net/deal_socket.h"

#include <cstdio>

namespace publish {

namespace {
// Heads this close to the engine's limit leave no room for a header a CDN may add later.
constexpr int kHeadMarginWarning = 128;
} // namespace

void Report::Line(const char* verdict, const std::string& text) {
    std::printf("%-5s %s\n", verdict, text.c_str());
    std::fflush(stdout);
    if (std::string(verdict) == "FAIL")
        failed_ = true;
}

void Report::Fail(const std::string& text, const std::string& fix) {
    Line("FAIL", text + "; fix: " + fix);
}

void HeadStats::Record(const HeadAnswer& answer, const std::string& url) {
    if (!answer.connected || answer.head.headBytes == 0)
        return;
    ++answers;
    // A head the engine cut at its limit.
    const bool cut = answer.head.refusal == HeadRefusal::HeadTooLong;
    if (cut && tooLong++ == 0)
        firstTooLong = url;
    if (!cut && answer.head.headBytes > largest) {
        largest = answer.head.headBytes;
        largestUrl = url;
    }
    accepted += answer.accepted ? 1 : 0;
    if (answer.accepted && !answer.head.hasContentLength && withoutLength++ == 0)
        firstWithoutLength = url;
}

void ReportHeads(const HeadStats& heads, Report& report) {
    if (heads.tooLong > 0) {
        report.Fail(std::to_string(heads.tooLong) + " answer heads over 16,384 bytes (first: " +
                        heads.firstTooLong + "); players see error 101 or 108",
                    "drop response headers (cookies, CDN and proxy headers)");
    } else if (heads.answers > 0) {
        const int margin = kHeaderBufferSize - heads.largest;
        report.Line(margin < kHeadMarginWarning ? "WARN" : "ok",
                    "answer heads: largest " + std::to_string(heads.largest) + " bytes (" +
                        heads.largestUrl + "), " + std::to_string(margin) +
                        " bytes below the installer's limit of 16,384");
    }
    if (heads.withoutLength > 0)
        report.Fail(std::to_string(heads.withoutLength) + " of " + std::to_string(heads.answers) +
                        " answers without Content-Length (first: " + heads.firstWithoutLength + ")",
                    "serve the files as they are: no chunked transfer, compression or filter");
    else if (heads.accepted > 0)
        report.Line("ok", "Content-Length in all " + std::to_string(heads.accepted) + " answers");
}

} // namespace publish
