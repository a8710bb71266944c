#pragma once
// Which listed files are missing or differ, and getting a good copy of each into "incoming".

#include "net/file_entry.h"

#include <string>
#include <vector>

// Adds to `pending` each of `entries` whose installed file is missing or differs, the archiver's
// own entries first.
void VerifyInstalledFiles(std::vector<FileEntry>& entries, std::vector<FileEntry*>& pending);
// Finishes each pending entry: a good earlier download is reused, the others are fetched one at a
// time. `earlier`, the entries of the release installed before (chunked updates only), names
// installed files whose bytes an entry's chunks may be taken from.
void DownloadPendingFiles(const std::vector<FileEntry*>& pending,
                          const std::vector<FileEntry>& earlier = {});
