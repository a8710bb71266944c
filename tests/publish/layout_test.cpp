// What a publish run lays out for the server: manifests the installer can read and objects
// stored under their own MD5.

#include "app/installer_state.h"
#include "app/manifest_fetch.h"
#include "manifest/chunk_list.h"
#include "manifest/manifest_file.h"
#include "manifest/md5.h"
#include "tests/publish/publish_helpers.h"
#include "tests/support/temp_dir.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> RelPaths(const PublishedManifest& manifest) {
    std::vector<std::string> paths;
    for (const ListedFile& file : manifest.files)
        paths.push_back(file.relPath);
    return paths;
}

TEST(PublishLayout, ListsEveryFileWithItsDigestAndAnObjectNamedByIt) {
    TempDir temp;
    const std::string game = temp / "game", output = temp / "www";
    const std::map<std::string, std::string> files = {
        {"Felto.exe", MakeBytes(3000, 1)},
        {"readme.txt", "read me\r\n"},
        {"empty.cfg", ""},
        {"data/maps/first level.dat", MakeBytes(70000, 2)},
        {"plantform/x64/7z.exe", MakeBytes(500, 3)},
    };
    for (const auto& [path, bytes] : files)
        PutFile(game, path, bytes);

    ChildResult run = RunPublisher({"--input", game, "--output", output});
    ASSERT_EQ(run.exitStatus, 0) << run.stdErr;

    const PublishedManifest manifest = ReadPublishedManifest(output);
    EXPECT_EQ(manifest.header, "#" + std::to_string(manifest.body.size()));
    EXPECT_EQ(ReadFile(ManifestPath(output, true)), ReadFile(ManifestPath(output)))
        << "one folder serves both architectures";
    ASSERT_EQ(manifest.files.size(), files.size());
    std::set<std::string> listed;
    for (const ListedFile& file : manifest.files) {
        SCOPED_TRACE(file.relPath);
        ASSERT_TRUE(files.count(file.relPath));
        listed.insert(file.relPath);
        EXPECT_EQ(file.md5, FileMd5(game + "/" + file.relPath));
        EXPECT_EQ(file.url, "microclient/objects/" + file.md5.substr(0, 2) + "/" + file.md5);
        EXPECT_EQ(ReadFile(output + "/" + file.url), files.at(file.relPath));
        EXPECT_EQ(file.size, std::to_string(files.at(file.relPath).size()));
    }
    EXPECT_EQ(listed.size(), files.size()) << "a file is listed twice";
    EXPECT_EQ(ObjectFiles(output).size(), files.size());
}

// With --chunks a file above the threshold also lies in the tree as chunks, which its chunk list
// names in order; the whole object stays, so installers that know no chunks install as before.
TEST(PublishLayout, ChunksFilesAboveTheThresholdBesideTheirWholeObject) {
    TempDir temp;
    const std::string game = temp / "game", output = temp / "www";
    const std::string big = MakeBytes(5 * 1024 * 1024, 5), edge = MakeBytes(4 * 1024 * 1024, 6);
    PutFile(game, "data/big.bin", big);
    PutFile(game, "data/edge.bin", edge);
    PutFile(game, "data/level.pak", std::string(5 * 1024 * 1024, 'l'));
    PutFile(game, "small.txt", "small");
    ChildResult run = RunPublisher(
        {"--input", game, "--output", output, "--chunks", "--pack", "*.pak", "--allow-incomplete"});
    ASSERT_EQ(run.exitStatus, 0) << run.stdErr;
    const PublishedManifest manifest = ReadPublishedManifest(output);
    ASSERT_EQ(manifest.files.size(), 4u);
    EXPECT_EQ(manifest.files[1].chunkList, "") << "4 MiB is not above the threshold";
    EXPECT_EQ(manifest.files[2].chunkList, "") << "installers assemble no packed file";
    EXPECT_EQ(manifest.files[3].chunkList, "");
    const ListedFile& file = manifest.files[0];
    ASSERT_EQ(file.relPath, "data/big.bin");
    EXPECT_EQ(ReadFile(output + "/" + file.url), big);
    EXPECT_EQ(file.size, std::to_string(big.size()));
    const std::string listBytes = ReadFile(output + "/" + file.chunkList);
    WriteFile(temp / "list", listBytes);
    EXPECT_EQ(LastComponent(file.chunkList), FileMd5(temp / "list"));
    EXPECT_EQ(file.chunkList, "microclient/objects/" + LastComponent(file.chunkList).substr(0, 2) +
                                  "/" + LastComponent(file.chunkList));
    const ChunkListReading reading = ParseChunkList(listBytes);
    ASSERT_EQ(reading.refusal, ChunkListRefusal::None);
    EXPECT_EQ(reading.list.fileMd5, file.md5);
    EXPECT_GE(reading.list.chunks.size(), 3u);
    std::string joined;
    for (const ChunkPiece& chunk : reading.list.chunks)
        joined += ReadFile(output + "/" + ChunkUrl(file.chunkList, chunk.md5));
    EXPECT_TRUE(joined == big) << "the chunks do not make the file";

    // The same bytes give the same chunks: publishing again writes nothing new.
    const std::map<std::string, std::string> before = ObjectFiles(output);
    run = RunPublisher({"--input", game, "--output", output, "--chunks-over", "4194304", "--pack",
                        "*.pak", "--allow-incomplete"});
    ASSERT_EQ(run.exitStatus, 0) << run.stdErr;
    EXPECT_NE(run.stdErr.find(" 0 new objects"), std::string::npos) << run.stdErr;
    EXPECT_EQ(ObjectFiles(output), before);
}

