#pragma once
// What a publish run is asked to do, as read from the command line.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace publish {

struct PublishOptions {
    std::filesystem::path input;    // the game folder (both architectures unless inputX64 is set)
    std::filesystem::path inputX64; // optional: the 64-bit game folder
    std::filesystem::path output;   // the folder the HTTP server serves
    std::vector<std::string> packGlobs;
    std::optional<std::uintmax_t> packOver; // pack files larger than this many bytes
    std::string archiver = "7z";
    std::filesystem::path signKey; // PEM private key; empty: the manifests are not signed
    std::optional<std::uint64_t> expiresInDays; // signatures expire this many days from now
    bool quiet = false;
    bool allowIncomplete = false; // publish without the launcher or the archivers packing needs
    bool keyMismatchOk = false;   // sign with a key other than the build's release key
    // Files larger than chunksOver bytes also get a chunk list and their chunks, so that an
    // installer that knows chunks fetches only those its installed file lacks.
    bool chunks = false;
    std::uintmax_t chunksOver = 4 * 1024 * 1024;
};

enum class ParseResult { Run, Help, Error };

// Fills `options`; on Error `error` says what was wrong.
ParseResult ParseArguments(const std::vector<std::string>& args, PublishOptions& options,
                           std::string& error);

const char* UsageText();

// A word that none of a sub-command's own options took: --help shows the usage (exit status 0),
// the first word without a leading '-' is the command's one argument (nothing returned), and
// anything else is refused (exit status 2). `command` names the sub-command in the refusal.
std::optional<int> OtherSubcommandWord(const char* command, const std::string& word,
                                       bool argumentTaken);

// The value of --expires-in: a whole number of days, at most 100 years.
bool ParseExpiryDays(const std::string& text, std::uint64_t& days);

} // namespace publish
