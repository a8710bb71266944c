// What finding the reusable chunks of an installed file costs: cutting a 256 MiB file at its
// content-defined boundaries and digesting every chunk and the whole, next to coreutils' md5sum
// of the same file in the same run. Both read from a warm page cache, so the numbers compare the
// work on the bytes, not the disk.
//
// Usage: chunk_bench [work folder] [rounds]. The folder is made and removed by the program.

#include "bench/random_file.h"
#include "manifest/chunker.h"
#include "platform/platform.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr std::int64_t kMiB = 1024 * 1024;
constexpr std::int64_t kFileSize = 256 * kMiB;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const std::string work =
        argc > 1 && argv[1][0] ? argv[1] : "/tmp/felto-chunk-bench-" + std::to_string(getpid());
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    platform::MakeFolder(work);
    const std::string file = work + "/big.bin";
    if (!WriteRandomBytes(file, kFileSize, 0x5eed5eedULL)) {
        std::perror(file.c_str());
        return 1;
    }
    const std::string md5sum = "md5sum '" + file + "' > /dev/null";
    std::vector<double> cut, reference;
    std::size_t chunks = 0;
    for (int round = 0; round < rounds; ++round) {
        Clock::time_point start = Clock::now();
        std::vector<ChunkPiece> pieces;
        if (!CutFileIntoChunks(file, pieces, nullptr)) {
            std::fprintf(stderr, "cannot cut %s\n", file.c_str());
            return 1;
        }
        cut.push_back(Seconds(start));
        chunks = pieces.size();
        start = Clock::now();
        if (std::system(md5sum.c_str()) != 0)
            return 1;
        reference.push_back(Seconds(start));
    }
    platform::RemoveFile(file);
    platform::RemoveFolder(work);
    const double mib = static_cast<double>(kFileSize) / kMiB;
    const double ours = Median(cut), theirs = Median(reference);
    std::printf("cut and digest 256 MiB (%zu chunks)  chunker %8.1f MiB/s (%.3f s)   md5sum %8.1f "
                "MiB/s (%.3f s)   ratio %.3f\n",
                chunks, mib / ours, ours, mib / theirs, theirs, theirs / ours);
    return 0;
}
