#pragma once
// Finds every file of a game folder and everything in it that the installer could not install.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace publish {

struct SourceFile {
    std::string relPath;        // below the game folder, "/"-separated
    std::filesystem::path path; // where its bytes are read (a link's target already resolved)
    std::uintmax_t size = 0;
    std::string listedPath; // relPath as the manifest lists it (code page 936)
};

struct ScanResult {
    std::vector<SourceFile> files; // in no particular order
    std::vector<std::string> problems;
};

// Links are followed as long as they stay inside `root`; one that leaves it, dangles or loops is
// a problem, as are names the installer cannot write and anything that is not a file or folder.
ScanResult ScanFolder(const std::filesystem::path& root);

// Why a single file or folder name cannot be installed on Windows; empty when it can.
std::string NameProblem(const std::string& name);

// A text fit for a one-line message: control bytes written as escapes.
std::string Printable(const std::string& text);

} // namespace publish
