// How fast the installer downloads one large file, next to curl and aria2c fetching the same
// file from the same nginx on loopback into the same folder, in the same run: HttpDownload over
// three connections (the join included), `curl -o`, `aria2c -x3 -s3`. Prints the times, the
// ratios, and the program's own peak memory.
//
// Usage: download_bench [work folder] [rounds] [size in MiB]. The folder is made and removed.

#include "bench/random_file.h"
#include "net/engine_settings.h"
#include "net/http_get.h"
#include "platform/platform.h"
#include "support/log.h"
#include "tests/support/child_process.h"
#include "tests/support/nginx_server.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr std::int64_t kMiB = 1024 * 1024;

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const std::string& why) {
    std::fprintf(stderr, "download_bench: %s\n", why.c_str());
    std::exit(1);
}

void WriteRandomFile(const std::string& path, std::int64_t size) {
    if (!WriteRandomBytes(path, size, 0x9e3779b97f4a7c15ull))
        Fail("cannot write " + path);
}

bool SameContent(const std::string& a, const std::string& b) {
    std::FILE* fa = std::fopen(a.c_str(), "rb");
    std::FILE* fb = std::fopen(b.c_str(), "rb");
    bool same = fa && fb;
    std::vector<char> ba(kMiB), bb(kMiB);
    while (same) {
        std::size_t na = std::fread(ba.data(), 1, ba.size(), fa);
        std::size_t nb = std::fread(bb.data(), 1, bb.size(), fb);
        same = na == nb && std::equal(ba.begin(), ba.begin() + na, bb.begin());
        if (na == 0)
            break;
    }
    if (fa)
        std::fclose(fa);
    if (fb)
        std::fclose(fb);
    return same;
}

void RemoveOutputs(const std::string& path) {
    std::error_code error;
    for (const char* suffix : {"", "_0", "_1", "_2", ".aria2"})
        std::filesystem::remove(path + suffix, error);
}

bool RunTool(const std::vector<std::string>& argv) {
    ChildOptions options;
    options.timeoutMs = 600000;
    ChildResult result = RunChild(argv, options);
    if (!result.finished || result.exitStatus != 0) {
        std::fprintf(stderr, "%s failed: %s\n", argv[0].c_str(), result.stdErr.c_str());
        return false;
    }
    return true;
}

struct Contender {
    const char* name;
    std::string output;
    std::function<bool()> run;
    std::vector<double> seconds;
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    std::string work =
        argc > 1 && *argv[1] ? argv[1] : "/tmp/felto-download-bench-" + std::to_string(getpid());
    int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    std::int64_t size = (argc > 3 ? std::max(1, std::atoi(argv[3])) : 512) * kMiB;
    std::filesystem::create_directories(work + "/www");
    std::filesystem::create_directories(work + "/out");
    SetLogPath(work + "/FeltoInstaller.log");

    std::string source = work + "/www/big.bin";
    WriteRandomFile(source, size);
    NginxServer nginx;
    if (!nginx.Start(work + "/www"))
        Fail("nginx did not start: " + nginx.ErrorLog());
    EngineSettings settings = GetEngineSettings();
    settings.port = nginx.port();
    OverrideEngineSettingsForTesting(settings);
    std::string url = "http://127.0.0.1:" + std::to_string(nginx.port()) + "/big.bin";

    std::vector<Contender> contenders;
    contenders.push_back({"felto", work + "/out/felto.bin", nullptr, {}});
    contenders.back().run = [out = contenders.back().output] {
        std::int64_t fileSize = 0;
        std::atomic<std::int64_t> received{0};
        return HttpDownload("http://127.0.0.1/big.bin", out, fileSize, received, 1);
    };
    contenders.push_back({"curl", work + "/out/curl.bin", nullptr, {}});
    contenders.back().run = [url, out = contenders.back().output] {
        return RunTool({"curl", "-s", "-S", "-o", out, url});
    };
    contenders.push_back({"aria2c", work + "/out/aria2c.bin", nullptr, {}});
    contenders.back().run = [url, work] {
        return RunTool({"aria2c", "-q", "-x3", "-s3", "--allow-overwrite=true",
                        "--auto-file-renaming=false", "-d", work + "/out", "-o", "aria2c.bin",
                        url});
    };

    for (int round = 0; round < rounds; ++round) {
        // A different one goes first each round, so none always meets a busier disk.
        for (std::size_t k = 0; k < contenders.size(); ++k) {
            Contender& c = contenders[(k + round) % contenders.size()];
            RemoveOutputs(c.output);
            ::sync();
            Clock::time_point start = Clock::now();
            if (!c.run())
                Fail(std::string(c.name) + " did not download the file");
            c.seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
            if (round == 0 && !SameContent(source, c.output))
                Fail(std::string(c.name) + " wrote other bytes than the server has");
            std::printf("round %d  %-7s %7.3f s\n", round + 1, c.name, c.seconds.back());
        }
    }

    double felto = Median(contenders[0].seconds);
    double curl = Median(contenders[1].seconds);
    double aria2c = Median(contenders[2].seconds);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    double peakMiB = usage.ru_maxrss / 1024.0;
    std::printf("\n%lld MiB from nginx on loopback, median of %d rounds\n",
                static_cast<long long>(size / kMiB), rounds);
    std::printf("  felto   %7.3f s  %7.1f MiB/s\n", felto, size / kMiB / felto);
    std::printf("  curl    %7.3f s  %7.1f MiB/s\n", curl, size / kMiB / curl);
    std::printf("  aria2c  %7.3f s  %7.1f MiB/s\n", aria2c, size / kMiB / aria2c);
    std::printf("felto / curl   = %.3f  (goal: at most 1.25)  %s\n", felto / curl,
                felto / curl <= 1.25 ? "met" : "MISSED");
    std::printf("felto / aria2c = %.3f  (goal: below 1)       %s\n", felto / aria2c,
                felto < aria2c ? "met" : "MISSED");
    std::printf("peak RSS       = %.1f MiB (goal: under 16)   %s\n", peakMiB,
                peakMiB < 16 ? "met" : "MISSED");

    nginx.Stop();
    std::error_code error;
    std::filesystem::remove_all(work, error);
    return 0;
}
