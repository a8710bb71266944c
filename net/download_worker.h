#pragma once
// Takes one entry from not started to finished: up to three download attempts, three seconds
// apart, each judged by the entry's checkFun. Reports only through bOk, then nState = 2.

struct FileEntry;

// Thread routine; the argument is the FileEntry.
unsigned DownloadWorker(void* entry);

// Starts DownloadWorker on its own thread. A thread that cannot be started ends the entry as a
// failed download, so a poller never waits for ever.
void StartDownloadWorker(FileEntry& entry);

// Returns once the entry is finished; woken by its worker, never waiting more than 50 ms between
// two looks.
void WaitForDownload(const FileEntry& entry);
// Returns when some download finishes, or after `maxMs` (at most 50 ms), whichever comes first.
void WaitForDownloadNews(unsigned maxMs);
