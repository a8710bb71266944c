#pragma once
// Packs one file with the 7-Zip command-line program.

#include <filesystem>
#include <string>

namespace publish {

// Makes `workDir`/`archiveName`, a 7z archive whose only member is the file `workDir`/`member`
// under that bare name (the installer looks for the unpacked file by name). Throws PublishError
// with the archiver's own output when it fails.
void PackFile(const std::string& archiver, const std::filesystem::path& workDir,
              const std::string& member, const std::string& archiveName);

} // namespace publish
