#pragma once
// Reading files with their MD5, and writing files so that a crash never leaves half of one
// under its final name.

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace publish {

// Any failure that ends a publish run; its text names the file and the reason.
struct PublishError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Digest {
    std::string md5; // 32 lowercase hexadecimal digits
    std::uintmax_t size = 0;
};

// Every byte of a file, read once. Unlike the installer's FileMd5, an unreadable file is an
// error here: it must never be published as an empty one.
Digest HashFile(const std::filesystem::path& path);

// Copies `from` to the new file `to` (flushed to disk) and returns the digest of what was copied.
Digest CopyHashed(const std::filesystem::path& from, const std::filesystem::path& to);

// Writes `bytes` to `path`: into a temporary file beside it, flushed to disk, then renamed over.
void WriteFileAtomically(const std::filesystem::path& path, const std::string& bytes);

// Flushes a finished file to disk before it is renamed into place.
void SyncFile(const std::filesystem::path& path);

// The whole file, or nothing when it does not exist.
bool ReadWholeFile(const std::filesystem::path& path, std::string& bytes);

// Temporary names share this prefix, so leftovers of a crashed run can be recognised.
constexpr const char* kTempPrefix = ".felto-tmp-";
std::string TempName(const std::string& hint);

} // namespace publish
