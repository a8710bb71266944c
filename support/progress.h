#pragma once
// What the run has done so far, for a progress window or a terminal line. The install worker
// and the download engine publish counts and bytes with plain atomic adds (several downloads may
// add at once); a reader on another thread takes a snapshot every 100 ms and turns it into what
// the player sees, so nothing on the download's path waits for the display.

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

enum class ProgressStep { Connecting, Checking, Downloading, Unpacking, Copying, Starting };

// One download's part of the byte counts, kept across its attempts: a new attempt, a part file
// thrown away or a server that sends the file again from its first byte replace what it counted
// before instead of adding to it.
struct ProgressShare {
    std::atomic<std::int64_t> onDisk{0};
    std::atomic<std::int64_t> size{0};
    std::atomic<bool> sized{false};
};

class ProgressModel {
  public:
    // The install worker's steps.
    void SetStep(ProgressStep step);
    void SetCount(int done, int total); // checking or copying: n of m
    void SetName(const std::string& name);
    // A download into `file` begins, shown as `name`. What earlier downloads into the same file
    // counted stays counted (two entries may share one object): this one counts on its own.
    void StartFile(const std::string& name, const std::string& file);
    // The downloads of the run start: `files` to fetch, sizes not known yet. Byte counts start
    // from zero; what the manifest's own download counted is not part of them.
    void PlanDownloads(int files);
    // What the manifest lists of the planned downloads: `files` of them sized, `bytes` in all. The
    // display shows these from the start; the engine's own sizes only add what it learns beyond.
    void ExpectSizes(int files, std::int64_t bytes);
    void FileDownloaded();
    // A failed attempt waits until this point of the steady clock (milliseconds).
    void RetryAt(std::int64_t steadyMs);

    // The download engine's side. The share lives as long as the model.
    ProgressShare& ShareFor(const std::string& file);
    void Sized(ProgressShare& share, std::int64_t size);
    void OnDisk(ProgressShare& share, std::int64_t bytes); // when no bytes of it are arriving
    void Add(ProgressShare& share, std::int64_t bytes);    // the hot path: two relaxed adds

    struct Snapshot {
        ProgressStep step = ProgressStep::Connecting;
        int done = 0, total = 0;           // checking or copying
        int filesDone = 0, filesTotal = 0; // downloads
        int filesSized = 0;
        std::int64_t bytesDone = 0, bytesKnown = 0; // on disk, and the sizes known so far
        std::int64_t retryAtMs = 0;
        std::string name;
    };
    Snapshot Read() const;

  private:
    std::atomic<int> step_{0};
    std::atomic<int> done_{0}, total_{0};
    std::atomic<int> filesDone_{0}, filesTotal_{0}, filesSized_{0};
    std::atomic<std::int64_t> bytesDone_{0}, bytesKnown_{0};
    std::atomic<int> filesListed_{0};
    std::atomic<std::int64_t> bytesListed_{0};
    std::atomic<std::int64_t> retryAtMs_{0};
    mutable std::mutex mutex_; // the name and the map of shares, never the byte counts
    std::string name_;
    std::map<std::string, std::unique_ptr<ProgressShare>> shares_;
};

// The run's one model.
ProgressModel& GetProgress();
// Milliseconds of the steady clock, the time base of RetryAt and the reader.
std::int64_t SteadyMs();

// What the player is shown, worked out from snapshots by the one thread that draws it.
struct ProgressView {
    ProgressStep step = ProgressStep::Connecting;
    int done = 0, total = 0;
    int filesDone = 0, filesTotal = 0;
    std::int64_t bytesDone = 0, bytesTotal = 0; // bytesTotal 0: no size known yet
    bool bytesEstimated = false;                // some sizes are still guessed
    int permille = -1;                          // -1: no measure yet (a moving bar)
    std::int64_t bytesPerSecond = 0;
    int etaSeconds = -1;  // -1: not known
    int retrySeconds = 0; // > 0: a failed attempt is repeated in that many seconds
    std::string name;
};

class ProgressReader {
  public:
    ProgressView Look(const ProgressModel::Snapshot& snapshot, std::int64_t nowMs);

  private:
    struct Sample {
        std::int64_t ms, bytes;
    };
    ProgressStep shownStep_ = ProgressStep::Connecting;
    int shownPermille_ = -1;
    std::int64_t shownBytes_ = 0;
    std::int64_t lastBytes_ = 0; // bytesDone at the last look
    std::deque<Sample> samples_;
};
