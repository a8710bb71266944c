#include "manifest_check.h"

#include "manifest/manifest_file.h"

#include <fstream>

namespace publish {

ManifestVerdict JudgeManifest(const std::string& path) {
    ManifestVerdict verdict;
    FileEntry manifest;
    manifest.strIncomingPath = path;
    verdict.sizeHeaderTrue = CheckSizeHeader(manifest);
    std::ifstream file(path, std::ios::binary);
    char magic[2] = {};
    verdict.compressed = file.read(magic, 2) && magic[0] == '\x1f' && magic[1] == '\x8b';
    verdict.readCode = ReadManifestFile(path, std::string(), verdict.entries);
    return verdict;
}

std::string ManifestVerdict::Problem() const {
    if (compressed)
        return "the server compressed it: gzip data where the manifest belongs (the installer "
               "retries, then stops with error 101)";
    if (!sizeHeaderTrue)
        return "its size header does not match its length (the installer retries, then stops "
               "with error 101)";
    switch (readCode) {
    case 0:
        return std::string();
    case 105:
        return "a line is no entry the installer accepts: three tab-separated fields, an install "
               "path inside the install folder (error 105)";
    case 106:
        return "it cannot be read (error 106)";
    default:
        return "it cannot be opened (error " + std::to_string(readCode) + ")";
    }
}

} // namespace publish
