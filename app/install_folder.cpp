#include "app/install_folder.h"

#include "platform/platform.h"
#include "support/paths.h"

namespace {

const char kSeparators[] = "/\\";
const std::string kFolderName = "Felto";

// Windows folder names ignore letter case.
bool IsFeltoName(const std::string& name) {
    return FoldPathCase(name) == FoldPathCase(kFolderName);
}

} // namespace

std::string InstallFolderUnder(const std::string& chosen, char separator) {
    std::size_t end = chosen.find_last_not_of(kSeparators);
    if (end == std::string::npos) // the root of a POSIX system
        return chosen + kFolderName;
    // A byte 0x5C that trails a double-byte character reads as a separator here; it can only
    // make a name that ends in "Felto" count as Felto, never hide a real separator.
    std::size_t start = chosen.find_last_of(kSeparators, end);
    start = start == std::string::npos ? 0 : start + 1;
    if (IsFeltoName(chosen.substr(start, end + 1 - start)))
        return chosen;
    // A drive root comes back from the shell with its separator ("C:\"), other folders without.
    if (end + 1 < chosen.size())
        return chosen + kFolderName;
    return chosen + separator + kFolderName;
}

std::string NearestExistingFolder(const std::string& path) {
    std::string folder = path;
    while (!folder.empty()) {
        if (platform::QueryPath(folder) == platform::PathKind::Directory)
            return folder;
        std::size_t end = folder.find_last_not_of(kSeparators);
        if (end == std::string::npos)
            break;
        std::size_t cut = folder.find_last_of(kSeparators, end);
        if (cut == std::string::npos)
            break;
        std::string parent = folder.substr(0, cut);
        // A root keeps its separator: "D:\" and "/" name the root, "D:" and "" do not.
        if (parent.empty() || parent.back() == ':')
            parent = folder.substr(0, cut + 1);
        folder = parent;
    }
    return std::string();
}

std::string DialogStartFolder(const std::string& defaultDir) {
    std::string start = NearestExistingFolder(defaultDir);
    if (!start.empty()) {
        std::string probe = start;
        if (probe.find_last_of(kSeparators) + 1 != probe.size())
            probe += platform::NativeSeparator();
        probe += "~felto-folder-probe";
        if (platform::MakeFolder(probe)) {
            platform::RemoveFolder(probe);
            return start;
        }
    }
    return platform::SystemDriveRoot();
}

std::string ChooseInstallFolder(int& makeError) {
    const std::string defaultDir = platform::DefaultInstallDir();
    if (MakeDirectories(defaultDir.c_str(), makeError))
        return defaultDir;

    // The dialog starts where the player can see a real folder that takes the install: one that
    // does not exist would leave it at the desktop, where a quick OK used to spill the game, and
    // OK on a read-only one would only end the run.
    const std::string start = DialogStartFolder(defaultDir);
    for (;;) {
        std::string chosen;
        switch (platform::BrowseForFolder("请选择程序的安装目录", start, chosen)) {
        case platform::FolderChoice::Chosen: {
            std::string folder = InstallFolderUnder(chosen, platform::NativeSeparator()[0]);
            int error = 0;
            if (MakeDirectories(folder.c_str(), error))
                return folder;
            platform::ShowMessage("无法在所选文件夹中创建安装目录，请选择其他文件夹。", "提示");
            break;
        }
        case platform::FolderChoice::Cancelled:
            return std::string();
        case platform::FolderChoice::Unusable:
            platform::ShowMessage("所选文件夹的路径含有本系统无法使用的字符，请选择其他文件夹。",
                                  "提示");
            break;
        }
    }
}
