#pragma once
// What every installed game needs besides its own files: the launcher the installer starts, and
// the archiver for each Windows that may receive packed objects.

#include <cstddef>
#include <string>
#include <vector>

namespace publish {

// What is missing from a game whose install paths are `relPaths` and of which `packed` files are
// delivered as archives; one text per missing file, naming it and what players would see.
std::vector<std::string> MissingGameParts(const std::vector<std::string>& relPaths,
                                          std::size_t packed);

} // namespace publish
