#pragma once
// The download folder "incoming" inside the install folder, and the names of what lives there:
// downloads under their object's name, their part files (net/part_files.h), the unpacked
// files under the manifest's digest, the remembered release, and kCopyName: the copy of a file
// that is checked here before it is moved over its target.

#include <string>
#include <vector>

extern const std::string strIncomingDir; // "incoming"

// In the download folder: on the install folder's volume, so the move over the target is one
// step, and in a folder whose path stays short, so that a target near the system's path limit
// never pushes the copy over it. Manifests may not name a file so (manifest/install_path.h).
constexpr const char* kCopyName = "~felto.tmp";

// The highest signed release the installer accepted (app/release_state), and the copy it is
// written to before it is moved over it in one step. No object or unpacked file may take these
// names, and the clean-up of the folder keeps the first.
constexpr const char* kReleaseStateName = "FeltoRelease.state";
constexpr const char* kReleaseStateTemporaryName = "FeltoRelease.state.tmp";

// A chunked update's files (an installer built with FELTO_CHUNKED_UPDATES): the chunk list and
// the chunks under their digests, and the file being assembled from them under its object's name.
// The chunks stay until the file they make is assembled and checked, so that a run cut short
// fetches none of them again.
std::string ChunkListFileName(const std::string& listMd5); // "<md5>.chunklist"
std::string ChunkFileName(const std::string& chunkMd5);    // "<md5>.chunk"
std::string AssemblyFileName(const std::string& name);     // "<name>.assembly"

// "<install folder>/incoming"
std::string IncomingFolder(const std::string& installDir);
// "<install folder>/incoming/<name>"
std::string IncomingPath(const std::string& installDir, const std::string& name);

// Every file one download can leave in the folder: the whole download, its part files, and the
// file written in place with its record (net/segment_record.h). The cleanup keeps these names
// for a listed object; a fresh start removes them.
std::vector<std::string> DownloadFileNames(const std::string& name);

// Removes what an earlier download into `incomingPath` left, for a file whose name stays while its
// content changes (the manifest, its signature): the parts may belong to another version and must
// never be resumed. False, after a log line, when the whole earlier download cannot be removed.
bool ClearEarlierDownload(const std::string& incomingPath);
