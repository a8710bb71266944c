#pragma once
// felto-publish check's look at the chunk lists the manifests name, and at their chunks.

#include "check_report.h"
#include "server_probe.h"

#include <cstddef>
#include <filesystem>
#include <map>
#include <string>

namespace publish {

// Fetches up to `lists` of the chunk lists (URL path -> the digest of the file it cuts) and a few
// chunks of each, and checks their digests, the list's form and that it describes its file. A
// fault costs only speed (installers fall back to the whole object), so it is a warning.
void CheckChunkLists(const ServerAddress& server, const std::map<std::string, std::string>& named,
                     std::size_t lists, const std::filesystem::path& work, Report& report);

} // namespace publish
