// Publishing again into a tree that players may be installing from at that moment.

#include "manifest/manifest_signature.h"
#include "manifest/md5.h"
#include "tests/publish/publish_helpers.h"
#include "tests/support/manifest_signing.h"
#include "tests/support/temp_dir.h"

#include <ctime>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

ino_t Inode(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_ino;
}

// Every object that a manifest names is there, under its own digest.
void ExpectEveryListedObjectPresent(const std::string& output) {
    const std::map<std::string, std::string> objects = ObjectFiles(output);
    for (bool x64 : {false, true}) {
        for (const ListedFile& file : ReadPublishedManifest(output, x64).files) {
            auto found = objects.find(file.url);
            ASSERT_NE(found, objects.end()) << file.url << " is missing";
            EXPECT_EQ(found->second, LastComponent(file.url));
        }
    }
}

class Republish : public ::testing::Test {
  protected:
    void SetUp() override {
        PutFirstRelease(game);
        PutFile(game, "data/music.ogg", MakeBytes(8000, 3));
    }
    ChildResult Publish() {
        return RunPublisher({"--input", game, "--output", output, "--pack", "*.pak"});
    }

    TempDir temp;
    const std::string game = temp / "game";
    const std::string output = temp / "www";
};

TEST_F(Republish, AnUnchangedFolderWritesNothing) {
    ChildResult first = Publish();
    ASSERT_EQ(first.exitStatus, 0) << first.stdErr;
    EXPECT_NE(first.stdErr.find(" 5 new objects"), std::string::npos) << first.stdErr;
    const auto objects = ObjectFiles(output);
    const std::string manifest = ReadFile(ManifestPath(output));
    const ino_t manifestInode = Inode(ManifestPath(output));
    const ino_t packedInode = Inode(output + "/" + ReadPublishedManifest(output).files[3].url);

    ChildResult second = Publish();
    ASSERT_EQ(second.exitStatus, 0) << second.stdErr;
    EXPECT_NE(second.stdErr.find(" 0 new objects"), std::string::npos) << second.stdErr;
    EXPECT_EQ(ObjectFiles(output), objects) << "the packed file was packed again";
    EXPECT_EQ(ReadFile(ManifestPath(output)), manifest);
    EXPECT_EQ(Inode(ManifestPath(output)), manifestInode) << "an unchanged manifest was rewritten";
    EXPECT_EQ(Inode(output + "/" + ReadPublishedManifest(output).files[3].url), packedInode);
}

struct ChangedFile {
    const char* path;
    bool packed;
};

void PrintTo(const ChangedFile& file, std::ostream* out) {
    *out << file.path;
}

class RepublishOneChange : public Republish, public ::testing::WithParamInterface<ChangedFile> {};

TEST_P(RepublishOneChange, WritesOneNewObjectAndLeavesTheOthersAlone) {
    ChildResult first = Publish();
    ASSERT_EQ(first.exitStatus, 0) << first.stdErr;
    const auto before = ObjectFiles(output);
    const PublishedManifest oldManifest = ReadPublishedManifest(output);

    PutFile(game, GetParam().path, "new content of " + std::string(GetParam().path));
    ChildResult second = Publish();
    ASSERT_EQ(second.exitStatus, 0) << second.stdErr;
    EXPECT_NE(second.stdErr.find(" 1 new objects"), std::string::npos) << second.stdErr;

    const auto after = ObjectFiles(output);
    ASSERT_EQ(after.size(), before.size() + 1);
    for (const auto& [path, md5] : before) {
        ASSERT_TRUE(after.count(path)) << path << " was removed";
        EXPECT_EQ(after.at(path), md5) << path << " was changed";
    }
    const PublishedManifest newManifest = ReadPublishedManifest(output);
    ASSERT_EQ(newManifest.files.size(), oldManifest.files.size());
    for (std::size_t i = 0; i < newManifest.files.size(); ++i) {
        const ListedFile &was = oldManifest.files[i], &is = newManifest.files[i];
        EXPECT_EQ(is.relPath, was.relPath);
        if (is.relPath != GetParam().path) {
            EXPECT_EQ(is.url, was.url);
            continue;
        }
        EXPECT_NE(is.url, was.url);
        EXPECT_EQ(is.md5, FileMd5(game + "/" + is.relPath));
        EXPECT_EQ(LastComponent(is.url) != is.md5, GetParam().packed);
        EXPECT_EQ(after.count(is.url), 1u);
        EXPECT_EQ(before.count(is.url), 0u);
    }
    EXPECT_EQ(ReadFile(ManifestPath(output, true)), ReadFile(ManifestPath(output)));
    ExpectEveryListedObjectPresent(output);
}

