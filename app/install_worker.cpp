#include "app/install_worker.h"

#include "app/game_start.h"
#include "app/incoming_cleanup.h"
#include "app/installer_state.h"
#include "app/manifest_fetch.h"
#include "app/messages.h"
#include "app/release_signature.h"
#include "manifest/digest_text.h"
#include "manifest/manifest_file.h"
#include "manifest/md5.h"
#include "manifest/verification.h"
#include "net/download_worker.h"
#include "net/engine_settings.h"
#include "net/incoming_folder.h"
#include "platform/platform.h"
#include "support/log.h"
#include "support/os_description.h"
#include "support/paths.h"
#include "support/progress.h"

#include <vector>

namespace {

constexpr unsigned kPollMs = 50;
constexpr int kSourceLooks = 3;
constexpr unsigned kSourceLookPauseMs = 500;
// How long an unpacked file that keeps growing may keep the archiver's output coming before the
// entry is given up: far beyond any real member, and still an end.
constexpr int kGrowingLooks = 1200; // x 500 ms

// Copying into place failed: the system's error number and text, then what was copied where.
void LogCopyFailure(const FileEntry& entry, const std::string& source) {
    int error = platform::LastError();
    WriteLog(FormatString("CopyFile ErrorCode:%d, ErrorDesc:%s", error,
                          platform::SystemErrorText(error).c_str()));
    WriteLog(entry.strObjectMd5 + ",src=" + source + ",dst=" + entry.strTargetPath);
}

// Starts the archiver on a packed download; it writes the file named by the manifest digest into
// the download folder and is not waited for.
void Unpack(const FileEntry& entry, const std::string& source) {
    // An unpacked copy from an earlier run would pass for the archiver's output while the
    // archiver, slow to start, is about to rewrite it: only the archiver's own file may be taken.
    if (platform::QueryPath(source) == platform::PathKind::File && !platform::RemoveFile(source)) {
        int error = platform::LastError();
        WriteLog(FormatString("DeleteFile ErrorCode:%d, ErrorDesc:%s, file = %s", error,
                              platform::SystemErrorText(error).c_str(), source.c_str()));
        FailWith(21);
    }
    char description[512] = {};
    bool is64 = false;
    if (!DescribeOperatingSystem(description, is64)) {
        WriteLog("获取操作系统版本信息失败!");
        is64 = false;
    }
    std::string archiver =
        strInstallDir + (is64 ? "/plantform/x64/7z.exe" : "/plantform/x86/7z.exe");
    // Quoted, so an install folder with a blank (C:\Program Files\Felto) works. The output folder
    // ends without a backslash inside the quotes, where it would escape the closing quote.
    const std::string output = IncomingFolder(strInstallDir);
    std::string commandLine = FormatString("\"%s\" x \"-o%s\" \"%s\" -y", archiver.c_str(),
                                           output.c_str(), entry.strIncomingPath.c_str());
    std::vector<std::string> argv = {archiver, "x", "-o" + output, entry.strIncomingPath, "-y"};
    unsigned started = platform::RunHidden(commandLine, argv);
    if (started < 32) {
        WriteLog(commandLine);
        FailWith(21, static_cast<int>(started));
    }
}

// A file whose digest is not the manifest's: logged, removed (its room is given back at once;
// an archive bomb must not keep the disk full) and the run ended.
[[noreturn]] void FailWrongDigest(const FileEntry& entry, const std::string& path,
                                  const std::string& digest) {
    WriteLog(FormatString("MD5不一致,local:%s,manifest:%s", digest.c_str(),
                          entry.strManifestMd5.c_str()));
    platform::RemoveFile(path);
    FailWith(21);
}

// Waits for the file to install to be in the download folder. An archiver may still be writing
// it: while it changes it is given time; once it has kept its size and its (wrong) digest from
// one look to the next, it will not come right. The digest is compared too because an archiver
// may set the file's full size before it writes the bytes. A download was checked when it
// arrived.
void WaitForSource(const FileEntry& entry, const std::string& source, bool packed) {
    for (int look = 1;; ++look) {
        if (platform::QueryPath(source) == platform::PathKind::File)
            break;
        if (look >= kSourceLooks)
            FailWith(21);
        WriteLog(FormatString("解压未完成，文件不存在, file = %s, origial file = %s",
                              source.c_str(), entry.strTargetPath.c_str()));
        platform::SleepMs(kSourceLookPauseMs);
    }
    if (!packed)
        return;
    std::int64_t lastSize = -1;
    std::string lastDigest;
    for (int look = 0, missing = 0;; ++look) {
        std::int64_t size = -1;
        if (!platform::FileSize(source, size) && ++missing >= kSourceLooks)
            FailWith(21);
        // The first look hashes at once: an archiver that has already finished costs no pause.
        // A file still growing is not hashed.
        if (size >= 0 && (look == 0 || size == lastSize)) {
            std::string digest = FileMd5(source);
            if (SameDigest(digest, entry.strManifestMd5))
                return;
            if (digest == lastDigest)
                FailWrongDigest(entry, source, digest);
            lastDigest = digest;
        } else {
            lastDigest.clear();
        }
        if (look >= kGrowingLooks) {
            WriteLog(FormatString("The unpacked file %s was still growing after %d s.",
                                  source.c_str(),
                                  static_cast<int>(kGrowingLooks * kSourceLookPauseMs / 1000)));
            FailWith(21);
        }
        lastSize = size;
        platform::SleepMs(kSourceLookPauseMs);
    }
}

// Copies under a short name beside the target, checks the copy's digest and only then moves it
// over the target in one step: whatever happens to the source meanwhile, the target holds
// either its old bytes or the checked new ones.
void CopyIntoPlace(const FileEntry& entry, const std::string& source, const std::string& folder) {
    std::string copy = folder + "/" + kCopyName;
    if (!platform::CopyFileOver(source, copy)) {
        LogCopyFailure(entry, source);
        platform::RemoveFile(copy);
        FailWith(21);
    }
    std::string digest = FileMd5(copy);
    if (!SameDigest(digest, entry.strManifestMd5))
        FailWrongDigest(entry, copy, digest);
    if (!platform::MoveFileOver(copy, entry.strTargetPath)) {
        LogCopyFailure(entry, source);
        platform::RemoveFile(copy);
        FailWith(21);
    }
}

void InstallOne(const FileEntry& entry) {
    std::string source = IncomingPath(strInstallDir, entry.strManifestMd5);
    bool packed = entry.strObjectMd5 != entry.strManifestMd5;
    if (packed)
        Unpack(entry, source);
    platform::SleepMs(static_cast<unsigned>(GetEngineSettings().copyPauseMs));

    std::string folder = ReplaceAll(entry.strTargetPath, "\\", "/");
    folder = folder.substr(0, folder.rfind('/'));
    MakeDirectories(folder.c_str());

    WaitForSource(entry, source, packed);
    GetProgress().SetStep(ProgressStep::Copying);
    CopyIntoPlace(entry, source, folder);
}

// For the progress display: a packed entry is unpacked first, then every entry is copied.
void ShowInstalling(const FileEntry& entry, std::size_t index, std::size_t count) {
    ProgressModel& progress = GetProgress();
    progress.SetName(PathComponents(entry.strTargetPath).back());
    progress.SetCount(static_cast<int>(index + 1), static_cast<int>(count));
    progress.SetStep(entry.strObjectMd5 != entry.strManifestMd5 ? ProgressStep::Unpacking
                                                                : ProgressStep::Copying);
}

} // namespace

