#include "game_layout.h"

#include "manifest/install_path.h"

#include <algorithm>

namespace publish {

namespace {

struct Archiver {
    const char* path;
    const char* windows;
    InstalledOn only;
};
constexpr Archiver kArchivers[] = {{"plantform/x86/7z.exe", "32-bit", InstalledOn::Windows32},
                                   {"plantform/x64/7z.exe", "64-bit", InstalledOn::Windows64}};

} // namespace

std::vector<std::string> MissingGameParts(const std::vector<std::string>& relPaths,
                                          std::size_t packed, InstalledOn on) {
    const auto listed = [&](const char* path) {
        return std::any_of(relPaths.begin(), relPaths.end(), [&](const std::string& relPath) {
            return InstallPathKey(relPath) == InstallPathKey(path);
        });
    };
    std::vector<std::string> missing;
    if (!listed("Felto.exe"))
        missing.push_back("Felto.exe is missing: the installer puts its desktop shortcut on it "
                          "and starts it, so every player's install would end without the game");
    if (packed == 0)
        return missing;
    for (const Archiver& archiver : kArchivers) {
        if ((on == InstalledOn::Both || on == archiver.only) && !listed(archiver.path))
            missing.push_back(std::string(archiver.path) + " is missing, and " +
                              std::to_string(packed) + (packed == 1 ? " file is" : " files are") +
                              " delivered packed: installs on " + archiver.windows +
                              " Windows would end with error 21 at unpacking");
    }
    return missing;
}

} // namespace publish