INSTANTIATE_TEST_SUITE_P(PlainOrPacked, RepublishOneChange,
                         ::testing::Values(ChangedFile{"readme.txt", false},
                                           ChangedFile{"data/level.pak", true}),
                         [](const ::testing::TestParamInfo<ChangedFile>& info) {
                             return std::string(info.param.packed ? "Packed" : "Plain");
                         });

TEST_F(Republish, ADamagedPackedObjectIsPackedAgain) {
    ChildResult first = Publish();
    ASSERT_EQ(first.exitStatus, 0) << first.stdErr;
    const ListedFile packed = ReadPublishedManifest(output).files[3];
    ASSERT_EQ(packed.relPath, "data/level.pak");
    WriteFile(output + "/" + packed.url, "truncated");

    ChildResult second = Publish();
    ASSERT_EQ(second.exitStatus, 0) << second.stdErr;
    const ListedFile repacked = ReadPublishedManifest(output).files[3];
    EXPECT_NE(repacked.url, packed.url);
    EXPECT_EQ(FileMd5(output + "/" + repacked.url), LastComponent(repacked.url));
    const auto members = UnpackArchive(output + "/" + repacked.url, temp / "unpacked");
    ASSERT_EQ(members.size(), 1u);
    EXPECT_EQ(members.begin()->first, packed.md5);
}

TEST_F(Republish, PackingSwitchedOffAndOnAgainReusesBothObjects) {
    ASSERT_EQ(Publish().exitStatus, 0);
    const std::string packedUrl = ReadPublishedManifest(output).files[3].url;
    ChildResult plain = RunPublisher({"--input", game, "--output", output});
    ASSERT_EQ(plain.exitStatus, 0) << plain.stdErr;
    const ListedFile plainFile = ReadPublishedManifest(output).files[3];
    EXPECT_EQ(LastComponent(plainFile.url), plainFile.md5);

    ChildResult again = Publish();
    ASSERT_EQ(again.exitStatus, 0) << again.stdErr;
    EXPECT_NE(again.stdErr.find(" 0 new objects"), std::string::npos) << again.stdErr;
    EXPECT_EQ(ReadPublishedManifest(output).files[3].url, packedUrl);
}

TEST_F(Republish, LeftoversOfAnInterruptedRunAreCleared) {
    ASSERT_EQ(Publish().exitStatus, 0);
    const std::string objectLeftover = output + "/microclient/objects/.felto-tmp-1-0-pack";
    const std::string manifestLeftover =
        output + "/microclient/download/.felto-tmp-1-1-launcher_manifest.js";
    PutFile(objectLeftover, "7z.log", "half an archive");
    WriteFile(manifestLeftover, "#5\nhalf");

    ASSERT_EQ(Publish().exitStatus, 0);
    EXPECT_FALSE(FileExists(objectLeftover));
    EXPECT_FALSE(FileExists(manifestLeftover));
    ExpectEveryListedObjectPresent(output);
}

TEST_F(Republish, SignaturesVerifyWithOpensslAndStayWhileTheirManifestsDo) {
    ASSERT_EQ(Publish().exitStatus, 0);
    const std::string sig = ManifestPath(output) + ".sig",
                      sigX64 = ManifestPath(output, true) + ".sig";
    EXPECT_FALSE(FileExists(sig) || FileExists(sigX64)) << "signed without --sign-key";

    auto publishSigned = [&] {
        ChildResult run = RunPublisher({"--input", game, "--output", output, "--pack", "*.pak",
                                        "--sign-key", TestPrivateKeyPath()});
        EXPECT_EQ(run.exitStatus, 0) << run.stdErr;
        return run.stdErr;
    };
    std::string said = publishSigned();
    EXPECT_NE(said.find("launcher_manifest.js (6 files) unchanged, signed"), std::string::npos)
        << said;
    EXPECT_TRUE(OpensslVerifies(ManifestPath(output), sig));
    EXPECT_TRUE(OpensslVerifies(ManifestPath(output, true), sigX64));
    // Both manifests hold the same bytes: the name in what is signed tells them apart.
    ASSERT_EQ(ReadFile(ManifestPath(output)), ReadFile(ManifestPath(output, true)));
    EXPECT_FALSE(OpensslVerifies(ManifestPath(output), sigX64));

    const std::string signature = ReadFile(sig);
    const ino_t inode = Inode(sig);
    said = publishSigned();
    EXPECT_EQ(said.find(", signed"), std::string::npos) << said;
    EXPECT_EQ(ReadFile(sig), signature);
    EXPECT_EQ(Inode(sig), inode);

    PutFile(game, "readme.txt", "second words");
    said = publishSigned();
    EXPECT_NE(said.find("launcher_manifest_x64.js (6 files) written, signed"), std::string::npos)
        << said;
    EXPECT_NE(ReadFile(sig), signature);
    EXPECT_TRUE(OpensslVerifies(ManifestPath(output), sig));
    EXPECT_TRUE(OpensslVerifies(ManifestPath(output, true), sigX64));
}

