#include "support/progress.h"

#include <algorithm>

#include <chrono>

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

void ProgressModel::StartFile(const std::string& name, const std::string& file) {
    std::lock_guard<std::mutex> lock(mutex_);
    name_ = name;
    auto share = shares_.find(file);
    if (share == shares_.end())
        return;
    share->second->onDisk.store(0, std::memory_order_relaxed);
    share->second->size.store(0, std::memory_order_relaxed);
    share->second->sized.store(false, std::memory_order_relaxed);
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
    filesListed_.store(0, std::memory_order_relaxed);
    bytesListed_.store(0, std::memory_order_relaxed);
    filesDone_.store(0, std::memory_order_relaxed);
    filesTotal_.store(files, std::memory_order_relaxed);
}

void ProgressModel::ExpectSizes(int files, std::int64_t bytes) {
    filesListed_.store(files, std::memory_order_relaxed);
    bytesListed_.store(bytes, std::memory_order_relaxed);
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
    snapshot.filesSized = std::max(filesSized_.load(std::memory_order_relaxed),
                                   filesListed_.load(std::memory_order_relaxed));
    snapshot.bytesDone = bytesDone_.load(std::memory_order_relaxed);
    snapshot.bytesKnown = std::max(bytesKnown_.load(std::memory_order_relaxed),
                                   bytesListed_.load(std::memory_order_relaxed));
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
