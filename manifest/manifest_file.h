#pragma once
// The launcher manifest: "#<bytes>" size header, then one line per file
// "<url path>\t<relative path>\t<md5>", "#" comments at column 0, an empty line ends the list.

#include "manifest/install_path.h"
#include "net/file_entry.h"

#include <string>
#include <vector>

constexpr int kManifestLineLimit = 509;

// Where the server keeps the launcher manifest for 32-bit and for 64-bit systems.
extern const std::string strManifestUrl;    // "microclient/download/launcher_manifest.js"
extern const std::string strManifestUrlX64; // "microclient/download/launcher_manifest_x64.js"

// An entry whose paths are derived from its URL path and the install folder (checkFun unset).
FileEntry MakeFileEntry(std::string urlPath, const std::string& installDir);
// Reads the manifest at `path` into `entries`, whose files are installed below `installDir`: 0,
// or the error code of the failure (105 a line that is no entry, 106 a read error, 107 the file
// cannot be opened). On failure `entries` keeps the entries read before the failing line.
int ReadManifestFile(const std::string& path, const std::string& installDir,
                     std::vector<FileEntry>& entries);
// The manifest download's check: the first line announces the number of bytes after it.
bool CheckSizeHeader(FileEntry& entry);
// A listed object's check: its MD5 is the last component of its URL path.
bool CheckObjectMd5(FileEntry& entry);
