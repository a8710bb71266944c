#pragma once
// The install procedure: the body of the one install worker thread.

// Thread routine; never returns (every path ends the process).
unsigned InstallWorker(void* unused);

// Creates the install folder and its download folder; false when the download folder does not
// exist afterwards.
bool PrepareFolders();

// True when every pending entry has finished downloading (an empty list gives true).
bool AllPendingFinished();
