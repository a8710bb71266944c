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

#include <algorithm>
#include <vector>

namespace {

constexpr unsigned kPollMs = 50;
constexpr int kSourceLooks = 3;
constexpr unsigned kSourceLookPauseMs = 500;
// How long the archiver may run before its output is judged as it stands: far beyond any real
// member on a slow disk behind a virus scanner, and still an end.
constexpr unsigned kArchiverLimitMs = 10 * 60 * 1000;

// A failed file call with the system's error number and text; `about` names the file.
void LogFileFailure(const char* call, int error, const std::string& about = std::string()) {
    WriteLog(FormatString("%s ErrorCode:%d, ErrorDesc:%s%s", call, error,
                          platform::SystemErrorText(error).c_str(), about.c_str()));
}

// Copying into place failed: the system's error number and text, then what was copied where.
void LogCopyFailure(int error, const FileEntry& entry, const std::string& source,
                    const std::string& destination) {
    LogFileFailure("CopyFile", error);
    WriteLog(entry.strObjectMd5 + ",src=" + source + ",dst=" + destination);
}

// The installer's own files may carry the read-only attribute (an archiver restores the one a
// packed member has, and a copy keeps it): cleared before the file is deleted or overwritten.
void MakeReplaceable(const std::string& path) {
    if (platform::ClearReadOnly(path))
        WriteLog("Cleared the read-only attribute of " + path);
}

bool RemoveOwnFile(const std::string& path) {
    if (platform::QueryPath(path) != platform::PathKind::File)
        return true;
    MakeReplaceable(path);
    if (platform::RemoveFile(path))
        return true;
    LogFileFailure("DeleteFile", platform::LastError(), ", file = " + path);
    return false;
}

// Runs the archiver on a packed download until it ends; it writes the file named by the
// manifest digest into the download folder. Only its end says that the file is whole: a file
// that keeps its size for a while may belong to an archiver that a scanner or a busy disk holds.
void Unpack(const FileEntry& entry, const std::string& source) {
    // An unpacked copy from an earlier run would pass for the archiver's output: only the
    // archiver's own file may be taken.
    if (!RemoveOwnFile(source))
        FailWith(21);
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
    platform::ProgramHandle program;
    unsigned started = platform::StartHidden(commandLine, argv, program);
    if (started < 32) {
        WriteLog(commandLine);
        FailWith(21, static_cast<int>(started));
    }
    if (!platform::WaitForProgram(program, kArchiverLimitMs))
        WriteLog(FormatString("The archiver still runs after %u s; its output is judged as it "
                              "stands: %s",
                              kArchiverLimitMs / 1000, commandLine.c_str()));
    platform::ReleaseProgram(program);
}

// A file whose digest is not the manifest's: logged, removed (its room is given back at once;
// an archive bomb must not keep the disk full) and the run ended.
[[noreturn]] void FailWrongDigest(const FileEntry& entry, const std::string& path,
                                  const std::string& digest) {
    WriteLog(FormatString("MD5不一致,local:%s,manifest:%s", digest.c_str(),
                          entry.strManifestMd5.c_str()));
    MakeReplaceable(path);
    platform::RemoveFile(path);
    FailWith(21);
}

// Fails unless the file holds the manifest's bytes. A file that cannot be read says so, with
// the system's reason, rather than passing for a file with other bytes.
void CheckDigest(const FileEntry& entry, const std::string& path) {
    std::string digest;
    if (!ReadFileMd5(path, digest)) {
        int error = platform::LastError();
        WriteLog(FormatString("Cannot read %s to check it, ErrorCode:%d, ErrorDesc:%s",
                              path.c_str(), error, platform::SystemErrorText(error).c_str()));
        FailWith(21);
    }
    if (!SameDigest(digest, entry.strManifestMd5))
        FailWrongDigest(entry, path, digest);
}

// The file to install must be in the download folder: the download itself, or what the archiver
// left there when it ended. A download was checked when it arrived; an unpacked file is checked
// once, and a wrong one will not come right.
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
    if (packed)
        CheckDigest(entry, source);
}

// The target overwritten where it stands, for when there is no room for a second copy beside
// it. A copy cut short leaves the target broken, never passing for whole: it is checked, and the
// checked download stays in the download folder for the next run.
void CopyInPlace(const FileEntry& entry, const std::string& source) {
    MakeReplaceable(entry.strTargetPath);
    if (!platform::CopyFileOver(source, entry.strTargetPath)) {
        LogCopyFailure(platform::LastError(), entry, source, entry.strTargetPath);
        FailWith(21);
    }
    CheckDigest(entry, entry.strTargetPath);
}

bool OutOfSpaceFor(const std::string& source, const std::string& folder, int error) {
    if (platform::IsOutOfSpace(error))
        return true;
    std::int64_t size = 0, free = 0;
    return platform::FileSize(source, size) && platform::FreeDiskSpace(folder, free) && free < size;
}

