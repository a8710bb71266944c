#include "support/paths.h"

#include "app/install_folder.h"
#include "manifest/install_path.h"
#include "platform/platform.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

using platform::PathKind;

TEST(ReplaceAllTest, RewritesEveryOccurrence) {
    EXPECT_EQ(ReplaceAll("no separators", "\\", "/"), "no separators");
    EXPECT_EQ(ReplaceAll("a\\\\b", "\\", "/"), "a//b");
    EXPECT_EQ(ReplaceAll("D:\\Felto/incoming\\x", "\\", "/"), "D:/Felto/incoming/x");
    // Occurrences formed by a replacement with its neighbours are replaced too.
    EXPECT_EQ(ReplaceAll("aab", "ab", "b"), "b");
    // A call that could never end leaves the text alone.
    EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");
    EXPECT_EQ(ReplaceAll("abc", "b", "bb"), "abc");
}

bool OnWindows() {
    return std::string(platform::NativeSeparator()) == "\\";
}

// "\x81\x5c" is one character in code page 936, which the Windows build's texts are in; the
// native build's texts are UTF-8, where 0x5C is always "\".
TEST(ReplaceAllTest, StepsOverTwoByteCharacters) {
    const std::string name = "a\x81\\\\b\xb1\xed\\c";
    if (OnWindows()) {
        EXPECT_EQ(ReplaceAll(name, "\\", "/"), "a\x81\\/b\xb1\xed/c");
        EXPECT_EQ(PathComponents(name), (std::vector<std::string>{"a\x81\\", "b\xb1\xed", "c"}));
        // A lead byte at the very end is a character of its own.
        EXPECT_EQ(ReplaceAll("x\\\x81", "\\", "/"), "x/\x81");
    } else {
        EXPECT_EQ(ReplaceAll(name, "\\", "/"), "a\x81//b\xb1\xed/c");
        EXPECT_EQ(PathComponents(name), (std::vector<std::string>{"a\x81", "", "b\xb1\xed", "c"}));
    }
    EXPECT_EQ(PathComponents("/a\\b//"), (std::vector<std::string>{"", "a", "b", "", ""}));
    EXPECT_EQ(PathComponents(""), (std::vector<std::string>{""}));
}

TEST(InstallPathKeyTest, OneKeyForEveryNameOfOneFile) {
    EXPECT_EQ(InstallPathKey("Data\\Config.INI"), "data/config.ini");
    EXPECT_EQ(InstallPathKey("./data//config.ini. "), "data/config.ini");
    EXPECT_NE(InstallPathKey("data/config.ini"), InstallPathKey("data/config.in"));
    // Trail bytes that look like capitals are not letters of their own.
    EXPECT_EQ(InstallPathKey("\xb1\x41"), OnWindows() ? "\xb1\x41" : "\xb1\x61");
    EXPECT_TRUE(IsArchiverPath("Plantform\\x64\\7Z.exe"));
    EXPECT_FALSE(IsArchiverPath("plantform/x86/7z.exe/x"));
}

TEST(MakeDirectoriesTest, MakesMissingParentsOfARootedPath) {
    TempDir dir;
    std::string nested = dir / "Felto/incoming/deep";
    EXPECT_NE(MakeDirectories(nested.c_str()), 0);
    EXPECT_EQ(platform::QueryPath(nested), PathKind::Directory);
    // Already there: still success, whatever the separators.
    std::string mixed = ReplaceAll(dir.path(), "/", platform::NativeSeparator()) + "/Felto";
    EXPECT_NE(MakeDirectories(mixed.c_str()), 0);
}

TEST(MakeDirectoriesTest, TrailingSeparatorIsAccepted) {
    TempDir dir;
    std::string path = dir / "Felto/incoming/";
    EXPECT_NE(MakeDirectories(path.c_str()), 0);
    EXPECT_EQ(platform::QueryPath(dir / "Felto/incoming"), PathKind::Directory);
}

TEST(MakeDirectoriesTest, AFileInTheWayFailsAndIsLeftAlone) {
    TempDir dir;
    WriteFile(dir / "Felto", "player data");
    std::string path = dir / "Felto/incoming";
    EXPECT_EQ(MakeDirectories(path.c_str()), 0);
    EXPECT_EQ(ReadFile(dir / "Felto"), "player data");
}

TEST(MakeDirectoriesTest, BackslashesSeparateFoldersOnEverySystem) {
    TempDir dir;
    std::string path = dir.path() + "\\Felto\\data";
    EXPECT_NE(MakeDirectories(path.c_str()), 0);
    EXPECT_EQ(platform::QueryPath(dir / "Felto/data"), PathKind::Directory);
    // Copying agrees with making the folders: the file lands inside them.
    WriteFile(dir / "source", "bytes");
    ASSERT_TRUE(platform::CopyFileOver(dir / "source", path + "\\config.ini"));
    EXPECT_EQ(ReadFile(dir / "Felto/data/config.ini"), "bytes");
}

