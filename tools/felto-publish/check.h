#pragma once
// felto-publish check: asks a live server for both manifests and their objects exactly as the
// installer does, and says whether the installer will work against it.

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace publish {

struct CheckOptions {
    std::string url;                   // http://host[:port][/path]
    std::optional<std::size_t> sample; // fetch only this many objects, the largest among them
    std::string logPath;               // the engine's own log; a temporary one when empty
    bool quiet = false;                // no progress line
    // The public key (PEM) the manifests' signatures are checked with; the key built into this
    // program (FELTO_RELEASE_KEY) when empty. Without either, signatures are not checked.
    std::string releaseKeyPath;
    // When set: each manifest's name and the MD5 of the bytes the server sent for it.
    std::map<std::string, std::string>* servedManifests = nullptr;
};

// One line per check on standard output; 0 when the installer will work against the server,
// 1 when it will not.
int Check(const CheckOptions& options);

// The command line after the word "check": one or more URLs (a server and its fall-back
// servers), each checked in turn; with several, also whether they serve the same manifests.
int CheckCommand(const std::vector<std::string>& args);

} // namespace publish
