#include "manifest/chunk_list.h"
#include "manifest/chunker.h"
#include "manifest/md5.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::vector<ChunkPiece> Cut(const TempDir& dir, const std::string& bytes, std::string& md5) {
    WriteFile(dir / "file", bytes);
    std::vector<ChunkPiece> chunks;
    EXPECT_TRUE(CutFileIntoChunks(dir / "file", chunks, &md5));
    return chunks;
}

std::vector<std::int64_t> Ends(const std::vector<ChunkPiece>& chunks) {
    std::vector<std::int64_t> ends;
    std::int64_t end = 0;
    for (const ChunkPiece& chunk : chunks)
        ends.push_back(end += chunk.size);
    return ends;
}

TEST(ChunkerTest, CutsWithinTheBoundsAndHashesEveryPiece) {
    TempDir dir;
    const std::string bytes = MakeBytes(12 * 1024 * 1024 + 77, 3);
    std::string md5;
    std::vector<ChunkPiece> chunks = Cut(dir, bytes, md5);
    ASSERT_GE(chunks.size(), 6u);
    EXPECT_LE(chunks.size(), 96u);
    EXPECT_EQ(md5, FileMd5(dir / "file"));
    std::size_t at = 0;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        if (i + 1 < chunks.size()) {
            EXPECT_GE(chunks[i].size, static_cast<std::int64_t>(kChunkMin));
        }
        EXPECT_LE(chunks[i].size, static_cast<std::int64_t>(kChunkMax));
        WriteFile(dir / "piece", bytes.substr(at, chunks[i].size));
        EXPECT_EQ(chunks[i].md5, FileMd5(dir / "piece")) << "chunk " << i;
        at += chunks[i].size;
    }
    EXPECT_EQ(at, bytes.size());
    // Bytes with no boundary at all are cut at the longest chunk; nothing is the empty chunk list.
    chunks = Cut(dir, std::string(5 * 1024 * 1024, '\0'), md5);
    EXPECT_EQ(Ends(chunks), (std::vector<std::int64_t>{2 << 20, 4 << 20, 5 << 20}));
    EXPECT_EQ(chunks[0].md5, chunks[1].md5);
    EXPECT_TRUE(Cut(dir, std::string(), md5).empty());
}

// The point of content-defined boundaries: an insertion or change disturbs only the chunks
// around it, and the cut does not depend on how the bytes were read.
TEST(ChunkerTest, AnInsertionMovesNoLaterBoundary) {
    TempDir dir;
    const std::string bytes = MakeBytes(16 * 1024 * 1024, 11);
    const std::size_t at = 5 * 1024 * 1024 + 123;
    const std::string inserted = bytes.substr(0, at) + std::string(1024, 'x') + bytes.substr(at);
    std::string md5;
    std::vector<std::int64_t> before = Ends(Cut(dir, bytes, md5));
    std::vector<std::int64_t> after = Ends(Cut(dir, inserted, md5));
    std::size_t same = 0, moved = 0, lost = 0;
    for (std::int64_t end : before) {
        if (end < static_cast<std::int64_t>(at)) {
            same += std::count(after.begin(), after.end(), end);
        } else if (std::count(after.begin(), after.end(), end + 1024)) {
            ++moved;
        } else {
            ++lost;
            EXPECT_LT(end, static_cast<std::int64_t>(at + kChunkMax)) << "a far boundary moved";
        }
    }
    EXPECT_GT(same, 0u);
    EXPECT_GT(moved, 10u);
    EXPECT_LE(lost, 1u);

    // Fed in odd pieces, the cutter finds the same boundaries as the file's reader.
    ChunkCutter cutter;
    std::vector<std::int64_t> fed;
    std::size_t pos = 0;
    for (std::size_t piece = 1; pos < bytes.size(); piece = piece * 7 % 100003 + 1) {
        std::size_t length = std::min(piece, bytes.size() - pos);
        for (std::size_t done = 0; done < length;) {
            bool cut = false;
            done += cutter.Feed(reinterpret_cast<const unsigned char*>(bytes.data()) + pos + done,
                                length - done, cut);
            if (cut)
                fed.push_back(static_cast<std::int64_t>(pos + done));
        }
        pos += length;
    }
    fed.push_back(static_cast<std::int64_t>(bytes.size()));
    EXPECT_EQ(fed, before);
}

