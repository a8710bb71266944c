#pragma once
// Takes one entry from not started to finished: up to three download attempts, three seconds
// apart, each judged by the entry's checkFun. Reports only through bOk, then nState = 2.

struct FileEntry;

// Thread routine; the argument is the FileEntry.
unsigned DownloadWorker(void* entry);

// Starts DownloadWorker on its own thread. A thread that cannot be started ends the entry as a
// failed download, so a poller never waits for ever.
void StartDownloadWorker(FileEntry& entry);

// Returns once the entry is finished, looking every 50 ms; an installer that fetches several
// objects at once is also woken by the worker that finishes.
void WaitForDownload(const FileEntry& entry);
// Sleeps `maxMs` (at most 50 ms); with several downloads at once, returns earlier when one
// finishes.
void WaitForDownloadNews(unsigned maxMs);
