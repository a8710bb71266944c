#pragma once
// felto-publish report: what the installers in the field reported (the GETs an installer built
// with FELTO_REPORT_PATH sends), read back from the servers' access logs.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace publish {

// One run as its report request says.
struct FieldRun {
    std::string date; // YYYY-MM-DD of the server's log
    int code = 0;     // 0: the game started
    int extra = 0;
    std::string os;
    bool x64 = false;
    std::string installer;
    std::string release;
    std::int64_t files = 0, bytes = 0, seconds = 0;
};

// The report in a request target ("/<path>?v=1&result=...") whose path ends with `reportPath`;
// false for any other request, or a report with a missing or malformed field.
enum class TargetKind { Report, Foreign, Malformed };
TargetKind ParseReportTarget(const std::string& target, const std::string& reportPath,
                             FieldRun& run);

struct ReportOptions {
    std::vector<std::string> logs;
    std::string since; // YYYY-MM-DD; empty: every line
    std::string reportPath = "microclient/report";
    bool csv = false;
    std::string plot; // PNG file to draw; empty: none
};

// Nearest-rank percentile (0 < p <= 100) of `values`; 0 for none.
std::int64_t Percentile(std::vector<std::int64_t> values, int p);

int Report(const ReportOptions& options);
// The command line after the word "report".
int ReportCommand(const std::vector<std::string>& args);

} // namespace publish
