// Files delivered as 7-Zip archives: the installer unpacks the object and looks for a file named
// by the installed file's MD5.

#include "manifest/md5.h"
#include "tests/publish/publish_helpers.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <set>

namespace {

std::map<std::string, ListedFile> ByPath(const PublishedManifest& manifest) {
    std::map<std::string, ListedFile> files;
    for (const ListedFile& file : manifest.files)
        files[file.relPath] = file;
    return files;
}

bool IsPacked(const ListedFile& file) {
    return LastComponent(file.url) != file.md5;
}

TEST(PublishPacking, APackedObjectHoldsOnlyTheFileNamedByItsDigest) {
    TempDir temp;
    const std::string game = temp / "game", output = temp / "www";
    const std::map<std::string, std::string> files = {
        {"data/level.pak", MakeBytes(3000, 1)},       // by pattern
        {"movie.bin", MakeBytes(4097, 2)},            // one byte over the limit
        {"exactly.bin", MakeBytes(4096, 3)},          // at the limit: left as it is
        {"small.txt", "small"},                       // neither
        {"Felto.exe", MakeBytes(100, 4)},             // by pattern
        {"plantform/x64/7z.exe", MakeBytes(9000, 5)}, // the archiver, never packed
        {"plantform/x86/7z.exe", MakeBytes(9000, 6)},
    };
    for (const auto& [path, bytes] : files)
        PutFile(game, path, bytes);

    ChildResult run = RunPublisher({"--input", game, "--output", output, "--pack", "*.pak",
                                    "--pack=*.exe", "--pack-over", "4096"});
    ASSERT_EQ(run.exitStatus, 0) << run.stdErr;

    const std::map<std::string, ListedFile> listed = ByPath(ReadPublishedManifest(output));
    ASSERT_EQ(listed.size(), files.size());
    const std::set<std::string> packed = {"data/level.pak", "movie.bin", "Felto.exe"};
    int unpackCount = 0;
    for (const auto& [path, file] : listed) {
        SCOPED_TRACE(path);
        const std::string object = output + "/" + file.url;
        EXPECT_EQ(file.md5, FileMd5(game + "/" + path));
        EXPECT_EQ(FileMd5(object), LastComponent(file.url)) << "object not named by its MD5";
        EXPECT_EQ(IsPacked(file), packed.count(path) == 1);
        if (!IsPacked(file)) {
            EXPECT_EQ(ReadFile(object), files.at(path));
            continue;
        }
        const auto members =
            UnpackArchive(object, temp / ("unpacked" + std::to_string(unpackCount++)));
        ASSERT_EQ(members.size(), 1u);
        EXPECT_EQ(members.begin()->first, file.md5);
        EXPECT_EQ(members.begin()->second, files.at(path));
    }
    // The archiver must come before the first packed file.
    const PublishedManifest manifest = ReadPublishedManifest(output);
    EXPECT_FALSE(IsPacked(manifest.files[0]));
    EXPECT_EQ(manifest.files[0].relPath, "plantform/x64/7z.exe");
}

TEST(PublishPacking, APatternWithASlashMatchesTheWholePath) {
    TempDir temp;
    const std::string game = temp / "game", output = temp / "www";
    for (const char* path : {"data/a.pak", "data/sub/b.pak", "c.pak", "other/data/d.pak"})
        PutFile(game, path, path);

    ChildResult run = RunPublisher(
        {"--input", game, "--output", output, "--pack", "data/*.pak", "--allow-incomplete"});
    ASSERT_EQ(run.exitStatus, 0) << run.stdErr;

    const std::map<std::string, ListedFile> listed = ByPath(ReadPublishedManifest(output));
    ASSERT_EQ(listed.size(), 4u);
    EXPECT_TRUE(IsPacked(listed.at("data/a.pak")));
    EXPECT_FALSE(IsPacked(listed.at("data/sub/b.pak")));
    EXPECT_FALSE(IsPacked(listed.at("c.pak")));
    EXPECT_FALSE(IsPacked(listed.at("other/data/d.pak")));
}

} // namespace
