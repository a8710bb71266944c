#pragma once
// One file the installer fetches and checks, the launcher manifest included.

#include <atomic>
#include <cstdint>
#include <string>

struct FileEntry {
    std::string strName;           // last "/" component of strUrl
    std::string strIncomingPath;   // install folder + "/incoming/" + strName
    std::string strManifestMd5;    // digest the installed file must have
    std::string strUrl;            // URL path below the server's base URL
    std::string strObjectMd5;      // digest the downloaded object must have (= strName)
    std::string strTargetPath;     // where the file is installed
    std::string strRelativePath;   // the same, below the install folder, as the manifest names it
    std::int64_t nFileSize = 0;    // Content-Length the server announced
    std::int64_t nListedSize = -1; // the object's size as the manifest lists it; -1 unlisted
    std::string strChunkListUrl;   // URL path of the file's chunk list; empty when none is listed
    std::atomic<std::int64_t> nReceived{0};
    // Written by the download worker, read by the thread that started it: bOk is stored before
    // nState becomes 2 (release), and read only after nState == 2 was seen (acquire).
    std::atomic<bool> bOk{false};
    std::atomic<int> nState{0}; // 0 not started, 1 downloading, 2 finished
    bool (*checkFun)(FileEntry& entry) = nullptr;
    // The server every attempt must use (-1: any, in turn; see net/server_list), and the one
    // that served the accepted download (-1: none), written before nState becomes 2.
    int nPinnedServer = -1;
    int nServedBy = -1;

    FileEntry() = default;
    FileEntry(const FileEntry& other) { *this = other; }
    FileEntry& operator=(const FileEntry& other) {
        strName = other.strName;
        strIncomingPath = other.strIncomingPath;
        strManifestMd5 = other.strManifestMd5;
        strUrl = other.strUrl;
        strObjectMd5 = other.strObjectMd5;
        strTargetPath = other.strTargetPath;
        strRelativePath = other.strRelativePath;
        nFileSize = other.nFileSize;
        nListedSize = other.nListedSize;
        strChunkListUrl = other.strChunkListUrl;
        nReceived.store(other.nReceived.load());
        bOk.store(other.bOk.load());
        nState.store(other.nState.load());
        checkFun = other.checkFun;
        nPinnedServer = other.nPinnedServer;
        nServedBy = other.nServedBy;
        return *this;
    }

    // The hand-over between download worker and poller.
    void Finish(bool ok) {
        bOk.store(ok, std::memory_order_relaxed);
        nState.store(2, std::memory_order_release);
    }
    bool IsFinished() const { return nState.load(std::memory_order_acquire) == 2; }
};
