#include "net/download_space.h"

#include "net/part_files.h"

#include <algorithm>
#include <mutex>
#include <vector>

// Every download of the installer writes into the one download folder, so one list serves.
namespace {
std::mutex g_mutex;
std::vector<const SpaceClaim*> g_claims;
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