// Copies under a short name in the download folder, checks the copy's digest and only then
// moves it over the target in one step: whatever happens to the source meanwhile, the target
// holds either its old bytes or the checked new ones. The lean transfer moves a source that no
// later entry needs instead of copying it: two passes over the bytes fewer, the copy and its
// check.
void CopyIntoPlace(const FileEntry& entry, const std::string& source, bool sourceNeededLater) {
    const std::string folder = IncomingFolder(strInstallDir);
    const std::string copy = IncomingPath(strInstallDir, kCopyName);
    if (!RemoveOwnFile(copy))
        FailWith(21);
    const bool moved = GetEngineSettings().leanTransfer && !sourceNeededLater &&
                       platform::MoveFileOver(source, copy);
    if (!moved && !platform::CopyFileOver(source, copy)) {
        int error = platform::LastError();
        platform::RemoveFile(copy);
        if (OutOfSpaceFor(source, folder, error)) {
            WriteLog(FormatString("No room for a copy beside %s (ErrorCode:%d, ErrorDesc:%s): "
                                  "overwriting it in place",
                                  entry.strTargetPath.c_str(), error,
                                  platform::SystemErrorText(error).c_str()));
            CopyInPlace(entry, source);
            return;
        }
        LogCopyFailure(error, entry, source, entry.strTargetPath);
        WriteLog("The file was being copied to the temporary copy " + copy +
                 " that is then moved over the target.");
        FailWith(21);
    }
    // The copy keeps the source's attributes; a read-only one would stay so at the target.
    platform::ClearReadOnly(copy);
    // A copy is checked, since its bytes were written again; a move changes no byte of the file
    // whose digest was checked when it arrived (or when the archiver left it).
    if (!moved)
        CheckDigest(entry, copy);
    MakeReplaceable(entry.strTargetPath);
    if (!platform::MoveFileOver(copy, entry.strTargetPath)) {
        // The temporary copy is how the file is copied, not a step of its own: the first two
        // lines read as for any failed copy, the third says where it failed.
        LogCopyFailure(platform::LastError(), entry, source, entry.strTargetPath);
        WriteLog("MoveFile of the checked temporary copy " + copy + " over the target failed.");
        platform::RemoveFile(copy);
        FailWith(21);
    }
}

void InstallOne(const FileEntry& entry, bool sourceNeededLater) {
    std::string source = IncomingPath(strInstallDir, entry.strManifestMd5);
    bool packed = entry.strObjectMd5 != entry.strManifestMd5;
    if (packed)
        Unpack(entry, source);
    // No rest at all when the studio asked for none: a sleep of 0 still gives up the processor.
    if (GetEngineSettings().copyPauseMs > 0)
        platform::SleepMs(static_cast<unsigned>(GetEngineSettings().copyPauseMs));

    std::string folder = ReplaceAll(entry.strTargetPath, "\\", "/");
    folder = folder.substr(0, folder.rfind('/'));
    MakeDirectories(folder.c_str());

    WaitForSource(entry, source, packed);
    GetProgress().SetStep(ProgressStep::Copying);
    CopyIntoPlace(entry, source, sourceNeededLater);
}

// Whether an entry after the one at `index` installs the same file from the download folder.
bool SourceNeededLater(const std::vector<FileEntry*>& pending, std::size_t index) {
    return std::any_of(pending.begin() + index + 1, pending.end(), [&](const FileEntry* later) {
        return later->strManifestMd5 == pending[index]->strManifestMd5;
    });
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
    platform::SleepMs(static_cast<unsigned>(GetEngineSettings().startPauseMs));
    if (!PrepareFolders())
        FailWith(100);
    ClearIncoming();

    StartManifestDownload();
    WaitForDownload(*state.manifestEntry);
    if (!state.manifestEntry->bOk.load())
        FailWith(101);
    VerifyManifestSignature();
    // What the earlier release installed, read before its manifest copy is replaced: a chunked
    // update takes a moved file's bytes from where that release put it.
    std::vector<FileEntry> earlier;
    if (GetEngineSettings().chunkedUpdates &&
        platform::QueryPath(state.manifestEntry->strTargetPath) == platform::PathKind::File)
        ReadManifestFile(state.manifestEntry->strTargetPath, strInstallDir, earlier);
    if (!platform::CopyFileOver(state.manifestEntry->strIncomingPath,
                                state.manifestEntry->strTargetPath)) {
        LogCopyFailure(platform::LastError(), *state.manifestEntry,
                       state.manifestEntry->strIncomingPath, state.manifestEntry->strTargetPath);
        FailWith(104);
    }

    ReadManifest();
    VerifyInstalledFiles(state.fileEntries, state.pendingEntries);
    if (!state.pendingEntries.empty()) {
        DownloadPendingFiles(state.pendingEntries, earlier);
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

        platform::SleepMs(static_cast<unsigned>(GetEngineSettings().unpackPauseMs));
        WriteLog("解压文件");
        for (std::size_t i = 0; i < state.pendingEntries.size(); ++i) {
            ShowInstalling(*state.pendingEntries[i], i, state.pendingEntries.size());
            InstallOne(*state.pendingEntries[i], SourceNeededLater(state.pendingEntries, i));
        }
    }

    platform::ShowMessage("安装成功，以后请点击桌面Felto图标进行游戏。", "提示");
    GetProgress().SetStep(ProgressStep::Starting);
    if (state.hMutex)
        platform::ReleaseInstanceLock(state.hMutex);
    WriteLog("_StartLauncher");
    StartGameAndExit();
}