TEST(MakeDirectoriesTest, AFolderThatCannotBeMadeTellsWhy) {
    TempDir dir;
    WriteFile(dir / "Felto", "player data");
    int error = 0;
    std::string path = dir / "Felto";
    EXPECT_EQ(MakeDirectories(path.c_str(), error), 0);
    EXPECT_NE(error, 0);
    EXPECT_FALSE(platform::SystemErrorText(error).empty());
    path = dir / "made";
    EXPECT_NE(MakeDirectories(path.c_str(), error), 0);
    EXPECT_EQ(error, 0);
}

TEST(MakeDirectoriesTest, RelativePathMakesOnlyTheLastFolder) {
    TempDir dir;
    // Relative to nothing we control: a parent that does not exist cannot be made.
    EXPECT_EQ(MakeDirectories("felto-no-such-parent-xyz/new/sub"), 0);
    EXPECT_EQ(platform::QueryPath("felto-no-such-parent-xyz"), PathKind::Missing);
}

TEST(InstallFolderTest, AFolderThePlayerPicksGetsAFeltoFolderInsideUnlessItIsOne) {
    EXPECT_EQ(InstallFolderUnder("E:\\Games", '\\'), "E:\\Games\\Felto");
    EXPECT_EQ(InstallFolderUnder("C:\\Users\\player\\Desktop", '\\'),
              "C:\\Users\\player\\Desktop\\Felto");
    // A drive root comes with its separator; no second one is added.
    EXPECT_EQ(InstallFolderUnder("C:\\", '\\'), "C:\\Felto");
    EXPECT_EQ(InstallFolderUnder("/", '/'), "/Felto");
    EXPECT_EQ(InstallFolderUnder("/home/player", '/'), "/home/player/Felto");
    // Already the game's folder, in any letter case.
    EXPECT_EQ(InstallFolderUnder("E:\\Games\\Felto", '\\'), "E:\\Games\\Felto");
    EXPECT_EQ(InstallFolderUnder("E:\\Games\\fELTO", '\\'), "E:\\Games\\fELTO");
    EXPECT_EQ(InstallFolderUnder("E:\\Felto\\", '\\'), "E:\\Felto\\");
    EXPECT_EQ(InstallFolderUnder("F:/felto", '\\'), "F:/felto");
    // Names that only contain the word, or a Felto further up, are not the game's folder.
    EXPECT_EQ(InstallFolderUnder("E:\\MyFelto", '\\'), "E:\\MyFelto\\Felto");
    EXPECT_EQ(InstallFolderUnder("E:\\Felto2", '\\'), "E:\\Felto2\\Felto");
    EXPECT_EQ(InstallFolderUnder("E:\\Felto\\Games", '\\'), "E:\\Felto\\Games\\Felto");
    // A folder named in code page 936 ("游戏") keeps its bytes.
    EXPECT_EQ(InstallFolderUnder("E:\\\xd3\xce\xcf\xb7", '\\'), "E:\\\xd3\xce\xcf\xb7\\Felto");
}

TEST(InstallFolderTest, TheDialogStartsAtTheNearestFolderThatExists) {
    TempDir dir;
    EXPECT_EQ(NearestExistingFolder(dir.path()), dir.path());
    EXPECT_EQ(NearestExistingFolder(dir / "Felto"), dir.path());
    EXPECT_EQ(NearestExistingFolder(dir / "a/b\\c\\"), dir.path());
    MakeDirectories((dir / "a/b").c_str());
    EXPECT_EQ(NearestExistingFolder(dir / "a/b/c/d"), dir / "a/b");
    // A file is no folder to start in.
    WriteFile(dir / "file", "x");
    EXPECT_EQ(NearestExistingFolder(dir / "file/Felto"), dir.path());
    // Nothing above a drive that is not there, or a relative name that is not there.
    EXPECT_EQ(NearestExistingFolder("Q:\\Felto"), "");
    EXPECT_EQ(NearestExistingFolder("felto-no-such-folder-xyz"), "");
    // The fallback start is a folder that exists.
    EXPECT_EQ(platform::QueryPath(platform::SystemDriveRoot()), PathKind::Directory);

    // It must also take the install: the nearest folder is tried, and left as it was.
    EXPECT_EQ(DialogStartFolder(dir / "a/b/c/d"), dir / "a/b");
    EXPECT_EQ(platform::QueryPath(dir / "a/b/~felto-folder-probe"), PathKind::Missing);
    EXPECT_EQ(DialogStartFolder("Q:\\Felto"), platform::SystemDriveRoot());
    // A folder where nothing can be made, whoever runs the test: the system drive instead.
    if (std::string(platform::NativeSeparator()) == "/") {
        EXPECT_EQ(DialogStartFolder("/proc/Felto"), platform::SystemDriveRoot());
    }
}

} // namespace
