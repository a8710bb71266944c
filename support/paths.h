#pragma once
// Folders the installer makes before it writes, and the one path rewrite it needs.

#include <string>

// Every occurrence of `find` replaced by `replacement`, searching again from the start after each
// replacement. `find` must not be empty and `replacement` must not contain it.
std::string ReplaceAll(const std::string& source, const std::string& find,
                       const std::string& replacement);

void CreateOneDirectory(const std::string& path);

// Non-zero when the whole path exists as a directory afterwards. Missing parents are made only
// below a drive letter (a prefix holding ":"), as the installer's folders always are on Windows.
int MakeDirectories(const char* path);
