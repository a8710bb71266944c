#pragma once
// What a manifest may name as an install path, and when two names mean one file.

#include <string>

// A relative install path that stays inside the install folder and names an ordinary file on
// every system: no parent folder, no root, no ":" (drive or data stream) and no device name.
bool IsSafeRelativePath(const std::string& path);

// The name a path has on a Windows file system, where "\" and "/" separate alike, empty and "."
// parts are dropped, trailing dots and blanks fall away and letter case does not count. Two
// install paths with one key are one file.
std::string InstallPathKey(const std::string& path);

// A path the installer keeps for itself in the install folder (its log, its lock file, the
// manifest copy named `manifestName`, the download folder and what is in it, and any file named
// like the copy that is checked before it goes into place): a manifest entry there would
// overwrite the run's own files.
bool IsReservedPath(const std::string& path, const std::string& manifestName);

// A name in the download folder that no object, download or unpacked file may take, since the
// installer keeps its own file there (net/incoming_folder.h: the release state and its copy, and
// the copy of a file that is checked before it goes into place).
bool IsReservedIncomingName(const std::string& name);

// One of the archiver's own entries, which packed entries need in place before their turn.
bool IsArchiverPath(const std::string& path);
// A path in the archiver's folder (written as the publisher writes it, "/"-separated): the
// publisher never packs these, since the archiver needs its folder unpacked, and lists them first.
bool IsInArchiverFolder(const std::string& path);
