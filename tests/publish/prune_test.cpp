// Pruning a published tree: only what neither manifest names goes, and only from a tree that the
// installer can use.

#include "manifest/chunk_list.h"
#include "tests/publish/publish_helpers.h"
#include "tests/support/temp_dir.h"

#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <set>
#include <sys/file.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class Prune : public ::testing::Test {
  protected:
    void SetUp() override {
        PutFirstRelease(game);
        // Objects only the 64-bit manifest names must stay too.
        PutFile(game64, "plantform/x64/7z.exe", "archiver");
        PutFile(game64, "Felto.exe", MakeBytes(1200, 4));
        Publish();
        // The next release changes a plain and a packed file.
        PutFile(game, "data/level.pak", MakeBytes(6000, 3));
        PutFile(game, "readme.txt", "second words");
        Publish();
    }
    void Publish() {
        const ChildResult run = RunPublisher(
            {"--input", game, "--input-x64", game64, "--output", output, "--pack", "*.pak"});
        ASSERT_EQ(run.exitStatus, 0) << run.stdErr;
    }
    ChildResult RunPrune(const std::vector<std::string>& extra) {
        std::vector<std::string> args{"prune", output};
        args.insert(args.end(), extra.begin(), extra.end());
        return RunPublisherCapturingOutput(args);
    }
    std::set<std::string> Referenced() {
        std::set<std::string> urls;
        for (bool x64 : {false, true}) {
            for (const ListedFile& file : ReadPublishedManifest(output, x64).files)
                urls.insert(file.url);
        }
        return urls;
    }

    // The one chunk list the 32-bit manifest names.
    std::string ListUrl() {
        std::string url;
        for (const ListedFile& file : ReadPublishedManifest(output).files) {
            if (!file.chunkList.empty()) {
                EXPECT_TRUE(url.empty()) << "a second chunk list";
                url = file.chunkList;
            }
        }
        return url;
    }
    // That list and its chunks, below the tree.
    std::set<std::string> Chunks() {
        const std::string url = ListUrl();
        const ChunkListReading reading = ParseChunkList(ReadFile(output + "/" + url));
        EXPECT_EQ(reading.refusal, ChunkListRefusal::None) << url;
        std::set<std::string> objects{url};
        for (const ChunkPiece& chunk : reading.list.chunks)
            objects.insert(ChunkUrl(url, chunk.md5));
        return objects;
    }

    TempDir temp;
    const std::string game = temp / "game";
    const std::string game64 = temp / "game64";
    const std::string output = temp / "www";
};

TEST_F(Prune, RemovesExactlyTheObjectsNoManifestNames) {
    const std::map<std::string, std::string> before = ObjectFiles(output);
    const std::set<std::string> referenced = Referenced();
    std::uintmax_t strayBytes = 0;
    std::vector<std::string> strays;
    for (const auto& [path, md5] : before) {
        if (!referenced.count(path)) {
            strays.push_back(path);
            strayBytes += fs::file_size(output + "/" + path);
        }
    }
    ASSERT_EQ(strays.size(), 2u); // the old readme and the old packed level

    const ChildResult dryRun = RunPrune({"--dry-run"});
    ASSERT_EQ(dryRun.exitStatus, 0) << dryRun.stdErr;
    for (const std::string& stray : strays)
        EXPECT_NE(dryRun.stdErr.find("would remove " + stray + " ("), std::string::npos)
            << dryRun.stdErr;
    EXPECT_NE(dryRun.stdErr.find("would remove 2 unreferenced objects, " +
                                 std::to_string(strayBytes) + " bytes"),
              std::string::npos)
        << dryRun.stdErr;
    EXPECT_EQ(ObjectFiles(output), before) << "a dry run removed something";

    const ChildResult prune = RunPrune({});
    ASSERT_EQ(prune.exitStatus, 0) << prune.stdErr;
    std::set<std::string> left;
    for (const auto& [path, md5] : ObjectFiles(output))
        left.insert(path);
    EXPECT_EQ(left, referenced);

    // The first release again: its packed object is gone, so it must be packed anew, not named.
    PutFile(game, "data/level.pak", MakeBytes(5000, 2));
    PutFile(game, "readme.txt", "first words");
    Publish();
    const std::map<std::string, std::string> after = ObjectFiles(output);
    for (const std::string& url : Referenced()) {
        auto found = after.find(url);
        ASSERT_NE(found, after.end()) << url << " is named but missing";
        EXPECT_EQ(found->second, LastComponent(url));
    }
}

