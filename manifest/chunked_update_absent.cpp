#include "manifest/chunked_update.h"

// A program built without chunked updates fetches every changed file whole: its settings never
// ask for the chunk path, and the chunk path's code (chunked_update.cpp) stays out of it, which
// keeps the default program within its size.

bool FetchByChunks(FileEntry&, const std::vector<std::string>&) {
    return false;
}

std::vector<std::string> ChunkedUpdateFileNames(const FileEntry&) {
    return {};
}
