#include "manifest_check.h"

#include "file_io.h"
#include "manifest/manifest_file.h"

namespace publish {

ManifestVerdict JudgeManifest(const std::string& path) {
    ManifestVerdict verdict;
    FileEntry manifest;
    manifest.strIncomingPath = path;
    verdict.sizeHeaderTrue = CheckSizeHeader(manifest);
    // Gzip data never has a true size header: only then is the file read again to say why.
    std::string bytes;
    verdict.compressed = !verdict.sizeHeaderTrue && ReadWholeFile(path, bytes) &&
                         JudgeSizeHeader(bytes).fault == SizeHeaderVerdict::Fault::Gzip;
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
