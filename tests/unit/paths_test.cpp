#include "support/paths.h"

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

TEST(MakeDirectoriesTest, RelativePathMakesOnlyTheLastFolder) {
    TempDir dir;
    // Relative to nothing we control: a parent that does not exist cannot be made.
    EXPECT_EQ(MakeDirectories("felto-no-such-parent-xyz/new/sub"), 0);
    EXPECT_EQ(platform::QueryPath("felto-no-such-parent-xyz"), PathKind::Missing);
}

} // namespace
