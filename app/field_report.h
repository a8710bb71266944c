#pragma once
// The run's outcome reported to the studio in one GET (FELTO_REPORT_PATH; nothing when it is
// empty): to the server that served the manifest, once per run, never retried, never shown, and
// never holding the player up longer than the settings' limit. It names no person: the query
// holds the outcome, the system's version numbers, the installer's and the release's numbers,
// and what was fetched in how long.

#include <cstdint>
#include <string>

// The release number the signature named, for the report (0 when the manifest is unsigned).
void NoteReleaseForReport(std::uint64_t release);

// What the report asks for below the server: "/<path>?v=1&result=...&secs=...".
struct ReportFacts {
    int code = 0;
    int extra = 0;
    std::string os; // major.minor.build
    bool x64 = false;
    std::string installer;
    std::uint64_t release = 0;
    std::int64_t files = 0;
    std::int64_t bytes = 0;
    std::int64_t seconds = 0;
};
std::string ReportTarget(const std::string& path, const ReportFacts& facts);

// The system's version as "major.minor.build" (elsewhere than on Windows, the kernel's release
// numbers); "0.0.0" when it cannot be read.
std::string OsVersionNumbers();

// Sends the report of a run that ends with `code` (0: success) and `extra`, once; the second
// call and every call without a report path do nothing. Logs one line.
void SendFieldReport(int code, int extra);
