#include "platform/platform.h"

#include <cstdlib>
#include <unistd.h>

namespace platform {

namespace {

bool onTerminal = false;

// The shell's prompt, or a last message, goes on a line of its own.
void EndLine() {
    std::fputs("\n", stderr);
}

} // namespace

bool OpenProgressWindow(const std::string&, const std::string&) {
    // A pipe, a log file or a test reads the log; only a person at a terminal sees the line.
    onTerminal = ::isatty(STDERR_FILENO) == 1;
    if (onTerminal) {
        NoteProgressLineShown();
        std::atexit(EndLine);
    }
    return onTerminal;
}

void ShowProgress(const std::string& status, int permille) {
    if (!onTerminal)
        return;
    std::string line = "\r";
    if (permille >= 0)
        line += std::to_string(permille / 10) + "% ";
    line += status;
    line += "\x1b[K"; // clears what a longer line before left behind
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

bool RunProgressWindow(unsigned milliseconds) {
    SleepMs(milliseconds);
    return false;
}

bool AskYesNo(const std::string&, const std::string&) {
    return false;
}

} // namespace platform
