#include "manifest/verification.h"

#include "manifest/chunked_update.h"
#include "manifest/digest_text.h"
#include "manifest/install_path.h"
#include "manifest/md5.h"
#include "net/download_space.h"
#include "net/download_worker.h"
#include "net/engine_settings.h"
#include "platform/platform.h"
#include "support/log.h"
#include "support/paths.h"
#include "support/progress.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <iterator>
#include <set>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Fetched and accepted already: by an earlier run's copy, the chunk path or a download.
bool AlreadyFetched(const FileEntry* entry) {
    return entry->IsFinished() && entry->bOk.load(std::memory_order_relaxed);
}

bool IsFile(const std::string& path) {
    return platform::QueryPath(path) == platform::PathKind::File;
}

// An object being fetched, and when its place is free for the next: at once after a failure,
// after the pause that follows a successful download.
struct Running {
    FileEntry* entry;
    bool finished;
    Clock::time_point freeAt;
};

// Up to `parallel` objects at a time, started in list order; each keeps its own attempts and its
// own pause. Two entries of one object share its download and part files, so the second waits
// until the first is done.
void DownloadSeveralAtOnce(const std::vector<FileEntry*>& pending, int parallel) {
    const auto pause = std::chrono::milliseconds(GetEngineSettings().afterDownloadPauseMs);
    std::vector<Running> running;
    std::size_t next = 0;
    for (;;) {
        Clock::time_point now = Clock::now();
        for (Running& slot : running) {
            if (!slot.finished && slot.entry->IsFinished()) {
                slot.finished = true;
                bool ok = slot.entry->bOk.load(std::memory_order_relaxed);
                slot.freeAt = ok ? now + pause : now;
            }
        }
        auto done = std::remove_if(running.begin(), running.end(), [now](const Running& slot) {
            return slot.finished && slot.freeAt <= now;
        });
        for (auto slot = done; slot != running.end(); ++slot)
            GetProgress().FileDownloaded();
        running.erase(done, running.end());
        for (; next < pending.size() && static_cast<int>(running.size()) < parallel; ++next) {
            FileEntry* entry = pending[next];
            if (AlreadyFetched(entry))
                continue;
            bool sameObject =
                std::any_of(running.begin(), running.end(), [entry](const Running& slot) {
                    return slot.entry->strIncomingPath == entry->strIncomingPath;
                });
            if (sameObject)
                break;
            GetProgress().StartFile(PathComponents(entry->strTargetPath).back(),
                                    entry->strIncomingPath);
            StartDownloadWorker(*entry);
            running.push_back({entry, false, Clock::time_point()});
        }
        if (running.empty() && next == pending.size())
            return;
        // Until a download finishes or the first pause is over.
        auto wait = std::chrono::milliseconds(50);
        for (const Running& slot : running)
            if (slot.finished)
                wait = std::min(
                    wait, std::chrono::duration_cast<std::chrono::milliseconds>(slot.freeAt - now));
        WaitForDownloadNews(static_cast<unsigned>(std::max<long long>(wait.count(), 1)));
    }
}

// Files the earlier release installed with the entry's digest elsewhere: a file that moved.
std::vector<std::string> EarlierCopies(const FileEntry& entry,
                                       const std::vector<FileEntry>& earlier) {
    std::vector<std::string> copies;
    for (const FileEntry& old : earlier) {
        if (SameDigest(old.strManifestMd5, entry.strManifestMd5) &&
            old.strTargetPath != entry.strTargetPath && IsFile(old.strTargetPath))
            copies.push_back(old.strTargetPath);
    }
    return copies;
}

