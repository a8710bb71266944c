#pragma once
// Which listed files are missing or differ, and getting a good copy of each into "incoming".

#include "net/file_entry.h"

#include <string>
#include <vector>

// Adds to `pending` each of `entries` whose file below `installDir` is missing or differs, the
// archiver's own entries first.
void VerifyInstalledFiles(const std::string& installDir, std::vector<FileEntry>& entries,
                          std::vector<FileEntry*>& pending);
// Finishes each pending entry: a good earlier download is reused, the others are fetched one at a
// time.
void DownloadPendingFiles(const std::vector<FileEntry*>& pending);
