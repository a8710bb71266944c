#pragma once
// Room on the disk for downloads that run at the same time: each one counts what the others
// still have to write (what they announced, less what has arrived) before it starts.

#include "net/file_entry.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

class SpaceClaim {
  public:
    SpaceClaim() = default;
    ~SpaceClaim();
    SpaceClaim(const SpaceClaim&) = delete;
    SpaceClaim& operator=(const SpaceClaim&) = delete;

    // True when the volume of `path` has room for `needed` bytes beside what the downloads in
    // flight still need (or when its free space cannot be learnt: a full disk then fails the
    // download on writing); the claim then counts for the others until it is dropped. False
    // after a log line.
    bool Take(const std::string& path, std::int64_t needed,
              const std::atomic<std::int64_t>& received);

  private:
    bool taken_ = false;
    std::int64_t needed_ = 0;
    const std::atomic<std::int64_t>* received_ = nullptr;
    friend std::int64_t StillNeeded(const SpaceClaim& claim);
};

// The lean transfer's look before the first byte of a run: the objects that the manifest sizes,
// less what their part files already hold, must fit on the download folder's volume (the copy
// into place may still fall back to overwriting in place). True when they do, or when the free
// space cannot be learnt; false after a log line.
bool RoomForRun(const std::vector<FileEntry*>& entries);
