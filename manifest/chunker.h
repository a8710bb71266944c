#pragma once
// Content-defined chunks of a file: boundaries found by a rolling "gear" hash over the bytes
// themselves, so that bytes inserted or removed in one place move no boundary further on, and
// the same bytes always give the same chunks, whoever cuts them.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A chunk is never shorter than kChunkMin (except a file's last) nor longer than kChunkMax;
// boundaries come about every kChunkAverage bytes.
constexpr std::size_t kChunkMin = 128 * 1024;
constexpr std::size_t kChunkAverage = 512 * 1024;
constexpr std::size_t kChunkMax = 2 * 1024 * 1024;

// Finds boundaries in bytes fed piece by piece; holds no bytes itself.
class ChunkCutter {
  public:
    // How many of `data`'s bytes belong to the chunk in progress: all of them, or those up to
    // and including a boundary, when `cut` becomes true and the next chunk starts after them.
    std::size_t Feed(const unsigned char* data, std::size_t length, bool& cut);

  private:
    std::uint64_t hash_ = 0;
    std::size_t size_ = 0; // bytes of the chunk in progress
};

struct ChunkPiece {
    std::string md5; // 32 lowercase hexadecimal digits
    std::int64_t size = 0;
};

// A file cut into chunks, read once in small blocks: each chunk's MD5 and size, in order, and the
// MD5 of the whole when `fileMd5` is given. False when the file cannot be opened or read, or no
// MD5 can be had.
bool CutFileIntoChunks(const std::string& path, std::vector<ChunkPiece>& chunks,
                       std::string* fileMd5);
