#include "tests/support/child_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

std::vector<std::string> MergedEnvironment(const std::map<std::string, std::string>& extra) {
    std::map<std::string, std::string> all;
    for (char** e = environ; *e; ++e) {
        const char* eq = std::strchr(*e, '=');
        if (eq)
            all[std::string(static_cast<const char*>(*e), eq)] = eq + 1;
    }
    for (const auto& [k, v] : extra)
        all[k] = v;
    std::vector<std::string> out;
    for (const auto& [k, v] : all)
        out.push_back(k + "=" + v);
    return out;
}

// In a sanitized build the programs a test starts are sanitized too; whatever the test expects of
// them, a report in their output is a fault found.
void ExpectNoSanitizerReport(const std::vector<std::string>& argv, const std::string& stdErr) {
    static const char* const kReports[] = {"ERROR: AddressSanitizer",
                                           "ERROR: LeakSanitizer",
                                           "WARNING: ThreadSanitizer",
                                           "FATAL: ThreadSanitizer",
                                           "SUMMARY: UndefinedBehaviorSanitizer",
                                           ": runtime error: "};
    for (const char* report : kReports) {
        if (stdErr.find(report) != std::string::npos) {
            ADD_FAILURE() << argv[0] << " reported \"" << report << "\":\n" << stdErr;
            return;
        }
    }
}

void DrainInto(int fd, std::string& text) {
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

} // namespace

RunningChild::RunningChild(const std::vector<std::string>& argv, const ChildOptions& options) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    std::vector<std::string> envStrings = MergedEnvironment(options.env);
    std::vector<char*> args, envp;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const std::string& e : envStrings)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    if (!options.workingDir.empty())
        posix_spawn_file_actions_addchdir_np(&actions, options.workingDir.c_str());
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // Its own process group, so Kill() also ends what it started.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    pid_t pid;
    int rc = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(pipeFds[1]);
    if (rc != 0) {
        ::close(pipeFds[0]);
        throw std::runtime_error(std::string("cannot start ") + argv[0] + ": " + strerror(rc));
    }
    pid_ = pid;
    argv_ = argv;
    errFd_ = pipeFds[0];
    ::fcntl(errFd_, F_SETFL, O_NONBLOCK);
}

RunningChild::~RunningChild() {
    if (!done_)
        Kill();
    if (errFd_ >= 0)
        ::close(errFd_);
}

bool RunningChild::Wait(int timeoutMs, ChildResult& result) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        DrainInto(errFd_, err_);
        int status = 0;
        pid_t r = done_ ? pid_ : ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            if (!done_) {
                done_ = true;
                result.finished = WIFEXITED(status);
                result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                // Whatever is still in the pipe.
                DrainInto(errFd_, err_);
                ExpectNoSanitizerReport(argv_, err_);
            }
            result.stdErr = err_;
            return true;
        }
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            result.stdErr = err_;
            return false;
        }
        int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count());
        pollfd p{errFd_, POLLIN, 0};
        ::poll(&p, 1, left < 20 ? left : 20);
    }
}

void RunningChild::Kill() {
    if (done_ || pid_ <= 0)
        return;
    ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);
    int status;
    ::waitpid(pid_, &status, 0);
    done_ = true;
    DrainInto(errFd_, err_);
    ExpectNoSanitizerReport(argv_, err_);
}

ChildResult RunChild(const std::vector<std::string>& argv, const ChildOptions& options) {
    RunningChild child(argv, options);
    ChildResult result;
    if (!child.Wait(options.timeoutMs, result)) {
        child.Kill();
        result.finished = false;
    }
    return result;
}

bool WaitUntil(int timeoutMs, const std::function<bool()>& condition) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}
