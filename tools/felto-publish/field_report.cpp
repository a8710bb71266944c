#include "field_report.h"

#include "access_log.h"
#include "options.h"
#include "publish.h"
#include "support/error_messages.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

namespace publish {

namespace {

bool Number(const std::string& text, std::int64_t& value) {
    if (text.empty() || text.size() > 18)
        return false;
    std::size_t at = text[0] == '-' ? 1 : 0;
    if (at == text.size() || text.find_first_not_of("0123456789", at) != std::string::npos)
        return false;
    value = std::strtoll(text.c_str(), nullptr, 10);
    return true;
}

bool VersionText(const std::string& text) {
    return !text.empty() && text.size() <= 32 &&
           text.find_first_not_of("0123456789.") == std::string::npos;
}

bool ValidDate(const std::string& date) {
    return date.size() == 10 && date[4] == '-' && date[7] == '-' &&
           std::all_of(date.begin(), date.end(), [](char c) {
               return c == '-' || std::isdigit(static_cast<unsigned char>(c));
           });
}

// Runs grouped by installer version and release.
using Key = std::pair<std::string, std::string>;

struct Summary {
    std::int64_t runs = 0, successes = 0;
    std::int64_t secsMedian = 0, secsP90 = 0, bytesMedian = 0, bytesP90 = 0;
};

Summary Summarise(const std::vector<const FieldRun*>& runs) {
    Summary summary;
    std::vector<std::int64_t> secs, bytes;
    for (const FieldRun* run : runs) {
        ++summary.runs;
        summary.successes += run->code == 0;
        secs.push_back(run->seconds);
        bytes.push_back(run->bytes);
    }
    summary.secsMedian = Percentile(secs, 50);
    summary.secsP90 = Percentile(secs, 90);
    summary.bytesMedian = Percentile(bytes, 50);
    summary.bytesP90 = Percentile(bytes, 90);
    return summary;
}

std::string Rate(const Summary& summary) {
    char text[16];
    std::snprintf(text, sizeof text, "%.1f%%",
                  summary.runs ? 100.0 * summary.successes / summary.runs : 0.0);
    return text;
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::string FailureName(int code, int extra) {
    return std::to_string(code) + " ext " + std::to_string(extra);
}

// gnuplot's single-quoted string: a quote is doubled.
std::string GnuplotString(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("''") : std::string(1, c);
    return quoted + "'";
}

// YYYY-MM-DD `days` days on.
std::string ShiftDays(const std::string& date, int days) {
    std::tm time = {};
    time.tm_year = std::atoi(date.substr(0, 4).c_str()) - 1900;
    time.tm_mon = std::atoi(date.substr(5, 2).c_str()) - 1;
    time.tm_mday = std::atoi(date.substr(8, 2).c_str()) + days;
    time.tm_hour = 12;
    const std::time_t shifted = ::timegm(&time);
    std::tm out = {};
    ::gmtime_r(&shifted, &out);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &out);
    return text;
}

// The daily success rate per release (installer versions together), drawn by gnuplot.
bool Plot(const std::vector<FieldRun>& runs, const std::string& png) {
    std::map<std::string, std::map<std::string, std::pair<int, int>>> daily; // release, date
    for (const FieldRun& run : runs) {
        auto& day = daily[run.release][run.date];
        ++day.first;
        day.second += run.code == 0;
    }
    char folderTemplate[] = "/tmp/felto-report-XXXXXX";
    if (!::mkdtemp(folderTemplate)) {
        std::fprintf(stderr, "felto-publish report: cannot make a temporary folder\n");
        return false;
    }
    const std::filesystem::path folder = folderTemplate;
    std::string plots;
    int index = 0;
    for (const auto& [release, days] : daily) {
        const std::filesystem::path data = folder / ("release-" + std::to_string(index++) + ".dat");
        std::ofstream out(data);
        for (const auto& [date, counts] : days)
            out << date << ' ' << 100.0 * counts.second / counts.first << '\n';
        plots += std::string(plots.empty() ? "" : ", ") + GnuplotString(data.string()) +
                 " using 1:2 with linespoints lw 2 pt 7 title " +
                 GnuplotString("release " + release);
    }
    // A day of room on both sides, so one day of reports is a point, not an empty range.
    std::string first = "9999-12-31", last = "0000-01-01";
    for (const FieldRun& run : runs) {
        first = std::min(first, run.date);
        last = std::max(last, run.date);
    }
    const std::filesystem::path script = folder / "plot.gp";
    {
        std::ofstream out(script);
        out << "set terminal png size 900,500\n"
            << "set output " << GnuplotString(png) << "\n"
            << "set title 'Installs that started the game, per day and release'\n"
            << "set xdata time\nset timefmt '%Y-%m-%d'\nset format x '%m-%d'\n"
            << "set ylabel 'success rate (%)'\nset yrange [0:105]\nset grid\n";
        if (!runs.empty())
            out << "set xrange ['" << ShiftDays(first, -1) << "':'" << ShiftDays(last, 1)
                << "']\nset xtics 86400\n";
        out << "set key bottom left\n"
            << "plot " << (plots.empty() ? "NaN notitle" : plots) << "\n";
    }
    bool ok = false;
    pid_t child = ::fork();
    if (child == 0) {
        ::execlp("gnuplot", "gnuplot", script.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    if (child > 0 && ::waitpid(child, &status, 0) == child)
        ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!ok)
        std::fprintf(stderr,
                     "felto-publish report: gnuplot did not draw %s (is gnuplot "
                     "installed? scripts/install-deps.sh installs it)\n",
                     png.c_str());
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return ok;
}

} // namespace

std::int64_t Percentile(std::vector<std::int64_t> values, int p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    std::size_t rank = (values.size() * static_cast<std::size_t>(p) + 99) / 100; // ceil
    return values[std::max<std::size_t>(rank, 1) - 1];
}

TargetKind ParseReportTarget(const std::string& target, const std::string& reportPath,
                             FieldRun& run) {
    const std::size_t question = target.find('?');
    const std::string path = target.substr(0, question);
    const std::string wanted = "/" + reportPath;
    if (path.size() < wanted.size() ||
        path.compare(path.size() - wanted.size(), wanted.size(), wanted) != 0)
        return TargetKind::Foreign;
    if (question == std::string::npos)
        return TargetKind::Malformed;
    std::map<std::string, std::string> fields;
    std::size_t at = question + 1;
    while (at <= target.size()) {
        std::size_t amp = target.find('&', at);
        if (amp == std::string::npos)
            amp = target.size();
        const std::string pair = target.substr(at, amp - at);
        const std::size_t eq = pair.find('=');
        if (eq == std::string::npos ||
            !fields.emplace(pair.substr(0, eq), pair.substr(eq + 1)).second)
            return TargetKind::Malformed;
        at = amp + 1;
    }
    std::int64_t version = 0, code = 0, extra = 0, x64 = 0, release = 0;
    if (!Number(fields["v"], version) || version != 1 || !Number(fields["result"], code) ||
        !Number(fields["ext"], extra) || !Number(fields["x64"], x64) || (x64 != 0 && x64 != 1) ||
        !Number(fields["release"], release) || release < 0 || !Number(fields["files"], run.files) ||
        !Number(fields["bytes"], run.bytes) || !Number(fields["secs"], run.seconds) ||
        !VersionText(fields["os"]) || !VersionText(fields["installer"]) || code < -2147483647 ||
        code > 2147483647 || extra < -2147483647 || extra > 2147483647)
        return TargetKind::Malformed;
    run.code = static_cast<int>(code);
    run.extra = static_cast<int>(extra);
    run.x64 = x64 == 1;
    run.os = fields["os"];
    run.installer = fields["installer"];
    run.release = fields["release"];
    return TargetKind::Report;
}

int Report(const ReportOptions& options) {
    std::vector<FieldRun> runs;
    std::int64_t malformed = 0, foreign = 0, older = 0;
    bool allRead = true;
    for (const std::string& log : options.logs) {
        std::string error;
        if (!ReadLogLines(
                log,
                [&](const std::string& line) {
                    AccessLine access;
                    FieldRun run;
                    if (!ParseCombinedLine(line, access)) {
                        ++malformed;
                        return;
                    }
                    switch (ParseReportTarget(access.target, options.reportPath, run)) {
                    case TargetKind::Foreign:
                        ++foreign;
                        return;
                    case TargetKind::Malformed:
                        ++malformed;
                        return;
                    case TargetKind::Report:
                        break;
                    }
                    if (!options.since.empty() && access.date < options.since) {
                        ++older;
                        return;
                    }
                    run.date = access.date;
                    runs.push_back(run);
                },
                error)) {
            std::fprintf(stderr, "felto-publish report: cannot read all of %s\n", error.c_str());
            allRead = false;
        }
    }

    std::map<Key, std::vector<const FieldRun*>> groups;
    for (const FieldRun& run : runs)
        groups[{run.installer, run.release}].push_back(&run);

    if (options.csv) {
        std::printf("installer,release,dimension,value,runs,successes,success_rate,secs_median,"
                    "secs_p90,bytes_median,bytes_p90,message\n");
        for (const auto& [key, members] : groups) {
            auto row = [&key = key](const std::string& dimension, const std::string& value,
                                    const std::vector<const FieldRun*>& subset,
                                    const std::string& message) {
                Summary s = Summarise(subset);
                std::printf("%s,%s,%s,%s,%lld,%lld,%.4f,%lld,%lld,%lld,%lld,%s\n",
                            CsvField(key.first).c_str(), CsvField(key.second).c_str(),
                            dimension.c_str(), CsvField(value).c_str(),
                            static_cast<long long>(s.runs), static_cast<long long>(s.successes),
                            s.runs ? static_cast<double>(s.successes) / s.runs : 0.0,
                            static_cast<long long>(s.secsMedian), static_cast<long long>(s.secsP90),
                            static_cast<long long>(s.bytesMedian),
                            static_cast<long long>(s.bytesP90), CsvField(message).c_str());
            };
            row("all", "", members, "");
            std::map<std::pair<int, int>, std::vector<const FieldRun*>> failures;
            std::map<std::string, std::vector<const FieldRun*>> systems;
            for (const FieldRun* run : members) {
                if (run->code != 0)
                    failures[{run->code, run->extra}].push_back(run);
                systems[run->os].push_back(run);
            }
            for (const auto& [failure, subset] : failures)
                row("failure", FailureName(failure.first, failure.second), subset,
                    ErrorMessage(failure.first));
            for (const auto& [os, subset] : systems)
                row("os", os, subset, "");
        }
    } else {
        std::printf("%-10s %-8s %6s %8s %12s %12s %14s %14s\n", "installer", "release", "runs",
                    "success", "secs median", "secs p90", "bytes median", "bytes p90");
        for (const auto& [key, members] : groups) {
            Summary s = Summarise(members);
            std::printf("%-10s %-8s %6lld %8s %12lld %12lld %14lld %14lld\n", key.first.c_str(),
                        key.second.c_str(), static_cast<long long>(s.runs), Rate(s).c_str(),
                        static_cast<long long>(s.secsMedian), static_cast<long long>(s.secsP90),
                        static_cast<long long>(s.bytesMedian), static_cast<long long>(s.bytesP90));
            std::map<std::pair<int, int>, std::int64_t> failures;
            std::map<std::string, std::vector<const FieldRun*>> systems;
            for (const FieldRun* run : members) {
                if (run->code != 0)
                    ++failures[{run->code, run->extra}];
                systems[run->os].push_back(run);
            }
            for (const auto& [failure, count] : failures)
                std::printf("    failed %6lld  code %d ext %d: %s\n", static_cast<long long>(count),
                            failure.first, failure.second, ErrorMessage(failure.first));
            for (const auto& [os, subset] : systems) {
                Summary system = Summarise(subset);
                std::printf("    Windows %-12s %6lld runs, %s success\n", os.c_str(),
                            static_cast<long long>(system.runs), Rate(system).c_str());
            }
        }
        std::printf("%lld report lines, %lld other requests, %lld malformed lines skipped",
                    static_cast<long long>(runs.size()), static_cast<long long>(foreign),
                    static_cast<long long>(malformed));
        if (!options.since.empty())
            std::printf(", %lld reports before %s", static_cast<long long>(older),
                        options.since.c_str());
        std::printf("\n");
    }
    bool plotted = options.plot.empty() || Plot(runs, options.plot);
    return allRead && plotted ? kPublished : kFailed;
}

int ReportCommand(const std::vector<std::string>& args) {
    ReportOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--since" && hasValue) {
            options.since = args[++i];
            if (!ValidDate(options.since)) {
                std::fprintf(stderr,
                             "felto-publish report: --since takes a date YYYY-MM-DD, "
                             "not '%s'\n",
                             options.since.c_str());
                return kBadCommandLine;
            }
        } else if (arg == "--csv") {
            options.csv = true;
        } else if (arg == "--plot" && hasValue) {
            options.plot = args[++i];
        } else if (arg == "--path" && hasValue) {
            options.reportPath = args[++i];
        } else if (const auto status = OtherSubcommandWord("report", arg, false)) {
            return *status;
        } else {
            options.logs.push_back(arg);
        }
    }
    if (options.logs.empty()) {
        std::fprintf(stderr, "felto-publish report: no access log given\n%s", UsageText());
        return kBadCommandLine;
    }
    return Report(options);
}

} // namespace publish
