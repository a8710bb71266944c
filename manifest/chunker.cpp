#include "manifest/chunker.h"

#include "manifest/gear_table.h"
#include "manifest/md5.h"

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

// The hash shifts one bit per byte, so its top bits depend on the last 64 bytes only: the test
// looks there. Before the average size a boundary needs more bits to be zero than after it,
// which gathers the chunk sizes near the average (FastCDC's normalised chunking).
constexpr std::uint64_t kMaskBeforeAverage = ~std::uint64_t(0) << (64 - 21);
constexpr std::uint64_t kMaskAfterAverage = ~std::uint64_t(0) << (64 - 17);

} // namespace

std::size_t ChunkCutter::Feed(const unsigned char* data, std::size_t length, bool& cut) {
    cut = false;
    std::size_t i = 0;
    // The first kChunkMin bytes of a chunk can hold no boundary; the hash starts after them.
    if (size_ < kChunkMin) {
        i = std::min(length, kChunkMin - size_);
        size_ += i;
    }
    std::uint64_t hash = hash_;
    // Two plain loops, one per mask: the chunk's size at byte i is size_ + (i - start) + 1.
    const std::size_t start = i;
    const std::size_t base = size_;
    auto scan = [&](std::size_t end, std::uint64_t mask) {
        for (; i < end; ++i) {
            hash = (hash << 1) + kGearTable[data[i]];
            if ((hash & mask) == 0)
                return true;
        }
        return false;
    };
    const std::size_t toAverage = base + 1 < kChunkAverage ? kChunkAverage - base - 1 : 0;
    const std::size_t toMax = kChunkMax - base;
    bool found = scan(start + std::min(length - start, toAverage), kMaskBeforeAverage) ||
                 scan(start + std::min(length - start, toMax), kMaskAfterAverage);
    if (found || i - start == toMax) {
        if (!found)
            --i; // the longest chunk ends at its last byte
        cut = true;
        hash_ = 0;
        size_ = 0;
        return i + 1;
    }
    size_ = base + (i - start);
    hash_ = hash;
    return length;
}

bool CutFileIntoChunks(const std::string& path, std::vector<ChunkPiece>& chunks,
                       std::string* fileMd5) {
    chunks.clear();
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                         std::fclose);
    if (!file)
        return false;
    Md5Context whole;
    auto piece = std::make_unique<Md5Context>();
    ChunkCutter cutter;
    std::int64_t pieceSize = 0;
    bool digestsOk = true;
    auto endPiece = [&] {
        unsigned char digest[16];
        digestsOk = piece->Final(digest) && digestsOk;
        chunks.push_back({Md5Hex(digest), pieceSize});
        piece = std::make_unique<Md5Context>();
        pieceSize = 0;
    };
    static constexpr std::size_t kBlock = 64 * 1024;
    std::vector<unsigned char> block(kBlock);
    for (;;) {
        std::size_t got = std::fread(block.data(), 1, kBlock, file.get());
        if (fileMd5)
            whole.Update(block.data(), got);
        for (std::size_t pos = 0; pos < got;) {
            bool cut = false;
            std::size_t taken = cutter.Feed(block.data() + pos, got - pos, cut);
            piece->Update(block.data() + pos, taken);
            pieceSize += static_cast<std::int64_t>(taken);
            pos += taken;
            if (cut)
                endPiece();
        }
        if (got < kBlock)
            break;
    }
    if (std::ferror(file.get()))
        return false;
    if (pieceSize > 0)
        endPiece();
    if (fileMd5) {
        unsigned char digest[16];
        digestsOk = whole.Final(digest) && digestsOk;
        *fileMd5 = Md5Hex(digest);
    }
    return digestsOk;
}
