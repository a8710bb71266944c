#include "net/download_space.h"

#include "net/part_files.h"
#include "net/segment_record.h"
#include "platform/platform.h"
#include "support/log.h"

#include <algorithm>
#include <mutex>
#include <vector>

// Every download of the installer writes into the one download folder, so one list serves.
namespace {
std::mutex g_mutex;
std::vector<const SpaceClaim*> g_claims;

// Whether the volume of the destination has room for what is still to be fetched. When the
// free space cannot be learnt the download goes ahead: a full disk then fails it on writing.
bool EnoughSpace(const std::string& strWriteFileName, std::int64_t needed,
                 std::int64_t othersNeed) {
    std::string folder = strWriteFileName.substr(0, strWriteFileName.find_last_of("/\\") + 1);
    std::int64_t available = 0;
    if (needed <= 0 || !platform::FreeDiskSpace(folder.empty() ? "." : folder, available) ||
        needed + othersNeed <= available)
        return true;
    if (othersNeed == 0)
        WriteLog(FormatString("Not enough free space for %s: %lld bytes to fetch, %lld bytes free.",
                              strWriteFileName.c_str(), static_cast<long long>(needed),
                              static_cast<long long>(available)));
    else
        WriteLog(FormatString("Not enough free space for %s: %lld bytes to fetch, %lld bytes "
                              "free, %lld of them still to be written by other downloads.",
                              strWriteFileName.c_str(), static_cast<long long>(needed),
                              static_cast<long long>(available),
                              static_cast<long long>(othersNeed)));
    return false;
}

} // namespace

std::int64_t StillNeeded(const SpaceClaim& claim) {
    return std::max<std::int64_t>(claim.needed_ - claim.received_->load(), 0);
}

SpaceClaim::~SpaceClaim() {
    if (!taken_)
        return;
    std::lock_guard<std::mutex> lock(g_mutex);
    g_claims.erase(std::remove(g_claims.begin(), g_claims.end(), this), g_claims.end());
}

bool SpaceClaim::Take(const std::string& path, std::int64_t needed,
                      const std::atomic<std::int64_t>& received) {
    std::lock_guard<std::mutex> lock(g_mutex);
    std::int64_t others = 0;
    for (const SpaceClaim* claim : g_claims)
        others += StillNeeded(*claim);
    if (!EnoughSpace(path, needed, others))
        return false;
    taken_ = true;
    needed_ = std::max<std::int64_t>(needed, 0);
    received_ = &received;
    g_claims.push_back(this);
    return true;
}

bool RoomForRun(const std::vector<FileEntry*>& entries) {
    std::int64_t needed = 0;
    for (const FileEntry* entry : entries) {
        if (entry->nListedSize < 0)
            continue;
        std::int64_t held =
            RecordedBytesOfObject(entry->strIncomingPath, entry->strName, entry->nListedSize);
        for (int i = 0; i < kInstallerPartFiles; ++i) {
            std::int64_t size = 0;
            if (platform::FileSize(PartFileName(entry->strIncomingPath, i), size))
                held += size;
        }
        needed += std::max<std::int64_t>(entry->nListedSize - held, 0);
    }
    if (entries.empty() || needed == 0)
        return true;
    const std::string& path = entries.front()->strIncomingPath;
    const std::string folder = path.substr(0, path.find_last_of("/\\") + 1);
    std::int64_t available = 0;
    if (!platform::FreeDiskSpace(folder.empty() ? "." : folder, available) || needed <= available)
        return true;
    WriteLog(
        FormatString("Not enough free space for the run: %lld bytes to fetch, %lld bytes free.",
                     static_cast<long long>(needed), static_cast<long long>(available)));
    return false;
}
