#include "net/download_worker.h"

#include "net/engine_settings.h"
#include "net/file_entry.h"
#include "net/http_get.h"
#include "net/lean_get.h"
#include "net/server_list.h"
#include "platform/platform.h"
#include "support/log.h"
#include "support/progress.h"

namespace {
constexpr int kAttempts = 3;
// Longest wait between two looks at a download.
constexpr unsigned kLookMs = 50;

// One download at a time is waited for by looking every 50 ms. With several in flight a finished
// worker also wakes its waiter at once, so that the next download starts without delay; a wake
// that is missed (two workers finishing together raise the event once) costs no more than a look.
bool WakeWaitersByEvent() {
    return GetEngineSettings().parallelDownloads > 1;
}

// Opened once and never closed: a worker may still raise it while the process ends.
platform::WakeEvent& FinishedEvent() {
    static platform::WakeEvent* event = [] {
        platform::WakeEvent* opened = new platform::WakeEvent;
        platform::OpenWakeEvent(*opened);
        return opened;
    }();
    return *event;
}

void Finish(FileEntry& entry, bool ok) {
    // Decided before the result is handed over: from then on the waiter goes on, and nothing of
    // the run's state may be read any more (a test may already have put other settings in place).
    const bool wake = WakeWaitersByEvent();
    entry.Finish(ok);
    if (wake)
        platform::RaiseWakeEvent(FinishedEvent());
}
} // namespace

unsigned DownloadWorker(void* arg) {
    FileEntry& entry = *static_cast<FileEntry*>(arg);
    entry.bOk.store(false, std::memory_order_relaxed);
    bool accepted = false;
    std::size_t server = entry.nPinnedServer >= 0 ? static_cast<std::size_t>(entry.nPinnedServer)
                                                  : PreferredServer();
    for (int attempt = 1;; ++attempt) {
        entry.nState.store(1, std::memory_order_relaxed);
        const std::string base = ServerBase(server);
        if (HasFallbackServers())
            WriteLog(FormatString("attempt %d of %s from %s", attempt, entry.strUrl.c_str(),
                                  base.c_str()));
        std::string url = base + "/" + entry.strUrl;
        const bool fetched =
            GetEngineSettings().leanTransfer
                ? LeanDownload(url, entry.strIncomingPath, entry.nListedSize, entry.nFileSize,
                               entry.nReceived)
                : HttpDownload(url, entry.strIncomingPath, entry.nFileSize, entry.nReceived, 1);
        if (fetched) {
            if (!entry.checkFun) {
                WriteLog(FormatString("checkFun = null,%s,%s", entry.strTargetPath.c_str(),
                                      entry.strObjectMd5.c_str()));
                accepted = true;
            } else {
                accepted = entry.checkFun(entry);
            }
        }
        if (accepted) {
            entry.nServedBy = static_cast<int>(server);
            if (entry.nPinnedServer < 0)
                ServerServed(server);
            break;
        }
        if (attempt == kAttempts)
            break;
        if (entry.nPinnedServer < 0)
            server = NextServer(server);
        GetProgress().RetryAt(SteadyMs() + GetEngineSettings().retryPauseMs);
        platform::SleepMs(static_cast<unsigned>(GetEngineSettings().retryPauseMs));
        WriteLog(FormatString("下载重试，%s,%s", entry.strTargetPath.c_str(),
                              entry.strObjectMd5.c_str()));
    }
    Finish(entry, accepted);
    return 0;
}

void StartDownloadWorker(FileEntry& entry) {
    if (!platform::StartDetachedThread(DownloadWorker, &entry)) {
        WriteLog(FormatString("CreateThread faild! %s", entry.strTargetPath.c_str()));
        Finish(entry, false);
    }
}

void WaitForDownloadNews(unsigned maxMs) {
    unsigned waitMs = maxMs < kLookMs ? maxMs : kLookMs;
    if (WakeWaitersByEvent())
        platform::WaitWakeEvent(FinishedEvent(), waitMs);
    else
        platform::SleepMs(waitMs);
}

void WaitForDownload(const FileEntry& entry) {
    while (!entry.IsFinished())
        WaitForDownloadNews(kLookMs);
}
