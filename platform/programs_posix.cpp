#include "platform/platform.h"

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {
// Windows runs any .exe; here the installed program needs its execute bits first.
void MakeExecutable(const std::string& path) {
    struct stat info;
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode))
        ::chmod(path.c_str(), info.st_mode | S_IXUSR | S_IXGRP | S_IXOTH);
}

int Spawn(const std::vector<std::string>& argv, const std::string& workingDir, pid_t& pid) {
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!workingDir.empty())
        posix_spawn_file_actions_addchdir_np(&actions, workingDir.c_str());
    // The child must not inherit our standard input.
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc;
}

// Same numbers WinExec and ShellExecute give for these failures.
unsigned FailureCode(int error) {
    switch (error) {
    case ENOENT:
        return 2; // file not found
    case ENOTDIR:
        return 3; // path not found
    case EACCES:
        return 5; // access denied
    case ENOEXEC:
        return 11; // bad format
    default:
        return 8; // out of memory / other
    }
}
} // namespace

unsigned StartHidden(const std::string&, const std::vector<std::string>& argv,
                     ProgramHandle& program) {
    if (argv.empty())
        return 2;
    MakeExecutable(argv[0]);
    pid_t pid = 0;
    int rc = Spawn(argv, std::string(), pid);
    if (rc != 0)
        return FailureCode(rc);
    program.native = pid;
    return 33;
}

bool WaitForProgram(ProgramHandle& program, unsigned timeoutMs) {
    if (program.native <= 0)
        return false;
    constexpr unsigned kLookMs = 20;
    for (unsigned waited = 0;; waited += kLookMs) {
        int status = 0;
        pid_t ended = ::waitpid(static_cast<pid_t>(program.native), &status, WNOHANG);
        if (ended == static_cast<pid_t>(program.native) || (ended < 0 && errno != EINTR)) {
            program.native = 0; // reaped, or no child of ours to wait for
            return true;
        }
        if (waited >= timeoutMs)
            return false;
        SleepMs(kLookMs);
    }
}

void ReleaseProgram(ProgramHandle& program) {
    program.native = 0;
}

long OpenProgram(const std::string& program, const std::string& workingDir) {
    MakeExecutable(program);
    pid_t pid = 0;
    int rc = Spawn({program}, workingDir, pid);
    return rc == 0 ? 42 : static_cast<long>(FailureCode(rc));
}

} // namespace platform