TEST(PublishLayout, TheArchiverComesFirstThenEveryPathInByteOrder) {
    TempDir temp;
    const std::string game = temp / "game", output = temp / "www";
    for (const char* path : {"zzz.txt", "a/b.txt", "Felto.exe", "plantformer.txt", "B.txt",
                             "plantform/x86/7z.exe", "plantform/x64/7z.exe", "a/B/c.txt"})
        PutFile(game, path, path);

    ChildResult run = RunPublisher({"--input", game, "--output", output});
    ASSERT_EQ(run.exitStatus, 0) << run.stdErr;

    const std::vector<std::string> expected = {"plantform/x64/7z.exe",
                                               "plantform/x86/7z.exe",
                                               "B.txt",
                                               "Felto.exe",
                                               "a/B/c.txt",
                                               "a/b.txt",
                                               "plantformer.txt",
                                               "zzz.txt"};
    EXPECT_EQ(RelPaths(ReadPublishedManifest(output)), expected);
    EXPECT_EQ(RelPaths(ReadPublishedManifest(output, true)), expected);
}

TEST(PublishLayout, EachArchitectureGetsItsOwnTreeAndSharesEqualFiles) {
    TempDir temp;
    const std::string x86 = temp / "x86", x64 = temp / "x64", output = temp / "www";
    PutFile(x86, "common.dat", "shared bytes");
    PutFile(x64, "common.dat", "shared bytes");
    PutFile(x86, "bin/engine.dll", "32-bit engine");
    PutFile(x64, "bin/engine.dll", "64-bit engine");
    PutFile(x64, "bin/extra64.dll", "only on 64-bit");

    ChildResult run = RunPublisher(
        {"--input", x86, "--input-x64", x64, "--output", output, "--allow-incomplete"});
    ASSERT_EQ(run.exitStatus, 0) << run.stdErr;

    const PublishedManifest manifest32 = ReadPublishedManifest(output, false);
    const PublishedManifest manifest64 = ReadPublishedManifest(output, true);
    EXPECT_EQ(RelPaths(manifest32), (std::vector<std::string>{"bin/engine.dll", "common.dat"}));
    EXPECT_EQ(RelPaths(manifest64),
              (std::vector<std::string>{"bin/engine.dll", "bin/extra64.dll", "common.dat"}));
    ASSERT_EQ(manifest32.files.size(), 2u);
    ASSERT_EQ(manifest64.files.size(), 3u);
    EXPECT_EQ(ReadFile(output + "/" + manifest32.files[0].url), "32-bit engine");
    EXPECT_EQ(ReadFile(output + "/" + manifest64.files[0].url), "64-bit engine");
    EXPECT_EQ(manifest32.files[1].url, manifest64.files[2].url);
    EXPECT_EQ(ObjectFiles(output).size(), 4u);
}