TEST_F(Prune, RemovesNothingFromATreeTheInstallerCannotUse) {
    const std::string manifest = ReadFile(ManifestPath(output));
    const std::string x64 = ReadFile(ManifestPath(output, true));
    const std::string named = output + "/" + ReadPublishedManifest(output).files.back().url;
    const std::string namedBytes = ReadFile(named);
    struct Damage {
        const char* what;
        std::function<void()> apply, undo;
    } damages[] = {
        {"a named object is missing", [&] { fs::remove(named); },
         [&] { WriteFile(named, namedBytes); }},
        {"a size header is wrong", [&] { WriteFile(ManifestPath(output), manifest + "x\n"); },
         [&] { WriteFile(ManifestPath(output), manifest); }},
        {"the 64-bit manifest is missing", [&] { fs::remove(ManifestPath(output, true)); },
         [&] { WriteFile(ManifestPath(output, true), x64); }},
    };
    for (const Damage& damage : damages) {
        damage.apply();
        const std::map<std::string, std::string> before = ObjectFiles(output);
        const ChildResult prune = RunPrune({});
        EXPECT_EQ(prune.exitStatus, 3) << damage.what << "\n" << prune.stdErr;
        EXPECT_NE(prune.stdErr.find("nothing was removed"), std::string::npos) << prune.stdErr;
        EXPECT_EQ(ObjectFiles(output), before) << damage.what;
        damage.undo();
    }
}

// A chunk list and its chunks are kept while a manifest names the list; those of an earlier
// release go like any object no manifest names.
TEST_F(Prune, KeepsTheChunkListsAndChunksAManifestNames) {
    std::string big = MakeBytes(3 * 1024 * 1024, 9);
    const std::vector<std::string> chunked{"--input",       game,     "--input-x64", game64,
                                           "--output",      output,   "--pack",      "*.pak",
                                           "--chunks-over", "1000000"};
    PutFile(game, "data/big.bin", big);
    ASSERT_EQ(RunPublisher(chunked).exitStatus, 0);
    const std::set<std::string> firstChunks = Chunks();
    big.replace(big.size() / 2, 4096, MakeBytes(4096, 10));
    PutFile(game, "data/big.bin", big);
    ASSERT_EQ(RunPublisher(chunked).exitStatus, 0);
    std::set<std::string> kept = Referenced(), chunks = Chunks();
    ASSERT_GE(chunks.size(), 4u); // one list and its chunks
    kept.insert(chunks.begin(), chunks.end());
    std::size_t shared = 0;
    for (const std::string& chunk : firstChunks)
        shared += chunks.count(chunk);
    EXPECT_GE(shared, 2u) << "a change in the middle left no chunk as it was";

    const std::string list = output + "/" + ListUrl();
    const std::string listBytes = ReadFile(list);
    const std::string chunk =
        output + "/" + *(*chunks.begin() == ListUrl() ? std::next(chunks.begin()) : chunks.begin());
    const std::string chunkBytes = ReadFile(chunk);
    const std::pair<std::string, std::string> damages[] = {
        {list, ""}, {list, listBytes.substr(0, listBytes.size() - 1)}, {chunk, ""}};
    for (const auto& [path, bytes] : damages) {
        if (bytes.empty())
            fs::remove(path);
        else
            WriteFile(path, bytes);
        const std::map<std::string, std::string> before = ObjectFiles(output);
        const ChildResult refused = RunPrune({});
        EXPECT_EQ(refused.exitStatus, 3) << path << "\n" << refused.stdErr;
        EXPECT_EQ(ObjectFiles(output), before) << path;
        WriteFile(list, listBytes);
        WriteFile(chunk, chunkBytes);
    }

    const ChildResult prune = RunPrune({});
    ASSERT_EQ(prune.exitStatus, 0) << prune.stdErr;
    std::set<std::string> left;
    for (const auto& [path, md5] : ObjectFiles(output))
        left.insert(path);
    EXPECT_EQ(left, kept);
}

TEST_F(Prune, RemovesNothingWhileAPublisherHoldsTheTree) {
    const int fd = ::open((output + "/.felto-publish.lock").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    const std::map<std::string, std::string> before = ObjectFiles(output);
    const ChildResult prune = RunPrune({});
    ::close(fd);
    EXPECT_EQ(prune.exitStatus, 1) << prune.stdErr;
    EXPECT_NE(prune.stdErr.find("another felto-publish is writing"), std::string::npos)
        << prune.stdErr;
    EXPECT_EQ(ObjectFiles(output), before);
}

} // namespace
