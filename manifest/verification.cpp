#include "manifest/verification.h"

#include "app/installer_state.h"
#include "manifest/digest_text.h"
#include "manifest/install_path.h"
#include "manifest/md5.h"
#include "net/download_worker.h"
#include "net/engine_settings.h"
#include "platform/platform.h"
#include "support/log.h"
#include "support/paths.h"
#include "support/progress.h"

#include <algorithm>

namespace {

constexpr unsigned kPollMs = 50;

bool IsFile(const std::string& path) {
    return platform::QueryPath(path) == platform::PathKind::File;
}

bool IsArchiverEntry(const FileEntry& entry) {
    std::size_t folder = strInstallDir.size() + 1;
    return entry.strTargetPath.size() > folder &&
           entry.strTargetPath.compare(0, strInstallDir.size(), strInstallDir) == 0 &&
           IsArchiverPath(entry.strTargetPath.substr(folder));
}

} // namespace

void VerifyInstalledFiles() {
    InstallerState& state = GetInstallerState();
    GetProgress().SetStep(ProgressStep::Checking);
    int checked = 0;
    for (FileEntry& entry : state.fileEntries) {
        GetProgress().SetCount(++checked, static_cast<int>(state.fileEntries.size()));
        if (!IsFile(entry.strTargetPath)) {
            WriteLog(FormatString("文件不存在,%s,", entry.strTargetPath.c_str()));
            state.pendingEntries.push_back(&entry);
            continue;
        }
        std::string local = FileMd5(entry.strTargetPath);
        if (!SameDigest(local, entry.strManifestMd5)) {
            WriteLog(FormatString("MD5不一致,local:%s,manifest:%s", local.c_str(),
                                  entry.strManifestMd5.c_str()));
            state.pendingEntries.push_back(&entry);
        }
    }
    // A packed entry is unpacked by the archiver that the manifest itself delivers: the
    // archiver's own entries are installed first, wherever the manifest lists them.
    std::stable_partition(state.pendingEntries.begin(), state.pendingEntries.end(),
                          [](const FileEntry* entry) { return IsArchiverEntry(*entry); });
}

void DownloadPendingFiles() {
    InstallerState& state = GetInstallerState();
    // Copies that an earlier run left in the incoming folder are taken before anything is
    // fetched; the object's name is its digest, so a matching copy is the object.
    for (FileEntry* entry : state.pendingEntries) {
        if (IsFile(entry->strIncomingPath) &&
            SameDigest(FileMd5(entry->strIncomingPath), entry->strObjectMd5))
            entry->Finish(true);
    }
    GetProgress().PlanDownloads(static_cast<int>(std::count_if(
        state.pendingEntries.begin(), state.pendingEntries.end(), [](const FileEntry* entry) {
            return !entry->IsFinished() || !entry->bOk.load(std::memory_order_relaxed);
        })));
    GetProgress().SetStep(ProgressStep::Downloading);
    // One download at a time: the engine keeps process-wide values.
    for (FileEntry* entry : state.pendingEntries) {
        if (entry->IsFinished() && entry->bOk.load(std::memory_order_relaxed))
            continue;
        GetProgress().StartFile(PathComponents(entry->strTargetPath).back(),
                                entry->strIncomingPath);
        StartDownloadWorker(*entry);
        while (!entry->IsFinished())
            platform::SleepMs(kPollMs);
        if (entry->bOk.load(std::memory_order_relaxed))
            platform::SleepMs(static_cast<unsigned>(GetEngineSettings().afterDownloadPauseMs));
        GetProgress().FileDownloaded();
    }
}
