#include "manifest/verification.h"

#include "app/installer_state.h"
#include "manifest/md5.h"
#include "net/download_worker.h"
#include "net/engine_settings.h"
#include "platform/platform.h"
#include "support/log.h"

namespace {

constexpr unsigned kPollMs = 50;

bool IsFile(const std::string& path) {
    return platform::QueryPath(path) == platform::PathKind::File;
}

} // namespace

void VerifyInstalledFiles() {
    InstallerState& state = GetInstallerState();
    for (FileEntry& entry : state.fileEntries) {
        if (!IsFile(entry.strTargetPath)) {
            WriteLog(FormatString("文件不存在,%s,", entry.strTargetPath.c_str()));
            state.pendingEntries.push_back(&entry);
            continue;
        }
        std::string local = FileMd5(entry.strTargetPath);
        if (local != entry.strManifestMd5) {
            WriteLog(FormatString("MD5不一致,local:%s,manifest:%s", local.c_str(),
                                  entry.strManifestMd5.c_str()));
            state.pendingEntries.push_back(&entry);
        }
    }
}

void DownloadPendingFiles() {
    InstallerState& state = GetInstallerState();
    // Copies that an earlier run left in the incoming folder are taken before anything is
    // fetched; the object's name is its digest, so a matching copy is the object.
    for (FileEntry* entry : state.pendingEntries) {
        if (IsFile(entry->strIncomingPath) &&
            FileMd5(entry->strIncomingPath) == entry->strObjectMd5)
            entry->Finish(true);
    }
    // One download at a time: the engine keeps process-wide values.
    for (FileEntry* entry : state.pendingEntries) {
        if (entry->IsFinished() && entry->bOk.load(std::memory_order_relaxed))
            continue;
        StartDownloadWorker(*entry);
        while (!entry->IsFinished())
            platform::SleepMs(kPollMs);
        if (entry->bOk.load(std::memory_order_relaxed))
            platform::SleepMs(static_cast<unsigned>(GetEngineSettings().afterDownloadPauseMs));
    }
}
