#pragma once
// Keeps the download folder from filling the disk for good: at the start of a run it drops what
// no entry of the installed manifest can use.

// Removes from the download folder every file and folder that no entry of the installed manifest
// copies can use: parts and downloads of objects no longer listed, unpacked files (the archiver
// writes them anew), anything an archive put there. The manifest's own download is left to its
// fetch. Does nothing when a manifest copy is there but cannot be opened.
void ClearIncoming();
