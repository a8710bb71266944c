#pragma once
// One progress line on standard error for long runs: redrawn in place on a terminal, a new line
// every few seconds otherwise (so logs of build machines stay short).

#include <chrono>
#include <cstdint>
#include <string>

namespace publish {

class Progress {
  public:
    explicit Progress(bool enabled);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void Update(const char* phase, std::size_t doneFiles, std::size_t totalFiles,
                std::uintmax_t doneBytes, std::uintmax_t totalBytes);
    // Clears a line drawn in place, before other output follows.
    void Finish();

  private:
    bool enabled_;
    bool terminal_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point last_;
};

} // namespace publish
