#pragma once
// One publish run: checks the game folders, stores their objects, then writes the manifests.

#include "options.h"

namespace publish {

enum ExitStatus { kPublished = 0, kFailed = 1, kBadCommandLine = 2, kRefused = 3 };

// Messages go to standard error. Nothing is written when the input is refused; otherwise every
// object is in place before a manifest that names it.
ExitStatus Publish(const PublishOptions& options);

} // namespace publish