TEST(ChunkListTest, ReadsWhatItWrites) {
    ChunkList list{
        std::string(32, 'a'), 30, {{std::string(32, 'b'), 10}, {std::string(32, 'c'), 20}}};
    const std::string text = ChunkListText(list);
    EXPECT_EQ(text, std::string(32, 'a') + "\t30\n" + std::string(32, 'b') + "\t10\n" +
                        std::string(32, 'c') + "\t20\n");
    ChunkListReading reading = ParseChunkList(text);
    ASSERT_EQ(reading.refusal, ChunkListRefusal::None);
    EXPECT_EQ(reading.list.fileMd5, list.fileMd5);
    EXPECT_EQ(reading.list.fileSize, 30);
    EXPECT_EQ(Ends(reading.list.chunks), (std::vector<std::int64_t>{10, 30}));
    // A chunk that repeats is named again: runs of equal bytes do that.
    ChunkListReading repeated =
        ParseChunkList(std::string(32, 'a') + "\t20\n" + std::string(32, 'b') + "\t10\n" +
                       std::string(32, 'b') + "\t10\n");
    EXPECT_EQ(repeated.refusal, ChunkListRefusal::None);
    EXPECT_EQ(repeated.list.chunks.size(), 2u);
}

struct Malformed {
    const char* what;
    std::string text;
    ChunkListRefusal refusal;
};

TEST(ChunkListTest, RefusesMalformedLists) {
    const std::string a(32, 'a'), b(32, 'b'), c(32, 'c');
    const Malformed cases[] = {
        {"empty", "", ChunkListRefusal::Truncated},
        {"cut in a line", a + "\t30\n" + b + "\t1", ChunkListRefusal::Truncated},
        {"cut at a line", a + "\t30\n" + b + "\t10\n", ChunkListRefusal::SizesDisagree},
        {"too many bytes", a + "\t5\n" + b + "\t10\n", ChunkListRefusal::SizesDisagree},
        {"upper case", a + "\t10\n" + std::string(32, 'B') + "\t10\n", ChunkListRefusal::BadLine},
        {"short digest", a + "\t10\n" + b.substr(1) + "\t10\n", ChunkListRefusal::BadLine},
        {"blank for tab", a + " 10\n" + b + "\t10\n", ChunkListRefusal::BadLine},
        {"signed size", a + "\t10\n" + b + "\t+10\n", ChunkListRefusal::BadLine},
        {"huge size", a + "\t10\n" + b + "\t9999999999999999\n", ChunkListRefusal::BadLine},
        {"CR LF", a + "\t10\r\n" + b + "\t10\r\n", ChunkListRefusal::BadLine},
        {"empty line", a + "\t10\n\n" + b + "\t10\n", ChunkListRefusal::BadLine},
        {"no chunks", a + "\t10\n", ChunkListRefusal::NoChunks},
        {"empty chunk", a + "\t10\n" + b + "\t0\n" + c + "\t10\n", ChunkListRefusal::NoChunks},
        {"same chunk, two sizes", a + "\t30\n" + b + "\t10\n" + b + "\t20\n",
         ChunkListRefusal::OneDigestTwoSizes},
    };
    for (const Malformed& malformed : cases) {
        ChunkListReading reading = ParseChunkList(malformed.text);
        EXPECT_EQ(reading.refusal, malformed.refusal) << malformed.what;
        EXPECT_TRUE(reading.list.chunks.empty()) << malformed.what;
    }
}

TEST(ChunkListTest, ChunksLieBesideTheirList) {
    const std::string chunk = "cd" + std::string(30, '1');
    EXPECT_EQ(ChunkUrl("microclient/objects/ab/ab" + std::string(30, '0'), chunk),
              "microclient/objects/cd/" + chunk);
    EXPECT_EQ(ChunkUrl("ab/ab" + std::string(30, '0'), chunk), "");
    EXPECT_EQ(ChunkUrl("x/abc/ab" + std::string(30, '0'), chunk), "");
    EXPECT_EQ(ChunkUrl("x/ab/ab" + std::string(30, '0'), "../etc"), "");
}

} // namespace
