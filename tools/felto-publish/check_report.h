#pragma once
// What felto-publish check prints: one line per check, and what the answer heads told.

#include "server_probe.h"

#include <string>

namespace publish {

class Report {
  public:
    // "ok", "WARN", "FAIL" or "info", then the text; a FAIL line makes the verdict negative.
    void Line(const char* verdict, const std::string& text);
    void Fail(const std::string& text, const std::string& fix);
    bool failed() const { return failed_; }

  private:
    bool failed_ = false;
};

// Every answer head seen, for the head size and Content-Length lines.
struct HeadStats {
    int largest = 0; // of the heads the engine read whole
    std::string largestUrl;
    int tooLong = 0;
    std::string firstTooLong;
    int answers = 0;
    int accepted = 0;
    int withoutLength = 0;
    std::string firstWithoutLength;

    void Record(const HeadAnswer& answer, const std::string& url);
};

void ReportHeads(const HeadStats& heads, Report& report);

} // namespace publish
