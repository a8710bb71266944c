#pragma once
// A listed file brought up to date from its chunk list (manifest/chunk_list.h): the chunks the
// installed copy already holds are taken from it, the others fetched, and the object assembled in
// the download folder. Used by installers built with FELTO_CHUNKED_UPDATES.

#include "net/file_entry.h"

#include <string>
#include <vector>

// True, with the entry finished, once its object lies checked at its incoming path. False after
// one log line saying why, when the whole object must be fetched instead. Chunks are taken from
// the installed copy and from `earlierCopies`, files the earlier release installed elsewhere with
// the same digest (the first that can be read).
bool FetchByChunks(FileEntry& entry, const std::vector<std::string>& earlierCopies = {});

// Names in the download folder that the entry's chunked update may still use: its chunk list,
// and the chunks that list names when it is there already; each with its part files.
std::vector<std::string> ChunkedUpdateFileNames(const FileEntry& entry);
