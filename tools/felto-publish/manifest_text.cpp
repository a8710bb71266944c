#include "manifest_text.h"

#include "manifest/install_path.h"
#include "manifest/manifest_file.h"

namespace publish {

std::size_t LineLength(const ManifestLine& line) {
    return line.url.size() + 1 + line.relPath.size() + 1 + line.md5.size();
}

bool InstallsBefore(const std::string& relPathA, const std::string& relPathB) {
    bool archiverA = IsInArchiverFolder(relPathA), archiverB = IsInArchiverFolder(relPathB);
    if (archiverA != archiverB)
        return archiverA;
    return relPathA < relPathB;
}

std::string ManifestText(const std::vector<ManifestLine>& lines) {
    std::string body;
    for (const ManifestLine& line : lines) {
        std::string text = line.url + '\t' + line.relPath + '\t' + line.md5;
        if (line.objectSize >= 0) {
            const std::string size = '\t' + std::to_string(line.objectSize);
            if (text.size() + size.size() <= static_cast<std::size_t>(kManifestLineLimit)) {
                text += size;
                const std::string list = '\t' + line.chunkListUrl;
                if (!line.chunkListUrl.empty() &&
                    text.size() + list.size() <= static_cast<std::size_t>(kManifestLineLimit))
                    text += list;
            }
        }
        body += text + '\n';
    }
    return "#" + std::to_string(body.size()) + "\n" + body;
}

std::vector<ManifestLine> ParseManifest(const std::string& text, const std::string& manifestName) {
    std::vector<ManifestLine> lines;
    ManifestReading reading =
        ::ParseManifest(text, std::string(), manifestName, RefusedLines::PassOver);
    for (const FileEntry& entry : reading.entries)
        lines.push_back({entry.strUrl, entry.strRelativePath, entry.strManifestMd5,
                         entry.nListedSize, entry.strChunkListUrl});
    return lines;
}

std::string WindowsPathWarning(const std::string& relPath) {
    const std::string path = "D:\\Felto\\" + relPath;
    std::size_t characters = 0;
    for (unsigned char byte : path)
        characters += (byte & 0xC0) != 0x80;
    if (characters <= kWindowsPathLimit)
        return std::string();
    return relPath + ": " + std::to_string(characters) +
           " characters under D:\\Felto\\, over the " + std::to_string(kWindowsPathLimit) +
           " of a classic Windows path: the installer installs it, but Explorer and older "
           "Windows tools may fail to open it";
}

} // namespace publish