// The release number in a signature file's head.
std::uint64_t ReleaseIn(const std::string& signatureFile) {
    std::string head, der;
    ReleaseStamp stamp;
    EXPECT_EQ(SplitSignatureFile(ReadFile(signatureFile), head, stamp, der),
              SignatureFileKind::Stamped);
    return stamp.release;
}

TEST_F(Republish, EveryPublishAndResignSignsAHigherReleaseAndResignTouchesNoObject) {
    const std::string sig = ManifestPath(output) + ".sig",
                      sigX64 = ManifestPath(output, true) + ".sig";
    const std::int64_t before = static_cast<std::int64_t>(std::time(nullptr));
    ChildResult run = RunPublisher({"--input", game, "--output", output, "--sign-key",
                                    TestPrivateKeyPath(), "--expires-in", "30"});
    ASSERT_EQ(run.exitStatus, 0) << run.stdErr;
    // The current Unix time while no signature in the tree holds a higher one; both share it.
    const std::uint64_t first = ReleaseIn(sig);
    EXPECT_GE(first, static_cast<std::uint64_t>(before));
    EXPECT_EQ(ReleaseIn(sigX64), first);
    std::string head, der;
    ReleaseStamp stamp;
    SplitSignatureFile(ReadFile(sig), head, stamp, der);
    ASSERT_TRUE(stamp.expires);
    EXPECT_GE(*stamp.expires, before + 30 * 24 * 3600);
    EXPECT_LE(*stamp.expires, static_cast<std::int64_t>(std::time(nullptr)) + 30 * 24 * 3600);

    // A number far ahead of the clock (a tree another machine published) is still surpassed.
    const std::string ahead = "felto-release-signature 1\nrelease 99999999999\nexpires none\n\n";
    WriteFile(sig, ahead + der);
    PutFile(game, "readme.txt", "second words");
    run = RunPublisher({"--input", game, "--output", output, "--sign-key", TestPrivateKeyPath()});
    ASSERT_EQ(run.exitStatus, 0) << run.stdErr;
    EXPECT_EQ(ReleaseIn(sig), 100000000000u);
    EXPECT_EQ(ReleaseIn(sigX64), 100000000000u);
    EXPECT_NE(run.stdErr.find("signed as release 100000000000"), std::string::npos) << run.stdErr;

    std::map<std::string, std::string> objects;
    for (const auto& item : fs::recursive_directory_iterator(output + "/microclient/objects"))
        if (item.is_regular_file())
            objects[item.path()] = ReadFile(item.path());
    const std::string manifest = ReadFile(ManifestPath(output));
    run = RunPublisherCapturingOutput(
        {"resign", output, "--sign-key", TestPrivateKeyPath(), "--expires-in", "7"});
    ASSERT_EQ(run.exitStatus, 0) << run.stdErr;
    EXPECT_NE(run.stdErr.find("as release 100000000001, expiring "), std::string::npos)
        << run.stdErr;
    EXPECT_EQ(ReleaseIn(sigX64), 100000000001u);
    EXPECT_TRUE(OpensslVerifies(ManifestPath(output), sig));
    EXPECT_TRUE(OpensslVerifies(ManifestPath(output, true), sigX64));
    EXPECT_EQ(ReadFile(ManifestPath(output)), manifest);
    std::size_t same = 0;
    for (const auto& item : fs::recursive_directory_iterator(output + "/microclient/objects"))
        if (item.is_regular_file())
            same += objects.count(item.path()) && objects[item.path()] == ReadFile(item.path());
    EXPECT_EQ(same, objects.size());

    // What resign refuses, writing nothing.
    const std::string signature = ReadFile(sig);
    EXPECT_EQ(RunPublisher({"resign", output, "--sign-key", TestPublicKeyPath()}).exitStatus, 3);
    EXPECT_EQ(RunPublisher({"resign", output}).exitStatus, 2);
    EXPECT_EQ(
        RunPublisher({"resign", output, "--sign-key", TestPrivateKeyPath(), "--expires-in", "soon"})
            .exitStatus,
        2);
    fs::remove(ManifestPath(output, true));
    EXPECT_EQ(RunPublisher({"resign", output, "--sign-key", TestPrivateKeyPath()}).exitStatus, 3);
    EXPECT_EQ(ReadFile(sig), signature);
}

} // namespace
