#include "output_lock.h"

#include "file_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace publish {

OutputLock::OutputLock(const std::filesystem::path& output) {
    const std::filesystem::path path = output / ".felto-publish.lock";
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0)
        throw PublishError("cannot create " + path.string());
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd_);
        throw PublishError("another felto-publish is writing to " + output.string());
    }
}

OutputLock::~OutputLock() {
    ::close(fd_);
}

} // namespace publish
