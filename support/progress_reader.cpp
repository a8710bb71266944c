#include "support/progress.h"

#include <algorithm>

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

ProgressView ProgressReader::Look(const ProgressModel::Snapshot& snapshot, std::int64_t nowMs) {
    // The bar of one step never goes back; the next step starts its own bar.
    if (BarOf(snapshot.step) != BarOf(shownStep_)) {
        shownPermille_ = -1;
        shownBytes_ = 0;
        lastBytes_ = 0;
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
        // total grows or shrinks as their sizes come in.
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
        // A bar ahead of the bytes (a larger file than guessed) is not held still: what arrives
        // moves it over what is left of it as over what is left to fetch, so it still ends full.
        if (permille >= 0 && permille < shownPermille_ && shownPermille_ < 999 &&
            snapshot.bytesDone > lastBytes_ && total > lastBytes_)
            permille = std::min<int>(999, shownPermille_ +
                                              static_cast<int>((999 - shownPermille_) *
                                                               (snapshot.bytesDone - lastBytes_) /
                                                               (total - lastBytes_)));
        lastBytes_ = snapshot.bytesDone;

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
            view.etaSeconds =
                static_cast<int>(std::max<std::int64_t>(0, view.bytesTotal - snapshot.bytesDone) /
                                 view.bytesPerSecond);
        shownBytes_ = std::max(shownBytes_, snapshot.bytesDone);
        view.bytesDone = shownBytes_;
    } else if (snapshot.step != ProgressStep::Connecting &&
               snapshot.step != ProgressStep::Starting && snapshot.total > 0) {
        permille =
            static_cast<int>(static_cast<std::int64_t>(snapshot.done) * 1000 / snapshot.total);
    }
    if (permille >= 0 || shownPermille_ >= 0)
        shownPermille_ = std::max(shownPermille_, permille);
    view.permille = shownPermille_;
    return view;
}
