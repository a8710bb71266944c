#include "archiver.h"

#include "file_io.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace publish {

namespace {

// Runs a program in `workDir` with its output going to `logPath`; its exit status, or -1 when it
// did not end normally.
int RunProgram(const std::vector<std::string>& argv, const fs::path& workDir,
               const fs::path& logPath) {
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw PublishError("cannot run the archiver '" + argv[0] + "': " + std::strerror(rc));
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            throw PublishError("lost the archiver '" + argv[0] + "': " + std::strerror(errno));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

void PackFile(const std::string& archiver, const fs::path& workDir, const std::string& member,
              const std::string& archiveName) {
    // Names are given relative to workDir, so the member is stored without any folder.
    const fs::path logPath = workDir / "archiver.log";
    int status =
        RunProgram({archiver, "a", "-t7z", "-bd", "-y", archiveName, member}, workDir, logPath);
    std::error_code ec;
    if (status != 0 || !fs::is_regular_file(workDir / archiveName, ec)) {
        std::string output;
        ReadWholeFile(logPath, output);
        throw PublishError("the archiver '" + archiver + "' failed packing " + member +
                           " (exit status " + std::to_string(status) + "):\n" + output);
    }
}

} // namespace publish
