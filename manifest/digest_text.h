#pragma once
// Digest texts as manifests write them: 32 hexadecimal digits in either letter case.

#include <string>

// A digest in the lower-case form that FileMd5 gives; any other text unchanged.
std::string NormalDigest(const std::string& text);
// Two digest texts that name one digest, whatever the letter case.
bool SameDigest(const std::string& a, const std::string& b);
