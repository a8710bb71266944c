#pragma once
// A file's chunk list, itself a content-addressed object: text of LF-ended lines, the first
// "<file md5>\t<file bytes>", then "<chunk md5>\t<chunk bytes>" for every chunk in order. Digests
// are 32 lowercase hexadecimal digits, sizes decimal. The chunks lie beside the list, each in the
// object tree's usual place for its digest (see ChunkUrl).

#include "manifest/chunker.h"

#include <cstdint>
#include <string>
#include <vector>

struct ChunkList {
    std::string fileMd5;
    std::int64_t fileSize = 0;
    std::vector<ChunkPiece> chunks;
};

// Why a chunk list is not used.
enum class ChunkListRefusal {
    None,
    Truncated,        // the last line has no line end, or the list is empty
    BadLine,          // a line that is not "<md5>\t<bytes>"
    NoChunks,         // a file of some bytes with no chunk, or a chunk of no bytes
    SizesDisagree,    // the chunks' sizes do not add up to the file's
    OneDigestTwoSizes // one chunk digest named with two sizes
};

struct ChunkListReading {
    ChunkList list;
    ChunkListRefusal refusal = ChunkListRefusal::None;
};

ChunkListReading ParseChunkList(const std::string& bytes);
std::string ChunkListText(const ChunkList& list);
// Says why, for the log.
const char* ChunkListRefusalText(ChunkListRefusal refusal);

// The URL path of a chunk, from its list's: the list lies at "<folder>/<2 digits>/<list md5>",
// the chunk at "<folder>/<its first 2 digits>/<chunk md5>". Empty when the list's path has no
// such form.
std::string ChunkUrl(const std::string& listUrl, const std::string& chunkMd5);
// A 32-digit lowercase hexadecimal text.
bool IsLowerMd5(const std::string& text);
