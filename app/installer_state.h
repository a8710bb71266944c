#pragma once
// The process-wide installer state and strings.

#include "net/file_entry.h"

#include <memory>
#include <string>
#include <vector>

extern std::string strInstallDir; // set once by main before the install worker starts

class InstallerState {
  public:
    InstallerState() = default;
    InstallerState(const InstallerState&) = delete;
    InstallerState& operator=(const InstallerState&) = delete;

    std::unique_ptr<FileEntry> manifestEntry;
    std::unique_ptr<FileEntry> signatureEntry; // the manifest's signature, when a key is built in
    std::vector<FileEntry> fileEntries;
    std::vector<FileEntry*> pendingEntries; // point into fileEntries, which no longer changes
    void* hMutex = nullptr;
};

InstallerState& GetInstallerState();

// The common end of every run that failed: gives up the single-instance lock, exit(0).
[[noreturn]] void ExitInstaller();
