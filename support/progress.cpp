#include "support/progress.h"

#include <algorithm>
#include <chrono>

namespace {

// The speed is what arrived over the last few seconds: long enough to even out a bursty line,
// short enough to follow a change of speed.
constexpr std::int64_t kSpeedWindowMs = 3000;
constexpr std::int64_t kShortestSpeedSpanMs = 500;

// Steps that share one bar: unpacking a file and copying it count the same files.
int BarOf(ProgressStep step) {
    return step == ProgressStep::Unpacking ? static_cast<int>(ProgressStep::Copying)
                                           : static_cast<int>(step);
}

} // namespace

void ProgressModel::SetStep(ProgressStep step) {
    step_.store(static_cast<int>(step), std::memory_order_relaxed);
}

void ProgressModel::SetCount(int done, int total) {
    total_.store(total, std::memory_order_relaxed);
    done_.store(done, std::memory_order_relaxed);
}

void ProgressModel::SetName(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    name_ = name;
}

void ProgressModel::PlanDownloads(int files) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Shares stay where they are (an engine may still hold one); they only count from zero.
    for (auto& share : shares_) {
        share.second->onDisk.store(0, std::memory_order_relaxed);
        share.second->size.store(0, std::memory_order_relaxed);
        share.second->sized.store(false, std::memory_order_relaxed);
    }
    bytesDone_.store(0, std::memory_order_relaxed);
    bytesKnown_.store(0, std::memory_order_relaxed);
    filesSized_.store(0, std::memory_order_relaxed);
    filesDone_.store(0, std::memory_order_relaxed);
    filesTotal_.store(files, std::memory_order_relaxed);
}

void ProgressModel::FileDownloaded() {
    filesDone_.fetch_add(1, std::memory_order_relaxed);
}

void ProgressModel::RetryAt(std::int64_t steadyMs) {
    retryAtMs_.store(steadyMs, std::memory_order_relaxed);
}

ProgressShare& ProgressModel::ShareFor(const std::string& file) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::unique_ptr<ProgressShare>& share = shares_[file];
    if (!share)
        share = std::make_unique<ProgressShare>();
    return *share;
}

void ProgressModel::Sized(ProgressShare& share, std::int64_t size) {
    bytesKnown_.fetch_add(size - share.size.exchange(size), std::memory_order_relaxed);
    if (!share.sized.exchange(true))
        filesSized_.fetch_add(1, std::memory_order_relaxed);
}

void ProgressModel::OnDisk(ProgressShare& share, std::int64_t bytes) {
    bytesDone_.fetch_add(bytes - share.onDisk.exchange(bytes), std::memory_order_relaxed);
}

void ProgressModel::Add(ProgressShare& share, std::int64_t bytes) {
    share.onDisk.fetch_add(bytes, std::memory_order_relaxed);
    bytesDone_.fetch_add(bytes, std::memory_order_relaxed);
}

ProgressModel::Snapshot ProgressModel::Read() const {
    Snapshot snapshot;
    snapshot.step = static_cast<ProgressStep>(step_.load(std::memory_order_relaxed));
    snapshot.done = done_.load(std::memory_order_relaxed);
    snapshot.total = total_.load(std::memory_order_relaxed);
    snapshot.filesDone = filesDone_.load(std::memory_order_relaxed);
    snapshot.filesTotal = filesTotal_.load(std::memory_order_relaxed);
    snapshot.filesSized = filesSized_.load(std::memory_order_relaxed);
    snapshot.bytesDone = bytesDone_.load(std::memory_order_relaxed);
    snapshot.bytesKnown = bytesKnown_.load(std::memory_order_relaxed);
    snapshot.retryAtMs = retryAtMs_.load(std::memory_order_relaxed);
    std::lock_guard<std::mutex> lock(mutex_);
    snapshot.name = name_;
    return snapshot;
}

ProgressModel& GetProgress() {
    static ProgressModel model;
    return model;
}

std::int64_t SteadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

ProgressView ProgressReader::Look(const ProgressModel::Snapshot& snapshot, std::int64_t nowMs) {
    // The bar of one step never goes back; the next step starts its own bar.
    if (BarOf(snapshot.step) != BarOf(shownStep_)) {
        shownPermille_ = -1;
        shownBytes_ = 0;
        samples_.clear();
    }
    shownStep_ = snapshot.step;
    ProgressView view;
    view.step = snapshot.step;
    view.done = snapshot.done;
    view.total = snapshot.total;
    view.filesDone = snapshot.filesDone;
    view.filesTotal = snapshot.filesTotal;
    view.name = snapshot.name;
    if (snapshot.retryAtMs > nowMs)
        view.retrySeconds = static_cast<int>((snapshot.retryAtMs - nowMs + 999) / 1000);

    int permille = -1;
    if (snapshot.step == ProgressStep::Downloading) {
        // Files not sized yet are taken to be as large as the average of those that are; the
        // total grows or shrinks as their sizes come in, which is why the bar is held.
        int sized = std::min(snapshot.filesSized, snapshot.filesTotal);
        int unsized = snapshot.filesTotal - sized;
        std::int64_t total = snapshot.bytesKnown;
        if (sized > 0 && unsized > 0)
            total += snapshot.bytesKnown / sized * unsized;
        view.bytesTotal = sized > 0 ? total : 0;
        view.bytesEstimated = unsized > 0;
        if (snapshot.filesTotal > 0 && snapshot.filesDone >= snapshot.filesTotal)
            permille = 1000;
        else if (sized > 0 && total > 0)
            permille = static_cast<int>(std::min<std::int64_t>(
                999, std::max<std::int64_t>(0, snapshot.bytesDone) * 1000 / total));
        else if (sized > 0 && snapshot.filesTotal > 0)
            permille = snapshot.filesDone * 1000 / snapshot.filesTotal; // only empty files known

        // Speed over the window; bytes thrown away (a file sent again from its start) begin
        // the window afresh rather than counting as a negative speed.
        if (!samples_.empty() && snapshot.bytesDone < samples_.back().bytes)
            samples_.clear();
        samples_.push_back({nowMs, snapshot.bytesDone});
        while (samples_.size() > 2 && nowMs - samples_[1].ms >= kSpeedWindowMs)
            samples_.pop_front();
        std::int64_t span = nowMs - samples_.front().ms;
        if (span >= kShortestSpeedSpanMs)
            view.bytesPerSecond = (snapshot.bytesDone - samples_.front().bytes) * 1000 / span;
        if (view.bytesPerSecond > 0 && view.bytesTotal > 0)
            view.etaSeconds = static_cast<int>(
                std::max<std::int64_t>(0, view.bytesTotal - snapshot.bytesDone) /
                view.bytesPerSecond);
        shownBytes_ = std::max(shownBytes_, snapshot.bytesDone);
        view.bytesDone = shownBytes_;
    } else if (snapshot.step != ProgressStep::Connecting &&
               snapshot.step != ProgressStep::Starting && snapshot.total > 0) {
        permille = static_cast<int>(static_cast<std::int64_t>(snapshot.done) * 1000 / snapshot.total);
    }
    if (permille >= 0 || shownPermille_ >= 0)
        shownPermille_ = std::max(shownPermille_, permille);
    view.permille = shownPermille_;
    return view;
}
