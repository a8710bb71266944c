#include "platform/platform.h"

#include <cstdlib>
#include <sys/stat.h>

namespace platform {

bool BeginShellWork() {
    return true;
}

void EndShellWork() {}

bool DesktopFolder(std::string& folder) {
    const char* home = std::getenv("HOME");
    if (!home || !*home)
        return false;
    folder = std::string(home) + "/Desktop";
    ::mkdir(folder.c_str(), 0755);
    return QueryPath(folder) == PathKind::Directory;
}

const char* ShortcutFileSuffix() {
    return "/Felto.desktop";
}

bool WriteShortcut(const std::string& shortcutPath, const std::string& target,
                   const std::string& workingDir) {
    std::string text = "[Desktop Entry]\nType=Application\nName=Felto\nExec=\"" + target +
                       "\"\nPath=" + workingDir + "\nTerminal=false\n";
    std::string temp = shortcutPath + ".tmp";
    std::FILE* file = std::fopen(temp.c_str(), "wb");
    if (!file)
        return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    ok = std::fclose(file) == 0 && ok;
    ok = ok && std::rename(temp.c_str(), shortcutPath.c_str()) == 0;
    if (!ok) {
        std::remove(temp.c_str());
        return false;
    }
    ::chmod(shortcutPath.c_str(), 0755);
    return true;
}

} // namespace platform
