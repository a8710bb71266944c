#include "manifest/chunk_list.h"

#include <map>

namespace {

bool ParseSize(const std::string& text, std::int64_t& size) {
    constexpr std::size_t kMostDigits = 15; // far beyond any file, far within 64 bits
    if (text.empty() || text.size() > kMostDigits ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    size = std::stoll(text);
    return true;
}

bool ParseLine(const std::string& line, ChunkPiece& piece) {
    std::size_t tab = line.find('\t');
    if (tab == std::string::npos)
        return false;
    piece.md5 = line.substr(0, tab);
    return IsLowerMd5(piece.md5) && ParseSize(line.substr(tab + 1), piece.size);
}

} // namespace

bool IsLowerMd5(const std::string& text) {
    return text.size() == 32 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

ChunkListReading ParseChunkList(const std::string& bytes) {
    ChunkListReading reading;
    auto refuse = [&reading](ChunkListRefusal refusal) {
        reading.refusal = refusal;
        reading.list = ChunkList();
        return reading;
    };
    if (bytes.empty() || bytes.back() != '\n')
        return refuse(ChunkListRefusal::Truncated);
    std::map<std::string, std::int64_t> sizeOf;
    std::int64_t sum = 0;
    bool first = true;
    for (std::size_t pos = 0; pos < bytes.size();) {
        std::size_t end = bytes.find('\n', pos);
        ChunkPiece piece;
        if (!ParseLine(bytes.substr(pos, end - pos), piece))
            return refuse(ChunkListRefusal::BadLine);
        pos = end + 1;
        if (first) {
            reading.list.fileMd5 = piece.md5;
            reading.list.fileSize = piece.size;
            first = false;
            continue;
        }
        if (piece.size == 0)
            return refuse(ChunkListRefusal::NoChunks);
        // A chunk that repeats (runs of zeros, say) is named again; with another size it cannot
        // be the same chunk.
        auto known = sizeOf.emplace(piece.md5, piece.size);
        if (!known.second && known.first->second != piece.size)
            return refuse(ChunkListRefusal::OneDigestTwoSizes);
        sum += piece.size;
        if (sum > reading.list.fileSize)
            return refuse(ChunkListRefusal::SizesDisagree);
        reading.list.chunks.push_back(std::move(piece));
    }
    if (reading.list.chunks.empty() && reading.list.fileSize > 0)
        return refuse(ChunkListRefusal::NoChunks);
    if (sum != reading.list.fileSize)
        return refuse(ChunkListRefusal::SizesDisagree);
    return reading;
}

std::string ChunkListText(const ChunkList& list) {
    std::string text = list.fileMd5 + '\t' + std::to_string(list.fileSize) + '\n';
    for (const ChunkPiece& chunk : list.chunks)
        text += chunk.md5 + '\t' + std::to_string(chunk.size) + '\n';
    return text;
}

const char* ChunkListRefusalText(ChunkListRefusal refusal) {
    switch (refusal) {
    case ChunkListRefusal::None:
        return "usable";
    case ChunkListRefusal::Truncated:
        return "cut short";
    case ChunkListRefusal::BadLine:
        return "a line is no digest and size";
    case ChunkListRefusal::NoChunks:
        return "an empty chunk or none";
    case ChunkListRefusal::SizesDisagree:
        return "the chunks do not add up to the file";
    case ChunkListRefusal::OneDigestTwoSizes:
        return "one chunk named with two sizes";
    }
    return "unknown";
}

std::string ChunkUrl(const std::string& listUrl, const std::string& chunkMd5) {
    std::size_t nameStart = listUrl.rfind('/');
    if (nameStart == std::string::npos || nameStart < 3 || listUrl[nameStart - 3] != '/' ||
        !IsLowerMd5(chunkMd5))
        return std::string();
    return listUrl.substr(0, nameStart - 2) + chunkMd5.substr(0, 2) + "/" + chunkMd5;
}
