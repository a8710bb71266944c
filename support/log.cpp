#include "support/log.h"

#include "platform/platform.h"

#include <cerrno>
#include <cstring>

namespace {

const char kErrnoHelp[] = "https://learn.microsoft.com/cpp/c-runtime-library/errno-constants";

std::string& LogPath() {
    static std::string path = "FeltoInstaller.log";
    return path;
}

std::FILE* g_logStream = nullptr;
LocalClock g_clock = nullptr;
bool g_copyToStandardError = true;

void CopyToStandardError(const std::string& entry) {
    if (g_copyToStandardError)
        WriteEntry(stderr, platform::StandardErrorLinePrefix() + entry);
}

} // namespace

void SetLogPath(const std::string& path) {
    LogPath() = path;
}
const std::string& GetLogPath() {
    return LogPath();
}

void StopCopyingLogToStandardError() {
    g_copyToStandardError = false;
}

void UseStandardErrorForLog() {
    if (!g_logStream)
        g_logStream = stderr;
}

void WriteEntry(std::FILE* stream, const std::string& entry) {
    std::fwrite(entry.data(), 1, entry.size(), stream);
    // An installer that is killed or crashes must still leave the story of its run behind.
    std::fflush(stream);
}

std::string GetTimeStamp() {
    std::tm now{};
    int error = 0;
    if (!(g_clock ? g_clock(now, error) : platform::LocalTimeNow(now, error))) {
        const char* fallback = "0000-00-00,00:00:00";
        std::string message = FormatString("get now error, errno:%d,see:%s", error, kErrnoHelp);
        // Like every entry: the message's own line end, then the entry's.
        std::string entry = FormatString("%s %s\n\n", fallback, message.c_str());
        std::FILE* log = GetLogStream();
        WriteEntry(log, entry);
        if (log != stderr)
            WriteEntry(stderr, entry);
        return fallback;
    }
    return FormatString("%d-%d-%d,%02d:%02d:%02d", now.tm_year + 1900, now.tm_mon + 1, now.tm_mday,
                        now.tm_hour, now.tm_min, now.tm_sec);
}

std::string MakeLogEntry(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string message = FormatStringV(format, args);
    va_end(args);
    std::string stamp = GetTimeStamp();
    std::string entry = FormatString("%s %s\n", stamp.c_str(), message.c_str());
    // A cut entry still ends its line, so the next one starts on a line of its own.
    if (entry.size() == kFormatBufferSize - 1)
        entry.back() = '\n';
    return entry;
}

std::FILE* GetLogStream() {
    if (g_logStream)
        return g_logStream;
    // Anything logged while opening goes to standard error.
    g_logStream = stderr;
    const std::string& path = LogPath();
    platform::PathKind kind = platform::QueryPath(path);
    if (kind != platform::PathKind::File || std::remove(path.c_str()) == 0) {
        std::FILE* file = platform::OpenShared(path, "w+");
        if (file) {
            g_logStream = file;
        } else {
            int error = errno;
            WriteLog(
                FormatString("create logfile handle faild! errno:%d, see:%s", error, kErrnoHelp));
        }
    } else {
        int error = errno;
        // The last run's log stays. This run's entries follow it under a line that says where
        // they start, so they are never read as the last run's; where it cannot even be added
        // to, they go to standard error alone.
        std::FILE* file = platform::OpenShared(path, "a");
        if (file) {
            g_logStream = file;
            WriteLog("==== A new run starts here: the log of the last run, above, could not be "
                     "removed ====");
        }
        errno = error;
        WriteLogErrno("call remove faild!");
        WriteLog("remove FeltoInstaller.log faild!");
    }
    return g_logStream;
}

// The copy for standard error is built afresh (a later time, the error number read again); a
// log that is standard error itself gets the entry once.
void WriteLog(const char* text) {
    std::FILE* log = GetLogStream();
    WriteEntry(log, MakeLogEntry("%s\n", text));
    if (log != stderr)
        CopyToStandardError(MakeLogEntry("%s\n", text));
}

void WriteLogErrno(const char* text) {
    int error = errno;
    std::FILE* log = GetLogStream();
    WriteEntry(log, MakeLogEntry("%s ,Error: %d\n", text, error));
    error = errno;
    if (log != stderr)
        CopyToStandardError(MakeLogEntry("%s ,Error: %d\n", text, error));
}

void WriteLogSocketError(const char* text) {
    int error = platform::LastSocketError();
    std::FILE* log = GetLogStream();
    WriteEntry(log, MakeLogEntry("%s ,Error: %d\n", text, error));
    error = platform::LastSocketError();
    if (log != stderr)
        CopyToStandardError(MakeLogEntry("%s ,Error: %d\n", text, error));
}

void SetClockForTesting(LocalClock clock) {
    g_clock = clock;
}

void ResetLogForTesting() {
    if (g_logStream && g_logStream != stderr)
        std::fclose(g_logStream);
    g_logStream = nullptr;
}
