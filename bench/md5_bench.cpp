// How fast the installer digests files, next to coreutils' md5sum on the same files in the same
// run: one 512 MiB file, and the verification of an installed tree of 1,000 files (1 GiB).
// Both sides read from a warm page cache, so the numbers compare the digest code, not the disk.
//
// Usage: md5_bench [work folder] [rounds]. The folder is made and removed by the program.

#include "app/installer_state.h"
#include "bench/random_file.h"
#include "manifest/manifest_file.h"
#include "manifest/md5.h"
#include "manifest/verification.h"
#include "platform/platform.h"
#include "support/log.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr std::int64_t kMiB = 1024 * 1024;
constexpr std::int64_t kBigFileSize = 512 * kMiB;
constexpr int kTreeFiles = 1000;
constexpr std::int64_t kTreeSize = 1024 * kMiB;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

void WriteRandomFile(const std::string& path, std::int64_t size, std::uint64_t seed) {
    if (!WriteRandomBytes(path, size, seed * 0x9e3779b97f4a7c15ull + 1)) {
        std::perror(path.c_str());
        std::exit(1);
    }
}

int Run(const std::string& command) {
    return std::system(command.c_str());
}

std::string Quote(const std::string& text) {
    return "'" + text + "'";
}

// The tree an installed launcher would have: files of mixed sizes in a few folders.
void MakeTree(const std::string& root, const std::string& listPath) {
    platform::MakeFolder(root);
    std::vector<std::int64_t> weights;
    std::int64_t total = 0;
    for (int i = 0; i < kTreeFiles; ++i) {
        weights.push_back(1 + (i * 7) % 19);
        total += weights.back();
    }
    std::FILE* list = std::fopen(listPath.c_str(), "w");
    InstallerState& state = GetInstallerState();
    state.fileEntries.clear();
    std::int64_t written = 0;
    for (int i = 0; i < kTreeFiles; ++i) {
        std::string folder = "data" + std::to_string(i % 10);
        platform::MakeFolder(root + "/" + folder);
        std::string rel = folder + "/file" + std::to_string(i) + ".pak";
        std::int64_t size =
            i + 1 == kTreeFiles ? kTreeSize - written : kTreeSize * weights[i] / total;
        written += size;
        WriteRandomFile(root + "/" + rel, size, 1000 + i);
        std::string md5 = FileMd5(root + "/" + rel);
        std::fprintf(list, "%s  %s\n", md5.c_str(), rel.c_str());
        FileEntry entry = MakeFileEntry("objects/" + md5, strInstallDir);
        entry.strTargetPath = strInstallDir + "/" + rel;
        entry.strManifestMd5 = md5;
        entry.checkFun = CheckObjectMd5;
        state.fileEntries.push_back(entry);
    }
    std::fclose(list);
}

struct Best {
    double seconds = 1e30;
    void Take(double s) { seconds = std::min(seconds, s); }
};

void Report(const char* what, std::int64_t bytes, const Best& ours, const Best& theirs) {
    double mib = static_cast<double>(bytes) / kMiB;
    std::printf("%-34s installer %8.1f MiB/s (%.3f s)   md5sum %8.1f MiB/s (%.3f s)   ratio %.3f\n",
                what, mib / ours.seconds, ours.seconds, mib / theirs.seconds, theirs.seconds,
                theirs.seconds / ours.seconds);
}

} // namespace

int main(int argc, char** argv) {
    std::string work = argc > 1 ? argv[1] : "/tmp/felto-md5-bench-" + std::to_string(getpid());
    int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    if (!platform::MakeFolder(work)) {
        std::fprintf(stderr, "cannot make %s\n", work.c_str());
        return 1;
    }
    SetLogPath(work + "/FeltoInstaller.log");
    const std::string big = work + "/big.bin";
    const std::string tree = work + "/tree";
    const std::string list = work + "/tree.md5";
    strInstallDir = tree;

    std::printf("preparing %s ...\n", work.c_str());
    std::fflush(stdout);
    WriteRandomFile(big, kBigFileSize, 7);
    MakeTree(tree, list);

    // Warm the cache and make sure both sides agree before anything is timed.
    std::string digest = FileMd5(big);
    std::string check = "echo " + Quote(digest + "  " + big) + " | md5sum -c --quiet -";
    std::string checkTree = "cd " + Quote(tree) + " && md5sum -c --quiet " + Quote(list);
    if (Run(check) != 0 || Run(checkTree) != 0) {
        std::fprintf(stderr, "the installer's digests differ from md5sum's\n");
        return 1;
    }
    InstallerState& state = GetInstallerState();
    VerifyInstalledFiles(strInstallDir, state.fileEntries, state.pendingEntries);
    if (!state.pendingEntries.empty()) {
        std::fprintf(stderr, "verification found %zu files to fetch\n",
                     state.pendingEntries.size());
        return 1;
    }

    std::string hashBig = "md5sum " + Quote(big) + " > /dev/null";
    Best oursBig, theirsBig, oursTree, theirsTree;
    for (int round = 0; round < rounds; ++round) {
        Clock::time_point start = Clock::now();
        if (FileMd5(big) != digest)
            return 1;
        oursBig.Take(Seconds(start));

        start = Clock::now();
        if (Run(hashBig) != 0)
            return 1;
        theirsBig.Take(Seconds(start));

        start = Clock::now();
        VerifyInstalledFiles(strInstallDir, state.fileEntries, state.pendingEntries);
        oursTree.Take(Seconds(start));
        if (!state.pendingEntries.empty())
            return 1;

        start = Clock::now();
        if (Run(checkTree) != 0)
            return 1;
        theirsTree.Take(Seconds(start));
    }

    std::printf("best of %d rounds, warm cache\n", rounds);
    Report("FileMd5 of one 512 MiB file", kBigFileSize, oursBig, theirsBig);
    Report("verify 1,000 files (1 GiB)", kTreeSize, oursTree, theirsTree);
    Run("rm -rf " + Quote(work));
    return 0;
}