TEST(PublishLayout, AnEmptyFolderGivesAManifestWithNoEntries) {
    TempDir temp;
    fs::create_directories(temp / "game/only/folders");
    ChildResult run =
        RunPublisher({"--input", temp / "game", "--output", temp / "www", "--allow-incomplete"});
    ASSERT_EQ(run.exitStatus, 0) << run.stdErr;
    EXPECT_EQ(ReadFile(ManifestPath(temp / "www")), "#0\n");
    EXPECT_EQ(ReadFile(ManifestPath(temp / "www", true)), "#0\n");
}

TEST(PublishLayout, LinksInsideTheFolderArePublishedAsWhatTheyReach) {
    TempDir temp;
    const std::string game = temp / "game", output = temp / "www";
    PutFile(game, "real/data.bin", "the data");
    fs::create_symlink("real/data.bin", game + "/link.bin");
    fs::create_directory_symlink("real", game + "/alias");

    ChildResult run = RunPublisher({"--input", game, "--output", output, "--allow-incomplete"});
    ASSERT_EQ(run.exitStatus, 0) << run.stdErr;

    const PublishedManifest manifest = ReadPublishedManifest(output);
    EXPECT_EQ(RelPaths(manifest),
              (std::vector<std::string>{"alias/data.bin", "link.bin", "real/data.bin"}));
    for (const ListedFile& file : manifest.files)
        EXPECT_EQ(ReadFile(output + "/" + file.url), "the data") << file.relPath;
    EXPECT_EQ(ObjectFiles(output).size(), 1u);
    EXPECT_TRUE(fs::is_regular_file(output + "/" + manifest.files[0].url))
        << "an object must not be a link into the game folder";
}

// The installer's own reader, run in a child process because it ends the process on a bad
// manifest; the child exits with 42 only when every line was taken as published.
TEST(PublishLayout, TheInstallerReadsEveryPublishedLine) {
    TempDir temp;
    const std::string game = temp / "game", output = temp / "www";
    // The longest path that still fits in one manifest line of 509 characters.
    const std::string longest =
        std::string(200, 'd') + "/" + std::string(200, 'e') + "/" + std::string(18, 'f');
    PutFile(game, longest, "deep");
    PutFile(game, "plantform/x86/7z.exe", "archiver");
    PutFile(game, "name with blanks.txt", "blanks");
    ChildResult run = RunPublisher({"--input", game, "--output", output, "--allow-incomplete"});
    ASSERT_EQ(run.exitStatus, 0) << run.stdErr;
    // Readable by the installer, but too long for a Windows path under D:\Felto\ (429).
    EXPECT_NE(run.stdErr.find("warning: " + longest +
                              ": 429 characters under D:\\Felto\\, over "
                              "the 259 of a classic Windows path: the installer installs it"),
              std::string::npos)
        << run.stdErr;
    EXPECT_EQ(run.stdErr.find("name with blanks.txt: "), std::string::npos) << run.stdErr;
    const PublishedManifest published = ReadPublishedManifest(output);
    ASSERT_EQ(published.files.size(), 3u);
    ASSERT_EQ(published.files[1].relPath, longest);
    EXPECT_EQ(published.files[1].url.size() + 1 + longest.size() + 1 + 32, 509u);
    // No room for the size on the longest line; the others carry it.
    EXPECT_EQ(published.files[1].size, "");
    EXPECT_EQ(published.files[0].size, "8");

    EXPECT_EXIT(
        {
            strInstallDir = temp / "install";
            InstallerState& state = GetInstallerState();
            state.manifestEntry = std::make_unique<FileEntry>();
            state.manifestEntry->strTargetPath = ManifestPath(output);
            state.manifestEntry->strIncomingPath = ManifestPath(output);
            bool same = CheckSizeHeader(*state.manifestEntry);
            ReadManifest();
            same = same && state.fileEntries.size() == published.files.size();
            for (std::size_t i = 0; same && i < published.files.size(); ++i) {
                const FileEntry& entry = state.fileEntries[i];
                const ListedFile& file = published.files[i];
                const std::int64_t size = file.size.empty() ? -1 : std::stoll(file.size);
                same = entry.strUrl == file.url && entry.strManifestMd5 == file.md5 &&
                       entry.nListedSize == size && entry.strObjectMd5 == LastComponent(file.url) &&
                       entry.strTargetPath == strInstallDir + "/" + file.relPath;
            }
            std::exit(same ? 42 : 1);
        },
        ::testing::ExitedWithCode(42), "");
}

} // namespace
