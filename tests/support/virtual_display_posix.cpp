#include "tests/support/virtual_display_posix.h"

#include "tests/support/child_process.h"

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {
constexpr int kStartTimeoutMs = 30000;
constexpr int kStopTimeoutMs = 10000;
} // namespace

VirtualDisplay::VirtualDisplay() {
    // Xvfb writes the number of the display it took to this pipe once it accepts clients.
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe for Xvfb failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ready[1], 3);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const char* argv[] = {"Xvfb",    "-displayfd", "3",           "-nolisten", "tcp",
                          "-screen", "0",          "1024x768x24", nullptr};
    int spawned =
        ::posix_spawnp(&pid_, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(ready[1]);
    if (spawned != 0) {
        ::close(ready[0]);
        pid_ = -1;
        throw std::runtime_error("cannot start Xvfb (package xvfb): install it with "
                                 "scripts/install-deps.sh");
    }
    std::string number;
    pollfd waiting{ready[0], POLLIN, 0};
    while (number.find('\n') == std::string::npos && ::poll(&waiting, 1, kStartTimeoutMs) == 1) {
        char buffer[16];
        ssize_t n = ::read(ready[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        number.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(ready[0]);
    if (number.find('\n') == std::string::npos) {
        Stop();
        throw std::runtime_error("Xvfb did not come up");
    }
    name_ = ":" + number.substr(0, number.find('\n'));
}

VirtualDisplay::~VirtualDisplay() {
    Stop();
}

void VirtualDisplay::Stop() {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    if (!WaitUntil(kStopTimeoutMs, [&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; })) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
}
