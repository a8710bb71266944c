#pragma once
// felto-publish prune: removes the objects of a published tree that neither manifest names.

#include "publish.h"

#include <filesystem>
#include <string>
#include <vector>

namespace publish {

struct PruneOptions {
    std::filesystem::path output; // the tree felto-publish wrote
    bool dryRun = false;          // list what would go and the bytes it frees; remove nothing
};

// Refuses (and removes nothing) unless both manifests are present, accepted by the installer
// and every object they name is in place. Holds the publishing lock for the whole run.
ExitStatus Prune(const PruneOptions& options);

// The command line after the word "prune".
int PruneCommand(const std::vector<std::string>& args);

} // namespace publish
