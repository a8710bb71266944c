#include "tests/support/private_network.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <unistd.h>
#include <vector>

namespace {

void Enter(int argc, char** argv, const char* unshareFlags) {
    const char* marker = "FELTO_TEST_PRIVATE_NETWORK";
    if (std::getenv(marker))
        return;
    setenv(marker, "1", 1);
    const char* script = "PATH=\"$PATH:/usr/sbin:/sbin\" ip link set lo up && exec \"$0\" \"$@\"";
    std::vector<std::string> words = {"unshare", unshareFlags, "--", "/bin/sh", "-c", script};
    for (int i = 0; i < argc; ++i)
        words.push_back(argv[i]);
    std::vector<char*> args;
    for (std::string& w : words)
        args.push_back(w.data());
    args.push_back(nullptr);
    execvp("unshare", args.data());
    std::fprintf(stderr, "cannot enter a private network namespace: %s\n", std::strerror(errno));
    std::exit(2);
}

} // namespace

void EnterPrivateNetwork(int argc, char** argv) {
    Enter(argc, argv, "-rn");
}

void EnterPrivateNetworkKeepingUsers(int argc, char** argv) {
    // Root in a container may be refused a namespace that is not its own user namespace's.
    const bool realRootNetwork = ::geteuid() == 0 && !std::getenv("FELTO_TEST_PRIVATE_NETWORK") &&
                                 std::system("unshare -n true >/dev/null 2>&1") == 0;
    Enter(argc, argv, realRootNetwork ? "-n" : "-rn");
}

bool EnterPrivateMounts() {
    // Mounts made here must not travel back to the namespace the program came from.
    return ::unshare(CLONE_NEWNS) == 0 &&
           ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}
