#include "manifest/install_path.h"

#include "net/incoming_folder.h"
#include "platform/platform.h"
#include "support/paths.h"

#include <vector>

namespace {

// "..", and the names Windows trims to it ("...", ".. "): only dots and blanks, two dots or more.
bool IsParentName(const std::string& part) {
    std::size_t dots = 0;
    for (char c : part) {
        if (c == '.')
            ++dots;
        else if (c != ' ')
            return false;
    }
    return dots >= 2;
}

// Windows opens the device for its name with any extension and with blanks before the dot:
// "con", "NUL.txt", "COM1 .log".
bool IsDeviceName(const std::string& part) {
    std::string stem = FoldPathCase(part.substr(0, part.find('.')));
    stem.erase(stem.find_last_not_of(' ') + 1);
    static const char* const kDevices[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
    for (const char* device : kDevices)
        if (stem == device)
            return true;
    return stem.size() == 4 && (stem.compare(0, 3, "com") == 0 || stem.compare(0, 3, "lpt") == 0) &&
           stem[3] >= '1' && stem[3] <= '9';
}

std::string TrimDotsAndBlanks(const std::string& part) {
    std::size_t end = part.find_last_not_of(". ");
    return end == std::string::npos ? std::string() : part.substr(0, end + 1);
}

} // namespace

bool IsSafeRelativePath(const std::string& path) {
    if (path.empty() || path[0] == '/' || path[0] == '\\' || path.find(':') != std::string::npos)
        return false;
    // ".." is looked for between any two separator bytes: in a double-byte code page that finds
    // more separators than the system does, never fewer, so a ".." seen under any code page is
    // found. ':' and '/' never occur inside a two-byte character.
    std::size_t start = 0;
    for (;;) {
        std::size_t end = path.find_first_of("/\\", start);
        if (IsParentName(path.substr(start, end == std::string::npos ? end : end - start)))
            return false;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    for (const std::string& part : PathComponents(path))
        if (IsDeviceName(part))
            return false;
    return true;
}

std::string InstallPathKey(const std::string& path) {
    std::string key;
    for (const std::string& part : PathComponents(path)) {
        std::string name = TrimDotsAndBlanks(part);
        if (name.empty())
            continue;
        if (!key.empty())
            key += '/';
        key += FoldPathCase(name);
    }
    return key;
}

bool IsReservedPath(const std::string& path, const std::string& manifestName) {
    std::string key = InstallPathKey(path);
    std::string first = key.substr(0, key.find('/'));
    std::string last = key.substr(key.rfind('/') + 1);
    return first == InstallPathKey(strIncomingDir) || key == "feltoinstaller.log" ||
           last == InstallPathKey(kCopyName) ||
           key == InstallPathKey(platform::kInstanceLockFileName) ||
           key == InstallPathKey(manifestName);
}

bool IsReservedIncomingName(const std::string& name) {
    const std::string key = InstallPathKey(name);
    return key == InstallPathKey(kReleaseStateName) ||
           key == InstallPathKey(kReleaseStateTemporaryName) || key == InstallPathKey(kCopyName);
}

namespace {
const std::string kArchiverFolder = "plantform";
} // namespace

bool IsArchiverPath(const std::string& path) {
    std::string key = InstallPathKey(path);
    return key == kArchiverFolder + "/x86/7z.exe" || key == kArchiverFolder + "/x64/7z.exe";
}

bool IsInArchiverFolder(const std::string& path) {
    return path.compare(0, kArchiverFolder.size() + 1, kArchiverFolder + "/") == 0;
}
