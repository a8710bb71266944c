#include "platform/platform.h"

#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

// The lock lives in the player's home, so each user (and each test home) has its own. flock is
// dropped by the system when the process dies: a crashed installer never blocks the next one.
void* AcquireInstanceLock() {
    const char* home = std::getenv("HOME");
    std::string path = std::string(home && *home ? home : "/tmp") + "/.FeltoUpdater.lock";
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return nullptr;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return nullptr;
    }
    return reinterpret_cast<void*>(static_cast<std::intptr_t>(fd) + 1);
}

void ReleaseInstanceLock(void* handle) {
    int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(handle) - 1);
    ::flock(fd, LOCK_UN);
    ::close(fd);
}

} // namespace platform
