#pragma once
// The launcher manifest: "#<bytes>" size header, then one line per file
// "<url path>\t<relative path>\t<md5>", "#" comments at column 0, an empty line ends the list.

#include "manifest/install_path.h"
#include "net/file_entry.h"

#include <cstdint>
#include <string>
#include <vector>

constexpr int kManifestLineLimit = 509;

// Where the server keeps the launcher manifest for 32-bit and for 64-bit systems.
extern const std::string strManifestUrl;    // "microclient/download/launcher_manifest.js"
extern const std::string strManifestUrlX64; // "microclient/download/launcher_manifest_x64.js"

// An entry whose paths are derived from its URL path and the install folder (checkFun unset).
FileEntry MakeFileEntry(std::string urlPath, const std::string& installDir);

// Why a manifest line is not installed.
enum class ManifestRefusal {
    None,
    LineTooLong,         // an entry longer than kManifestLineLimit
    NotThreeFields,      // fewer than three tab-separated fields
    LeavesFolder,        // the install path leaves the folder or names a device
    InstallersOwn,       // the install path is one of the installer's own files
    NotPlainName,        // the object name or the digest is no plain file name
    IncomingNameIsOwn,   // the object name or the digest is one the installer keeps in incoming/
    DigestNamesDownload, // the digest names the download itself on Windows (a trailing dot)
    TwoDigests,          // one install path listed with two digests
};

// How the reader goes on after a refused line. The installer stops: a manifest it cannot follow
// whole is not installed. felto-publish passes such lines over when it reads a manifest it wrote
// earlier, to learn which objects that release packed; a line it cannot use there teaches it
// nothing and harms nothing. This is the only place the two readings differ.
enum class RefusedLines { Stop, PassOver };

struct ManifestReading {
    std::vector<FileEntry> entries;                  // with Stop, those before the refused line
    ManifestRefusal refusal = ManifestRefusal::None; // the first refusal
    std::string refusedLine;                         // as far as it was read, cut at a zero byte
};

// The manifest's bytes read as entries whose files are installed below `installDir`;
// `manifestName` is the name of the manifest's own copy there, which no entry may take.
ManifestReading ParseManifest(const std::string& bytes, const std::string& installDir,
                              const std::string& manifestName,
                              RefusedLines refused = RefusedLines::Stop);
// The log line for a reading's refusal.
std::string RefusalLogLine(const ManifestReading& reading);

// Reads the manifest at `path` into `entries`, whose files are installed below `installDir`: 0,
// or the error code of the failure (105 a line that is no entry, 106 a read error, 107 the file
// cannot be opened). On failure `entries` keeps the entries read before the failing line.
int ReadManifestFile(const std::string& path, const std::string& installDir,
                     std::vector<FileEntry>& entries);
// The same without a word in the log: for a look at what an earlier run installed, whose
// refusal was logged when it happened.
int ReadManifestFileSilently(const std::string& path, const std::string& installDir,
                             std::vector<FileEntry>& entries);

// What the manifest's first line says of the bytes after it.
struct SizeHeaderVerdict {
    enum class Fault { None, Gzip, CrAlone, EmptyFirstLine, FirstLineTooLong, CountDiffers };
    Fault fault = Fault::None;
    std::string header; // the first line, cut at a zero byte
    std::int64_t announced = 0;
    std::int64_t body = 0;
};
SizeHeaderVerdict JudgeSizeHeader(const std::string& bytes);
// The manifest download's check: the first line announces the number of bytes after it.
bool CheckSizeHeader(FileEntry& entry);
// A listed object's check: its MD5 is the last component of its URL path.
bool CheckObjectMd5(FileEntry& entry);
