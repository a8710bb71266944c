#pragma once
// The launcher manifest: "#<bytes>" size header, then one line per file
// "<url path>\t<relative path>\t<md5>", "#" comments at column 0, an empty line ends the list.

#include "app/file_entry.h"
#include "manifest/install_path.h"

#include <string>
#include <vector>

constexpr int kManifestLineLimit = 509;

// An entry whose paths are derived from its URL path and the install folder (checkFun unset).
FileEntry MakeFileEntry(std::string urlPath);
// Reads the manifest at `path` into `entries`: 0, or the error code of the failure (105 a line
// that is no entry, 106 a read error, 107 the file cannot be opened). On failure `entries` keeps
// the entries read before the failing line.
int ReadManifestFile(const std::string& path, std::vector<FileEntry>& entries);
// Fills fileEntries of the installer state from the manifest copy; ends the run with 105, 106 or
// 107 on failure.
void ReadManifest();
// The manifest download's check: the first line announces the number of bytes after it.
bool CheckSizeHeader(FileEntry& entry);
// A listed object's check: its MD5 is the last component of its URL path.
bool CheckObjectMd5(FileEntry& entry);
