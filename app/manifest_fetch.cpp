#include "app/manifest_fetch.h"

#include "app/installer_state.h"
#include "app/messages.h"
#include "manifest/manifest_file.h"
#include "net/download_worker.h"
#include "net/part_files.h"
#include "platform/platform.h"
#include "support/log.h"
#include "support/os_description.h"

#include <cstdio>

bool ProbeOperatingSystem() {
    char text[512] = {};
    bool is64 = false;
    if (!DescribeOperatingSystem(text, is64))
        WriteLog("获取操作系统版本信息失败!");
    WriteLog(FormatString("64bit:%d, system info:%s", is64 ? 1 : 0, text));
    return is64;
}

void StartManifestDownload() {
    bool is64 = ProbeOperatingSystem();
    std::string url = is64 ? strManifestUrlX64 : strManifestUrl;
    WriteLog(url);

    InstallerState& state = GetInstallerState();
    state.manifestEntry = std::make_unique<FileEntry>(MakeFileEntry(url, strInstallDir));
    FileEntry& entry = *state.manifestEntry;
    entry.checkFun = CheckSizeHeader;

    StartFreshDownload(entry);
}

void ReadManifest() {
    InstallerState& state = GetInstallerState();
    // The pending list points into the file list, which is about to be refilled.
    state.pendingEntries.clear();
    state.fileEntries.clear();
    if (!state.manifestEntry)
        FailWith(107);
    int code =
        ReadManifestFile(state.manifestEntry->strTargetPath, strInstallDir, state.fileEntries);
    if (code != 0)
        FailWith(code);
}

void StartFreshDownload(FileEntry& entry) {
    if (platform::QueryPath(entry.strIncomingPath) == platform::PathKind::File &&
        std::remove(entry.strIncomingPath.c_str()) != 0) {
        WriteLogErrno("call remove faild!");
        FailWith(103);
    }
    // The manifest's name does not change with its content, so part files that an interrupted
    // run left may belong to another version of it: never resume from them.
    for (int part = 0; part < kInstallerPartFiles; ++part) {
        std::string partFile = PartFileName(entry.strIncomingPath, part);
        if (platform::QueryPath(partFile) == platform::PathKind::File)
            platform::RemoveFile(partFile);
    }
    StartDownloadWorker(entry);
}
