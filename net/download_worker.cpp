#include "net/download_worker.h"

#include "net/engine_settings.h"
#include "net/file_entry.h"
#include "net/http_get.h"
#include "support/log.h"
#include "support/progress.h"

namespace {
constexpr int kAttempts = 3;
constexpr unsigned kPollMs = 50;
} // namespace

unsigned DownloadWorker(void* arg) {
    FileEntry& entry = *static_cast<FileEntry*>(arg);
    entry.bOk.store(false, std::memory_order_relaxed);
    bool accepted = false;
    for (int attempt = 1;; ++attempt) {
        entry.nState.store(1, std::memory_order_relaxed);
        std::string url = strServerUrl + "/" + entry.strUrl;
        if (HttpDownload(url, entry.strIncomingPath, entry.nFileSize, entry.nReceived, 1)) {
            if (!entry.checkFun) {
                WriteLog(FormatString("checkFun = null,%s,%s", entry.strTargetPath.c_str(),
                                      entry.strObjectMd5.c_str()));
                accepted = true;
            } else {
                accepted = entry.checkFun(entry);
            }
        }
        if (accepted || attempt == kAttempts)
            break;
        GetProgress().RetryAt(SteadyMs() + GetEngineSettings().retryPauseMs);
        platform::SleepMs(static_cast<unsigned>(GetEngineSettings().retryPauseMs));
        WriteLog(FormatString("下载重试，%s,%s", entry.strTargetPath.c_str(),
                              entry.strObjectMd5.c_str()));
    }
    entry.Finish(accepted);
    return 0;
}

void StartDownloadWorker(FileEntry& entry) {
    if (!platform::StartDetachedThread(DownloadWorker, &entry)) {
        WriteLog(FormatString("CreateThread faild! %s", entry.strTargetPath.c_str()));
        entry.Finish(false);
    }
}

void WaitForDownload(const FileEntry& entry) {
    while (!entry.IsFinished())
        platform::SleepMs(kPollMs);
}
