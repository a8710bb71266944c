#include "app/field_report.h"

#include "app/installer_state.h"
#include "net/engine_settings.h"
#include "net/report_request.h"
#include "net/server_list.h"
#include "platform/platform.h"
#include "support/log.h"
#include "support/os_description.h"
#include "support/progress.h"

#include <atomic>

namespace {

// The run's clock starts with the program.
const std::int64_t g_startMs = SteadyMs();
std::atomic<std::uint64_t> g_release{0};
std::atomic<bool> g_sent{false};
// Shared with the thread that sends; never freed, since that thread may outlive the wait.
struct PendingReport {
    std::string base;
    std::string target;
    int limitMs = 0;
    std::atomic<int> status{0};
    std::atomic<bool> done{false};
    platform::WakeEvent finished;
};

unsigned SendOnItsOwnThread(void* arg) {
    PendingReport& report = *static_cast<PendingReport*>(arg);
    report.status.store(SendReportRequest(report.base, report.target, report.limitMs));
    report.done.store(true, std::memory_order_release);
    platform::RaiseWakeEvent(report.finished);
    return 0;
}

} // namespace

void NoteReleaseForReport(std::uint64_t release) {
    g_release.store(release);
}

std::string ReportTarget(const std::string& path, const ReportFacts& facts) {
    return FormatString("/%s?v=1&result=%d&ext=%d&os=%s&x64=%d&installer=%s&release=%llu&files=%"
                        "lld&bytes=%lld&secs=%lld",
                        path.c_str(), facts.code, facts.extra, facts.os.c_str(), facts.x64 ? 1 : 0,
                        facts.installer.c_str(), static_cast<unsigned long long>(facts.release),
                        static_cast<long long>(facts.files), static_cast<long long>(facts.bytes),
                        static_cast<long long>(facts.seconds));
}

std::string OsVersionNumbers() {
    unsigned major = 0, minor = 0, build = 0;
    if (!platform::ReadOsVersionNumbers(major, minor, build))
        return "0.0.0";
    return FormatString("%u.%u.%u", major, minor, build);
}

void SendFieldReport(int code, int extra) {
    const EngineSettings& settings = GetEngineSettings();
    if (settings.reportPath.empty() || g_sent.exchange(true))
        return;
    ReportFacts facts;
    facts.code = code;
    facts.extra = extra;
    facts.os = OsVersionNumbers();
    char description[512] = {};
    DescribeOperatingSystem(description, facts.x64);
    facts.installer = settings.installerVersion;
    facts.release = g_release.load();
    const ProgressModel::Snapshot progress = GetProgress().Read();
    // The listed files' downloads only: before they are planned, the counts are the manifest's.
    facts.files = progress.filesTotal > 0 ? progress.filesDone : 0;
    facts.bytes = progress.filesTotal > 0 ? progress.bytesDone : 0;
    facts.seconds = (SteadyMs() - g_startMs) / 1000;

    // The server that served the manifest; before there is one, the first.
    const FileEntry* manifest = GetInstallerState().manifestEntry.get();
    const int served = manifest && manifest->IsFinished() ? manifest->nServedBy : -1;
    // One report a run (g_sent); held by a function-local static, so that it stays reachable for
    // the process's life: the sending thread may outlive the wait.
    static PendingReport* const report = new PendingReport;
    report->base = ServerBase(served > 0 ? static_cast<std::size_t>(served) : 0u);
    report->target = ReportTarget(settings.reportPath, facts);
    report->limitMs = settings.reportLimitMs;
    const std::string sent = report->base + report->target;
    if (!platform::OpenWakeEvent(report->finished) ||
        !platform::StartDetachedThread(SendOnItsOwnThread, report)) {
        WriteLog("report not sent: " + sent);
        return;
    }
    const std::int64_t deadline = SteadyMs() + settings.reportLimitMs;
    for (std::int64_t now = SteadyMs();
         !report->done.load(std::memory_order_acquire) && now < deadline; now = SteadyMs())
        platform::WaitWakeEvent(report->finished, static_cast<unsigned>(deadline - now));
    if (!report->done.load(std::memory_order_acquire))
        WriteLog(FormatString("report %s: no answer within %d ms", sent.c_str(),
                              settings.reportLimitMs));
    else if (report->status.load() == 0)
        WriteLog("report " + sent + ": no answer");
    else
        WriteLog(FormatString("report %s: answered %d", sent.c_str(), report->status.load()));
}
