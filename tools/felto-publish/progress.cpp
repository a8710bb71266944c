#include "progress.h"

#include <cstdio>
#include <unistd.h>

namespace publish {

namespace {
double Mebibytes(std::uintmax_t bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}
} // namespace

Progress::Progress(bool enabled)
    : enabled_(enabled), terminal_(::isatty(STDERR_FILENO) == 1),
      start_(std::chrono::steady_clock::now()), last_(start_) {}

Progress::~Progress() {
    Finish();
}

void Progress::Update(const char* phase, std::size_t doneFiles, std::size_t totalFiles,
                      std::uintmax_t doneBytes, std::uintmax_t totalBytes) {
    if (!enabled_)
        return;
    const auto now = std::chrono::steady_clock::now();
    const auto interval = terminal_ ? std::chrono::milliseconds(200) : std::chrono::seconds(5);
    // Short runs print nothing at all.
    if (now - last_ < interval || now - start_ < std::chrono::seconds(1))
        return;
    last_ = now;
    std::fprintf(stderr, "%sfelto-publish: %s %zu/%zu files, %.1f of %.1f MiB%s",
                 terminal_ ? "\r" : "", phase, doneFiles, totalFiles, Mebibytes(doneBytes),
                 Mebibytes(totalBytes), terminal_ ? "\033[K" : "\n");
    std::fflush(stderr);
    drawn_ = terminal_;
}

void Progress::Finish() {
    if (drawn_)
        std::fputs("\r\033[K", stderr);
    drawn_ = false;
}

} // namespace publish
