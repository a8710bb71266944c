#pragma once
// The download folder "incoming" inside the install folder, and the names of what lives there:
// downloads under their object's name, their part files (net/part_files.h), and the unpacked
// files under the manifest's digest. A file is copied beside its target under kCopyName before it
// is moved over the target.

#include <string>

extern const std::string strIncomingDir; // "incoming"

// Short, so that a target with a long legal name never pushes it over the system's limit.
constexpr const char* kCopyName = "~felto.tmp";

// "<install folder>/incoming"
std::string IncomingFolder(const std::string& installDir);
// "<install folder>/incoming/<name>"
std::string IncomingPath(const std::string& installDir, const std::string& name);
