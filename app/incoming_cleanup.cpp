#include "app/incoming_cleanup.h"

#include "app/installer_state.h"
#include "manifest/chunked_update.h"
#include "manifest/manifest_file.h"
#include "net/engine_settings.h"
#include "net/incoming_folder.h"
#include "platform/platform.h"
#include "support/log.h"
#include "support/paths.h"

#include <set>
#include <string>
#include <vector>

namespace {

void LogRemoveFailure(const std::string& path) {
    int error = platform::LastError();
    WriteLog(FormatString("DeleteFile ErrorCode:%d, ErrorDesc:%s, file = %s", error,
                          platform::SystemErrorText(error).c_str(), path.c_str()));
}

// Removes a file, a link (never what it points to) or a folder with all it holds; false after a
// log line when something stays.
bool RemoveItem(const std::string& path, platform::ItemKind kind) {
    bool removed = false;
    if (kind == platform::ItemKind::Folder) {
        std::vector<platform::FolderItem> items;
        platform::ListFolder(path, items);
        for (const platform::FolderItem& item : items)
            RemoveItem(path + "/" + item.name, item.kind);
        removed = platform::RemoveFolder(path);
    } else {
        // An unpacked member may carry the read-only attribute, which stops its deletion.
        if (kind == platform::ItemKind::File && platform::ClearReadOnly(path))
            WriteLog("Cleared the read-only attribute of " + path);
        // A link to a folder goes as a folder on Windows and as a file elsewhere.
        removed = platform::RemoveFile(path) ||
                  (kind == platform::ItemKind::Link && platform::RemoveFolder(path));
    }
    if (!removed)
        LogRemoveFailure(path);
    return removed;
}

// Names in the download folder that the entries can use: each object's whole download (reused
// when its digest is right) and its part files (resumed). Lower case, as the folder is matched.
std::set<std::string> UsableIncomingNames(const std::vector<FileEntry>& entries) {
    std::set<std::string> names;
    for (const FileEntry& entry : entries) {
        for (const std::string& name : DownloadFileNames(entry.strName))
            names.insert(FoldPathCase(name));
        if (GetEngineSettings().chunkedUpdates) {
            for (const std::string& name : ChunkedUpdateFileNames(entry))
                names.insert(FoldPathCase(name));
        }
    }
    return names;
}

} // namespace

void ClearIncoming() {
    std::vector<FileEntry> listed;
    for (const std::string& url : {strManifestUrl, strManifestUrlX64}) {
        FileEntry manifest = MakeFileEntry(url, strInstallDir);
        listed.push_back(manifest);
        if (platform::QueryPath(manifest.strTargetPath) != platform::PathKind::File)
            continue;
        std::vector<FileEntry> entries;
        // A copy cut short still names what it lists up to the cut; one that cannot be opened
        // names nothing, and nothing can be judged.
        if (ReadManifestFileSilently(manifest.strTargetPath, strInstallDir, entries) == 107)
            return;
        listed.insert(listed.end(), entries.begin(), entries.end());
    }
    std::set<std::string> usable = UsableIncomingNames(listed);
    usable.insert(FoldPathCase(kReleaseStateName));

    std::string folder = IncomingFolder(strInstallDir);
    std::vector<platform::FolderItem> items;
    if (!platform::ListFolder(folder, items))
        return;
    int removed = 0;
    for (const platform::FolderItem& item : items) {
        if (usable.count(FoldPathCase(item.name)) == 0 &&
            RemoveItem(folder + "/" + item.name, item.kind))
            ++removed;
    }
    if (removed > 0)
        WriteLog(FormatString("Removed %d leftover item(s) from incoming.", removed));
}
