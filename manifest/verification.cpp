#include "manifest/verification.h"

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

bool IsFile(const std::string& path) {
    return platform::QueryPath(path) == platform::PathKind::File;
}

bool IsArchiverEntry(const std::string& installDir, const FileEntry& entry) {
    std::size_t folder = installDir.size() + 1;
    return entry.strTargetPath.size() > folder &&
           entry.strTargetPath.compare(0, installDir.size(), installDir) == 0 &&
           IsArchiverPath(entry.strTargetPath.substr(folder));
}

} // namespace

void VerifyInstalledFiles(const std::string& installDir, std::vector<FileEntry>& entries,
                          std::vector<FileEntry*>& pending) {
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
        return IsArchiverEntry(installDir, *entry);
    });
}

void DownloadPendingFiles(const std::vector<FileEntry*>& pending) {
    // Copies that an earlier run left in the incoming folder are taken before anything is
    // fetched; the object's name is its digest, so a matching copy is the object.
    for (FileEntry* entry : pending) {
        if (IsFile(entry->strIncomingPath) &&
            SameDigest(FileMd5(entry->strIncomingPath), entry->strObjectMd5))
            entry->Finish(true);
    }
    GetProgress().PlanDownloads(
        static_cast<int>(std::count_if(pending.begin(), pending.end(), [](const FileEntry* entry) {
            return !entry->IsFinished() || !entry->bOk.load(std::memory_order_relaxed);
        })));
    GetProgress().SetStep(ProgressStep::Downloading);
    // One download at a time: the engine keeps process-wide values.
    for (FileEntry* entry : pending) {
        if (entry->IsFinished() && entry->bOk.load(std::memory_order_relaxed))
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
