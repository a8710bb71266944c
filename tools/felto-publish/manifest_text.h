#pragma once
// The launcher manifest as the installer reads it: "#<bytes>" size header, then one LF-ended
// line per file "<url path>\t<relative path>\t<md5>\t<object bytes>[\t<chunk list url path>]".
// Installers read the first three fields; the object's size lets a lean one skip asking the
// server for it, and the chunk list lets one fetch only the chunks its installed file lacks.

#include <cstdint>
#include <string>
#include <vector>

namespace publish {

struct ManifestLine {
    std::string url;     // below the server's base URL; its last component is the object's MD5
    std::string relPath; // where the installer puts the file, "/"-separated
    std::string md5;     // of the installed file
    std::int64_t objectSize = -1;  // bytes of the object the URL names; -1 unknown
    std::string chunkListUrl = {}; // the file's chunk list; empty when it has none
};

// Characters of one line without its line end; the installer reads at most 509.
std::size_t LineLength(const ManifestLine& line);

// The classic (ANSI) Windows file calls take paths of at most 259 characters; the installer
// itself goes past it, most other programs do not.
constexpr std::size_t kWindowsPathLimit = 259;
// The file's path under the default install folder, "D:\Felto\<relative path>", in characters
// (a UTF-8 sequence is one); a warning for players' installs above kWindowsPathLimit, else empty.
std::string WindowsPathWarning(const std::string& relPath);

// The installer installs in manifest order and needs its archiver before the first packed file:
// everything under plantform/ comes first, then the rest by path.
bool InstallsBefore(const std::string& relPathA, const std::string& relPathB);

// The whole manifest file for lines already in install order. The object's size follows the
// digest where it is known and the line stays within the installer's limit with it; the chunk
// list follows the size on the same terms.
std::string ManifestText(const std::vector<ManifestLine>& lines);

// The entries of a manifest written earlier, named `manifestName`, as the installer reads them;
// lines the installer refuses are passed over (see RefusedLines).
std::vector<ManifestLine> ParseManifest(const std::string& text, const std::string& manifestName);

} // namespace publish
