#pragma once
// Folders the installer makes before it writes, and the path texts it takes apart.
// Paths are byte strings in which a two-byte character (platform::IsLeadByte) is one character:
// its second byte is never a separator and never the start of a match.

#include <string>
#include <vector>

// Every occurrence of `find` replaced by `replacement`, searching again from the start after each
// replacement. `find` must not be empty and `replacement` must not contain it.
std::string ReplaceAll(const std::string& source, const std::string& find,
                       const std::string& replacement);

// ASCII letters in lower case, as Windows compares names; the second byte of a two-byte
// character is left as it is.
std::string FoldPathCase(const std::string& text);

// The parts of a path between "\" and "/" separators, empty parts included.
std::vector<std::string> PathComponents(const std::string& path);

void CreateOneDirectory(const std::string& path);

// Non-zero when the whole path exists as a directory afterwards. Missing parents are made only
// below a drive letter (a prefix holding ":"), as the installer's folders always are on Windows.
int MakeDirectories(const char* path);
// The same, with the error number of the last folder that could not be made (0 when none).
int MakeDirectories(const char* path, int& error);
