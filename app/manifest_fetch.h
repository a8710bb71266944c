#pragma once
// The first contact with the download server: which manifest fits this system, and its download.

// True on a 64-bit system; logs "64bit:%d, system info:%s" in every case.
bool ProbeOperatingSystem();

// Builds the manifest's entry, clears an old download of it and starts its download worker.
// Ends the run with code 103 when the old download cannot be removed.
void StartManifestDownload();

// Fills fileEntries of the installer state from the manifest copy; ends the run with 105, 106 or
// 107 on failure.
void ReadManifest();

struct FileEntry;
// Starts the download of a file whose name stays while its content changes (the manifest, its
// signature): an earlier download of it and its part files are removed first. Ends the run with
// code 103 when the old download cannot be removed.
void StartFreshDownload(FileEntry& entry);
