#include "platform/platform.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

// The lock file lives in the install folder: two installs that reach one folder through
// different paths (a link, another home) meet the same file. flock is dropped by the system when
// the process dies, so a crashed installer never blocks the next one.
InstanceLock AcquireInstanceLock(const std::string& installDir, void*& handle, int& error) {
    handle = nullptr;
    std::string path = installDir + "/" + kInstanceLockFileName;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = errno;
        return InstanceLock::CannotCreate;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno;
        ::close(fd);
        return error == EWOULDBLOCK ? InstanceLock::HeldElsewhere : InstanceLock::CannotCreate;
    }
    error = 0;
    handle = reinterpret_cast<void*>(static_cast<std::intptr_t>(fd) + 1);
    return InstanceLock::Taken;
}

void ReleaseInstanceLock(void* handle) {
    int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(handle) - 1);
    ::flock(fd, LOCK_UN);
    ::close(fd);
}

} // namespace platform
