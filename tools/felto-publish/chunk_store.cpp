#include "object_store.h"

#include "manifest/chunk_list.h"
#include "manifest/md5.h"

#include <cstdio>
#include <memory>

namespace fs = std::filesystem;

namespace publish {

namespace {

Digest DigestOf(const std::string& bytes) {
    Md5Context context;
    context.Update(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    unsigned char digest[16];
    if (!context.Final(digest))
        throw PublishError("this system computes no MD5");
    return {Md5Hex(digest), bytes.size()};
}

} // namespace

std::string ObjectStore::StoreBytes(const std::string& bytes, const Digest& digest) {
    const std::string url = ObjectUrl(digest.md5);
    if (HoldsObject(url, digest.size)) {
        ++keptObjects_;
        return url;
    }
    const fs::path temp = objectsDir_ / TempName(digest.md5);
    WriteFileAtomically(temp, bytes);
    try {
        return Store(temp, digest);
    } catch (...) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        throw;
    }
}

std::string ObjectStore::ChunkListObject(const fs::path& file, const Digest& digest) {
    if (auto done = chunkListDone_.find(digest.md5); done != chunkListDone_.end())
        return done->second;
    ChunkList list;
    if (!CutFileIntoChunks(file.string(), list.chunks, &list.fileMd5))
        throw PublishError("cannot read " + file.string() + " to cut it into chunks");
    list.fileSize = static_cast<std::int64_t>(digest.size);
    const std::string changed = file.string() + " changed while it was being published; run again";
    if (list.fileMd5 != digest.md5)
        throw PublishError(changed);
    // The cut is read a second time to store the chunks; each must still be the one that was cut
    // (a chunk is at most kChunkMax bytes, so one at a time fits in memory).
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(file.c_str(), "rb"), std::fclose);
    if (!in)
        throw PublishError("cannot open " + file.string());
    std::string bytes;
    for (const ChunkPiece& chunk : list.chunks) {
        bytes.resize(static_cast<std::size_t>(chunk.size));
        if (std::fread(&bytes[0], 1, bytes.size(), in.get()) != bytes.size())
            throw PublishError(changed);
        const Digest chunkDigest = DigestOf(bytes);
        if (chunkDigest.md5 != chunk.md5)
            throw PublishError(changed);
        StoreBytes(bytes, chunkDigest);
    }
    const std::string text = ChunkListText(list);
    const std::string url = StoreBytes(text, DigestOf(text));
    chunkListDone_.emplace(digest.md5, url);
    return url;
}

} // namespace publish
