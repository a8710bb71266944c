#pragma once
// What every installed game needs besides its own files: the launcher the installer starts, and
// the archiver for each Windows that may receive packed objects.

#include <cstddef>
#include <string>
#include <vector>

namespace publish {

// The Windows a manifest is installed on, and so the archivers it needs: the 32-bit manifest's
// installs run plantform/x86/7z.exe, the 64-bit one's plantform/x64/7z.exe.
enum class InstalledOn { Windows32, Windows64, Both };

// What is missing from a game whose install paths are `relPaths` and of which `packed` files are
// delivered as archives; one text per missing file, naming it and what players would see.
std::vector<std::string> MissingGameParts(const std::vector<std::string>& relPaths,
                                          std::size_t packed, InstalledOn on);

} // namespace publish
