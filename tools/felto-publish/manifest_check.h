#pragma once
// What the installer makes of a downloaded launcher manifest, judged with the installer's own
// checks and reader.

#include "net/file_entry.h"

#include <string>
#include <vector>

namespace publish {

struct ManifestVerdict {
    bool sizeHeaderTrue = false;
    bool compressed = false; // gzip data where the manifest belongs
    int readCode = 0;        // 0, or the error code the installer stops with (105, 106, 107)
    std::vector<FileEntry> entries;

    bool good() const { return sizeHeaderTrue && readCode == 0; }
    // Why the installer refuses the manifest, with the error code a player would see.
    std::string Problem() const;
};

ManifestVerdict JudgeManifest(const std::string& path);

} // namespace publish
