#include "manifest_text.h"

namespace publish {

namespace {
const std::string kArchiverFolder = "plantform/";
} // namespace

std::size_t LineLength(const ManifestLine& line) {
    return line.url.size() + 1 + line.relPath.size() + 1 + line.md5.size();
}

bool IsArchiverPath(const std::string& relPath) {
    return relPath.rfind(kArchiverFolder, 0) == 0;
}

bool InstallsBefore(const std::string& relPathA, const std::string& relPathB) {
    bool archiverA = IsArchiverPath(relPathA), archiverB = IsArchiverPath(relPathB);
    if (archiverA != archiverB)
        return archiverA;
    return relPathA < relPathB;
}

std::string ManifestText(const std::vector<ManifestLine>& lines) {
    std::string body;
    for (const ManifestLine& line : lines)
        body += line.url + '\t' + line.relPath + '\t' + line.md5 + '\n';
    return "#" + std::to_string(body.size()) + "\n" + body;
}

std::vector<ManifestLine> ParseManifest(const std::string& text) {
    std::vector<ManifestLine> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            break; // the installer stops reading here too
        if (line[0] == '#')
            continue;
        std::vector<std::string> fields;
        std::size_t start = 0;
        while (start < line.size() && fields.size() < 3) {
            std::size_t tab = line.find('\t', start);
            if (tab == std::string::npos)
                tab = line.size();
            if (tab > start)
                fields.push_back(line.substr(start, tab - start));
            start = tab + 1;
        }
        if (fields.size() == 3)
            lines.push_back({fields[0], fields[1], fields[2]});
    }
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
           " a Windows path may have: players installing there get error 21 for it";
}

} // namespace publish
