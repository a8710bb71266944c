#include "app/install_worker.h"

#include "app/game_start.h"
#include "app/installer_state.h"
#include "app/manifest_fetch.h"
#include "app/messages.h"
#include "app/release_signature.h"
#include "manifest/manifest_file.h"
#include "manifest/md5.h"
#include "manifest/verification.h"
#include "platform/platform.h"
#include "support/log.h"
#include "support/os_description.h"
#include "support/paths.h"

#include <cctype>
#include <vector>

namespace {

constexpr unsigned kPollMs = 50;
constexpr int kSourceLooks = 3;
constexpr unsigned kSourceLookPauseMs = 500;
// How long an unpacked file that is there but not yet whole may keep the archiver's output
// coming before the entry is given up.
constexpr int kUnfinishedLooks = 240; // x 500 ms

void WaitUntilFinished(const FileEntry& entry) {
    while (!entry.IsFinished())
        platform::SleepMs(kPollMs);
}

// Starts the archiver on a packed download; it writes the file named by the manifest digest into
// the download folder and is not waited for.
void Unpack(const FileEntry& entry) {
    char description[512] = {};
    bool is64 = false;
    if (!DescribeOperatingSystem(description, is64)) {
        WriteLog("获取操作系统版本信息失败!");
        is64 = false;
    }
    std::string archiver = strInstallDir + (is64 ? "/plantform/x64/7z.exe" : "/plantform/x86/7z.exe");
    // Quoted, so an install folder with a blank (C:\Program Files\Felto) works. The output folder
    // ends without a backslash inside the quotes, where it would escape the closing quote.
    std::string commandLine = FormatString("\"%s\" x \"-o%s/incoming\" \"%s\" -y", archiver.c_str(),
                                           strInstallDir.c_str(), entry.strIncomingPath.c_str());
    std::vector<std::string> argv = {archiver, "x", "-o" + strInstallDir + "/incoming",
                                     entry.strIncomingPath, "-y"};
    unsigned started = platform::RunHidden(commandLine, argv);
    if (started < 32) {
        WriteLog(commandLine);
        FailWith(21, static_cast<int>(started));
    }
}

// Digest texts as a file system that ignores case would match them.
bool SameDigest(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Waits for the file to install to be in the download folder, whole: an archiver still writing
// it must not have a half file copied into place.
void WaitForSource(const FileEntry& entry, const std::string& source) {
    for (int look = 1;; ++look) {
        if (platform::QueryPath(source) == platform::PathKind::File)
            break;
        if (look >= kSourceLooks)
            FailWith(21);
        WriteLog(FormatString("解压未完成，文件不存在, file = %s, origial file = %s", source.c_str(),
                              entry.strTargetPath.c_str()));
        platform::SleepMs(kSourceLookPauseMs);
    }
    for (int look = 0; !SameDigest(FileMd5(source), entry.strManifestMd5); ++look) {
        if (look >= kUnfinishedLooks) {
            WriteLog(FormatString("MD5不一致,local:%s,manifest:%s", FileMd5(source).c_str(),
                                  entry.strManifestMd5.c_str()));
            FailWith(21);
        }
        platform::SleepMs(kSourceLookPauseMs);
    }
}

void InstallOne(const FileEntry& entry) {
    if (entry.strObjectMd5 != entry.strManifestMd5)
        Unpack(entry);
    platform::SleepMs(100);

    std::string folder = ReplaceAll(entry.strTargetPath, "\\", "/");
    folder = folder.substr(0, folder.rfind('/'));
    MakeDirectories(folder.c_str());

    std::string source = strInstallDir + "/" + strIncomingDir + "/" + entry.strManifestMd5;
    WaitForSource(entry, source);

    if (!platform::CopyFileOver(source, entry.strTargetPath)) {
        int error = platform::LastError();
        WriteLog(FormatString("CopyFile ErrorCode:%d, ErrorDesc:%s", error,
                              platform::SystemErrorText(error).c_str()));
        WriteLog(entry.strObjectMd5 + ",src=" + source + ",dst=" + entry.strTargetPath);
        FailWith(21);
    }
}

} // namespace

bool PrepareFolders() {
    MakeDirectories(strInstallDir.c_str());
    return MakeDirectories((strInstallDir + "/" + strIncomingDir).c_str()) != 0;
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

    StartManifestDownload();
    WaitUntilFinished(*state.manifestEntry);
    if (!state.manifestEntry->bOk.load())
        FailWith(101);
    VerifyManifestSignature();
    if (!platform::CopyFileOver(state.manifestEntry->strIncomingPath,
                                state.manifestEntry->strTargetPath))
        FailWith(104);

    ReadManifest();
    VerifyInstalledFiles();
    if (!state.pendingEntries.empty()) {
        DownloadPendingFiles();
        while (!AllPendingFinished())
            platform::SleepMs(kPollMs);

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
        for (FileEntry* entry : state.pendingEntries)
            InstallOne(*entry);
    }

    platform::ShowMessage("安装成功，以后请点击桌面Felto图标进行游戏。", "提示");
    if (state.hMutex)
        platform::ReleaseInstanceLock(state.hMutex);
    WriteLog("_StartLauncher");
    StartGameAndExit();
}
