#pragma once
// felto-publish resign: new signatures for the manifests of a published tree, with a new release
// number and expiry, for studios whose signatures are about to expire. Objects stay untouched.

#include "publish.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace publish {

struct ResignOptions {
    std::filesystem::path output;  // the tree felto-publish wrote
    std::filesystem::path signKey; // PEM private key
    std::optional<std::uint64_t> expiresInDays;
    bool keyMismatchOk = false; // sign with a key other than the build's release key
};

// Refuses (exit status 3, nothing written) unless the key is a private key and both manifests
// are present. Holds the publishing lock for the whole run.
ExitStatus Resign(const ResignOptions& options);

// The command line after the word "resign".
int ResignCommand(const std::vector<std::string>& args);

} // namespace publish
