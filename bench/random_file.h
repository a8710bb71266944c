#pragma once
// Incompressible, reproducible content for the benchmarks, written a MiB at a time so the bench
// itself stays small.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Writes `size` bytes of a xorshift stream that starts from `state`; false when the file cannot
// be written whole.
inline bool WriteRandomBytes(const std::string& path, std::int64_t size, std::uint64_t state) {
    constexpr std::int64_t kChunk = 1024 * 1024;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    std::vector<std::uint64_t> chunk(kChunk / 8);
    bool ok = true;
    for (std::int64_t left = size; ok && left > 0;) {
        for (std::uint64_t& word : chunk) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            word = state;
        }
        std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(left, kChunk));
        ok = std::fwrite(chunk.data(), 1, n, file) == n;
        left -= static_cast<std::int64_t>(n);
    }
    return std::fclose(file) == 0 && ok;
}