bool PrepareFolders() {
    MakeDirectories(strInstallDir.c_str());
    return MakeDirectories(IncomingFolder(strInstallDir).c_str()) != 0;
}

bool AllPendingFinished() {
    bool all = true;
    for (FileEntry* entry : GetInstallerState().pendingEntries)
        all = entry->IsFinished() && all;
    return all;
}

unsigned InstallWorker(void*) {
    InstallerState& state = GetInstallerState();
    platform::SleepMs(100);
    if (!PrepareFolders())
        FailWith(100);
    ClearIncoming();

    StartManifestDownload();
    WaitForDownload(*state.manifestEntry);
    if (!state.manifestEntry->bOk.load())
        FailWith(101);
    VerifyManifestSignature();
    if (!platform::CopyFileOver(state.manifestEntry->strIncomingPath,
                                state.manifestEntry->strTargetPath)) {
        LogCopyFailure(*state.manifestEntry, state.manifestEntry->strIncomingPath);
        FailWith(104);
    }

    ReadManifest();
    VerifyInstalledFiles(state.fileEntries, state.pendingEntries);
    if (!state.pendingEntries.empty()) {
        DownloadPendingFiles(state.pendingEntries);
        while (!AllPendingFinished())
            WaitForDownloadNews(kPollMs);

        bool anyFailed = false;
        for (FileEntry* entry : state.pendingEntries) {
            if (!entry->bOk.load()) {
                WriteLog(FormatString("下载失败,%s", entry->strName.c_str()));
                anyFailed = true;
            }
        }
        if (anyFailed)
            FailWith(108);

        platform::SleepMs(200);
        WriteLog("解压文件");
        for (std::size_t i = 0; i < state.pendingEntries.size(); ++i) {
            ShowInstalling(*state.pendingEntries[i], i, state.pendingEntries.size());
            InstallOne(*state.pendingEntries[i]);
        }
    }

    platform::ShowMessage("安装成功，以后请点击桌面Felto图标进行游戏。", "提示");
    GetProgress().SetStep(ProgressStep::Starting);
    if (state.hMutex)
        platform::ReleaseInstanceLock(state.hMutex);
    WriteLog("_StartLauncher");
    StartGameAndExit();
}