// Entries with a chunk list take what their installed copies hold and fetch the rest; those it
// fails for are left to the whole object's download.
void UpdateByChunks(const std::vector<FileEntry*>& pending, const std::vector<FileEntry>& earlier) {
    std::set<std::string> assembled; // two entries of one object need it assembled once
    for (FileEntry* entry : pending) {
        if (AlreadyFetched(entry) || entry->strChunkListUrl.empty())
            continue;
        if (assembled.count(entry->strIncomingPath)) {
            entry->Finish(true);
        } else if (FetchByChunks(*entry, EarlierCopies(*entry, earlier))) {
            assembled.insert(entry->strIncomingPath);
        } else {
            continue;
        }
        GetProgress().FileDownloaded();
    }
}

} // namespace

void VerifyInstalledFiles(std::vector<FileEntry>& entries, std::vector<FileEntry*>& pending) {
    GetProgress().SetStep(ProgressStep::Checking);
    int checked = 0;
    for (FileEntry& entry : entries) {
        GetProgress().SetCount(++checked, static_cast<int>(entries.size()));
        if (!IsFile(entry.strTargetPath)) {
            WriteLog(FormatString("文件不存在,%s,", entry.strTargetPath.c_str()));
            pending.push_back(&entry);
            continue;
        }
        std::string local = FileMd5(entry.strTargetPath);
        if (!SameDigest(local, entry.strManifestMd5)) {
            WriteLog(FormatString("MD5不一致,local:%s,manifest:%s", local.c_str(),
                                  entry.strManifestMd5.c_str()));
            pending.push_back(&entry);
        }
    }
    // A packed entry is unpacked by the archiver that the manifest itself delivers: the
    // archiver's own entries are installed first, wherever the manifest lists them.
    std::stable_partition(pending.begin(), pending.end(), [&](const FileEntry* entry) {
        return IsArchiverPath(entry->strRelativePath);
    });
}

void DownloadPendingFiles(const std::vector<FileEntry*>& pending,
                          const std::vector<FileEntry>& earlier) {
    // Copies that an earlier run left in the incoming folder are taken before anything is
    // fetched; the object's name is its digest, so a matching copy is the object.
    for (FileEntry* entry : pending) {
        if (IsFile(entry->strIncomingPath) &&
            SameDigest(FileMd5(entry->strIncomingPath), entry->strObjectMd5))
            entry->Finish(true);
    }
    GetProgress().PlanDownloads(static_cast<int>(
        std::count_if(pending.begin(), pending.end(), std::not_fn(AlreadyFetched))));
    GetProgress().SetStep(ProgressStep::Downloading);
    if (GetEngineSettings().chunkedUpdates)
        UpdateByChunks(pending, earlier);
    std::vector<FileEntry*> fetched;
    std::copy_if(pending.begin(), pending.end(), std::back_inserter(fetched),
                 std::not_fn(AlreadyFetched));
    // Sizes the manifest lists are shown from the start, in every build: nothing is asked for them.
    int listed = 0;
    std::int64_t listedBytes = 0;
    for (const FileEntry* entry : fetched) {
        if (entry->nListedSize >= 0) {
            ++listed;
            listedBytes += entry->nListedSize;
        }
    }
    GetProgress().ExpectSizes(listed, listedBytes);
    // What the manifest sizes is known to fit before the first byte, or nothing is fetched.
    if (GetEngineSettings().leanTransfer && !RoomForRun(fetched)) {
        for (FileEntry* entry : fetched)
            entry->Finish(false);
        return;
    }
    const int parallel = GetEngineSettings().parallelDownloads;
    if (parallel > 1) {
        DownloadSeveralAtOnce(pending, parallel);
        return;
    }
    for (FileEntry* entry : pending) {
        if (AlreadyFetched(entry))
            continue;
        GetProgress().StartFile(PathComponents(entry->strTargetPath).back(),
                                entry->strIncomingPath);
        StartDownloadWorker(*entry);
        WaitForDownload(*entry);
        if (entry->bOk.load(std::memory_order_relaxed))
            platform::SleepMs(static_cast<unsigned>(GetEngineSettings().afterDownloadPauseMs));
        GetProgress().FileDownloaded();
    }
}
