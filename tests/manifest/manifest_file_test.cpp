#include "app/installer_state.h"
#include "app/manifest_fetch.h"
#include "manifest/install_path.h"
#include "manifest/manifest_file.h"
#include "manifest/md5.h"
#include "platform/platform.h"
#include "support/log.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace {

const char kDigestA[] = "0cc175b9c0f1b6a831c399e269772661";
const char kDigestB[] = "92eb5ffee6ae2fec3ad71c777531578f";

// A death-test child ends through exit(), which skips the fixture's clean-up.
void RemoveAtExit(const std::string& path) {
    static std::string folder;
    folder = path;
    std::atexit([] {
        std::error_code error;
        std::filesystem::remove_all(folder, error);
    });
}

std::string Header(const std::string& body) {
    return "#" + std::to_string(body.size()) + "\n" + body;
}

class ManifestTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The failing reads end the process; run them in a fresh copy of the test program.
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        strInstallDir = dir_.path();
        SetLogPath(dir_ / "FeltoInstaller.log");
        ResetLogForTesting();
        State().manifestEntry =
            std::make_unique<FileEntry>(MakeFileEntry(strManifestUrl, strInstallDir));
    }
    void TearDown() override {
        ResetLogForTesting();
        State().pendingEntries.clear();
        State().fileEntries.clear();
        State().manifestEntry.reset();
        strInstallDir.clear();
    }

    static InstallerState& State() { return GetInstallerState(); }
    void WriteManifest(const std::string& bytes) {
        WriteFile(State().manifestEntry->strTargetPath, bytes);
    }
    const std::vector<FileEntry>& Entries() { return State().fileEntries; }
    // ReadManifest must end the run, reporting an error code that matches the pattern.
    void ExpectRunEndsWith(const std::string& codePattern) {
        EXPECT_EXIT(
            {
                RemoveAtExit(dir_.path());
                ReadManifest();
            },
            ::testing::ExitedWithCode(0), "error,code:" + codePattern);
    }

    TempDir dir_;
};

TEST_F(ManifestTest, EntryPathsComeFromTheUrlsLastComponent) {
    FileEntry entry = MakeFileEntry("x/y/data.pak", strInstallDir);
    EXPECT_EQ(entry.strName, "data.pak");
    EXPECT_EQ(entry.strUrl, "x/y/data.pak");
    EXPECT_EQ(entry.strObjectMd5, "data.pak");
    EXPECT_EQ(entry.strIncomingPath, dir_.path() + "/incoming/data.pak");
    EXPECT_EQ(entry.strTargetPath, dir_.path() + "/data.pak");
    EXPECT_EQ(entry.strManifestMd5, "");
    EXPECT_EQ(entry.nState.load(), 0);
    EXPECT_FALSE(entry.bOk.load());
    EXPECT_EQ(entry.checkFun, nullptr);

    EXPECT_EQ(MakeFileEntry("plain", strInstallDir).strName, "plain");
    EXPECT_EQ(MakeFileEntry("dir/", strInstallDir).strName, "");
    EXPECT_EQ(State().manifestEntry->strTargetPath, dir_.path() + "/launcher_manifest.js");
}

TEST_F(ManifestTest, ReadsEntriesInOrderSkippingComments) {
    WriteManifest(Header("# launcher files\n"
                         "x/y/" +
                         std::string(kDigestA) + "\tbin/game.dat\t" + kDigestB +
                         "\n"
                         "#\tnot\tan entry\n"
                         "z/" +
                         kDigestB + "\tFelto.exe\t" + kDigestA + "\n"));
    ReadManifest();
    ASSERT_EQ(Entries().size(), 2u);
    const FileEntry& first = Entries()[0];
    EXPECT_EQ(first.strUrl, "x/y/" + std::string(kDigestA));
    EXPECT_EQ(first.strName, kDigestA);
    EXPECT_EQ(first.strObjectMd5, kDigestA);
    EXPECT_EQ(first.strIncomingPath, dir_.path() + "/incoming/" + kDigestA);
    EXPECT_EQ(first.strTargetPath, dir_.path() + "/bin/game.dat");
    EXPECT_EQ(first.strManifestMd5, kDigestB);
    EXPECT_EQ(first.checkFun, &CheckObjectMd5);
    EXPECT_EQ(Entries()[1].strTargetPath, dir_.path() + "/Felto.exe");
    EXPECT_EQ(Entries()[1].strManifestMd5, kDigestA);
}

TEST_F(ManifestTest, TabRunsLeadingTabsAndExtraFieldsDoNotChangeAnEntry) {
    WriteManifest("#0\n"
                  "u/a\t\tbin/a.dat\t\t" +
                  std::string(kDigestA) +
                  "\n"
                  "\t\tu/b\tb.dat\t" +
                  kDigestB + "\tcomment\tmore\n");
    ReadManifest();
    ASSERT_EQ(Entries().size(), 2u);
    EXPECT_EQ(Entries()[0].strUrl, "u/a");
    EXPECT_EQ(Entries()[0].strTargetPath, dir_.path() + "/bin/a.dat");
    EXPECT_EQ(Entries()[0].strManifestMd5, kDigestA);
    EXPECT_EQ(Entries()[1].strUrl, "u/b");
    EXPECT_EQ(Entries()[1].strManifestMd5, kDigestB);
    EXPECT_EQ(Entries()[1].nListedSize, -1);
}

// The object's size after the digest is kept; what cannot be a size is ignored like any other
// extra field, so a manifest of a newer publisher never stops an installer.
TEST_F(ManifestTest, ASizeAfterTheDigestIsKeptAndAnythingElseThereIgnored) {
    const std::pair<const char*, std::int64_t> sizes[] = {
        {"\t12345", 12345}, {"\t\t0", 0},   {"\t77\tmore", 77},         {"", -1},
        {"\t-5", -1},       {"\t12ab", -1}, {"\t1234567890123456", -1}, {"\t 5", -1}};
    std::string body;
    for (const auto& [field, size] : sizes)
        body += "u/" + std::to_string(size) + std::to_string(body.size()) + "\tf" +
                std::to_string(body.size()) + "\t" + kDigestA + field + "\n";
    WriteManifest(Header(body));
    ReadManifest();
    ASSERT_EQ(Entries().size(), std::size(sizes));
    for (std::size_t i = 0; i < std::size(sizes); ++i) {
        EXPECT_EQ(Entries()[i].nListedSize, sizes[i].second) << sizes[i].first;
        EXPECT_EQ(Entries()[i].strManifestMd5, kDigestA) << sizes[i].first;
    }
}

// The chunk list's URL path after the size is kept only where an installer could use it.
TEST_F(ManifestTest, AChunkListAfterTheSizeIsKeptWhereItCanBeUsed) {
    const std::string list = "o/ab/ab" + std::string(30, '0');
    const std::pair<std::string, std::string> fields[] = {
        {"	10	" + list, list},
        {"	10	" + list + "	more", list},
        {"		" + list, ""},                              // no size before it
        {"	x	" + list, ""},                              // no size before it
        {"	10	" + list.substr(0, list.size() - 1), ""},   // no digest
        {"	10	o/ab/AB" + std::string(30, '0'), ""},       // no lower-case digest
        {"	10	ab" + std::string(30, '0'), ""},            // no two-digit folder
        {"	10	../ab/ab" + std::string(30, '0'), ""},      // leaves the tree
        {"	10	o/ab/ab" + std::string(30, '0') + " ", ""}, // blank in the name
    };
    std::string body;
    for (std::size_t i = 0; i < std::size(fields); ++i)
        body += "u/" + std::to_string(i) + "	f" + std::to_string(i) + "	" + kDigestA +
                fields[i].first + "\n";
    WriteManifest(Header(body));
    ReadManifest();
    ASSERT_EQ(Entries().size(), std::size(fields));
    for (std::size_t i = 0; i < std::size(fields); ++i)
        EXPECT_EQ(Entries()[i].strChunkListUrl, fields[i].second) << fields[i].first;
}

// Blanks belong to their field, but blanks after a digest name the same digest: kept, they made
// a plain download count as packed, and on Windows the "unpacked" file named the download.
TEST_F(ManifestTest, BlanksBelongToTheirFieldButTrailABlankDigest) {
    WriteManifest("#0\nu/" + std::string(kDigestA) + "\tMy Game/a b.dat\t" + kDigestA +
                  "  \nu/ b\tb.dat\t" + kDigestB + " x\n");
    ReadManifest();
    ASSERT_EQ(Entries().size(), 2u);
    EXPECT_EQ(Entries()[0].strTargetPath, dir_.path() + "/My Game/a b.dat");
    EXPECT_EQ(Entries()[0].strManifestMd5, kDigestA);
    EXPECT_EQ(Entries()[0].strObjectMd5, Entries()[0].strManifestMd5);
    EXPECT_EQ(Entries()[1].strName, " b");
    EXPECT_EQ(Entries()[1].strManifestMd5, std::string(kDigestB) + " x");
}

TEST_F(ManifestTest, AnEmptyLineEndsTheList) {
    WriteManifest("#0\nu/a\ta.dat\t" + std::string(kDigestA) + "\n\nu/b\tb.dat\t" + kDigestB +
                  "\n");
    ReadManifest();
    ASSERT_EQ(Entries().size(), 1u);
    EXPECT_EQ(Entries()[0].strUrl, "u/a");
}

TEST_F(ManifestTest, CrLfLineEndsReadAsLf) {
    WriteManifest("#0\r\nu/a\ta.dat\t" + std::string(kDigestA) + "\r\nu/b\tb.dat\t" + kDigestB +
                  "\r\n\r\nu/c\tc.dat\t" + kDigestA + "\r\n");
    ReadManifest();
    ASSERT_EQ(Entries().size(), 2u);
    EXPECT_EQ(Entries()[0].strManifestMd5, kDigestA);
    EXPECT_EQ(Entries()[1].strManifestMd5, kDigestB);
}

TEST_F(ManifestTest, TheLastEntryNeedsNoLineEnd) {
    WriteManifest("#0\nu/a\ta.dat\t" + std::string(kDigestA) + "\nu/b\tb.dat\t" + kDigestB);
    ReadManifest();
    ASSERT_EQ(Entries().size(), 2u);
    EXPECT_EQ(Entries()[1].strManifestMd5, kDigestB);
}

TEST_F(ManifestTest, EmptyFileAndBareHeaderGiveAnEmptyList) {
    WriteManifest("");
    ReadManifest();
    EXPECT_TRUE(Entries().empty());
    WriteManifest("#0\n");
    ReadManifest();
    EXPECT_TRUE(Entries().empty());
}

TEST_F(ManifestTest, ReadingAgainReplacesTheList) {
    WriteManifest("#0\nu/a\ta.dat\t" + std::string(kDigestA) + "\nu/b\tb.dat\t" + kDigestB);
    ReadManifest();
    WriteManifest("#0\nu/c\tc.dat\t" + std::string(kDigestA) + "\n");
    ReadManifest();
    ASSERT_EQ(Entries().size(), 1u);
    EXPECT_EQ(Entries()[0].strUrl, "u/c");
}

TEST_F(ManifestTest, LinesUpToTheLimitAreRead) {
    std::string prefix = "u/a\t";
    std::string suffix = "\t" + std::string(kDigestA);
    std::string path(kManifestLineLimit - prefix.size() - suffix.size(), 'p');
    std::string line = prefix + path + suffix;
    ASSERT_EQ(line.size(), static_cast<std::size_t>(kManifestLineLimit));
    // A long comment is passed over whole and the entries after it still count.
    std::string comment = "#" + std::string(2000, 'c');
    WriteManifest("#0\n" + line + "\r\n" + comment + "\nu/b\tb.dat\t" + kDigestB + "\n");
    ReadManifest();
    ASSERT_EQ(Entries().size(), 2u);
    EXPECT_EQ(Entries()[0].strTargetPath, dir_.path() + "/" + path);
    EXPECT_EQ(Entries()[0].strManifestMd5, kDigestA);
    EXPECT_EQ(Entries()[1].strUrl, "u/b");
}

TEST_F(ManifestTest, AnEntryLongerThanTheLimitIsRefused) {
    std::string line = "u/a\t" + std::string(kManifestLineLimit, 'p') + "\t" + kDigestA;
    WriteManifest("#0\n" + line + "\n");
    ExpectRunEndsWith("105");
}

TEST_F(ManifestTest, MalformedLinesEndTheRunWith105) {
    const std::string digest = kDigestA;
    const std::string lines[] = {
        "u/a a.dat\t" + digest, // a blank is no separator
        "u/a\ta.dat " + digest, //
        " #u/a\ta.dat",         // a comment must start at the first column
        "u/a\ta.dat",           // two fields
        "\t\t\t",               // tabs only
    };
    for (const std::string& line : lines) {
        WriteManifest("#0\nu/ok\tok.dat\t" + digest + "\n" + line + "\n");
        SCOPED_TRACE(line);
        ExpectRunEndsWith("105");
    }
}

TEST_F(ManifestTest, PathsThatLeaveTheirFolderAreRefused) {
    const std::string digest = kDigestA;
    const std::string lines[] = {
        "u/a\t../outside.dat\t" + digest,
        "u/a\tbin/../../outside.dat\t" + digest,
        "u/a\tbin\\..\\..\\outside.dat\t" + digest,
        "u/a\t/etc/outside.dat\t" + digest,
        "u/a\t\\Windows\\outside.dat\t" + digest,
        "u/a\tC:\\Windows\\outside.dat\t" + digest,
        "u/a\tbin/..\t" + digest,
        "u/..\ta.dat\t" + digest,
        "u/\ta.dat\t" + digest,
        "u/..\\..\\evil\ta.dat\t" + digest,
        // The digest names the unpacked file in the incoming folder.
        "u/a\ta.dat\t../../../etc/passwd",
        "u/a\ta.dat\t..\\..\\x",
        "u/a\ta.dat\tx/y",
    };
    for (const std::string& line : lines) {
        WriteManifest("#0\n" + line + "\n");
        SCOPED_TRACE(line);
        ExpectRunEndsWith("105");
    }
    // A zero byte ends the line, as it ends a file name: "..\0x" is "..".
    std::string withZero = "#0\nu/a\t..";
    withZero += '\0';
    withZero += "/x\t" + digest + "\n";
    WriteManifest(withZero);
    ExpectRunEndsWith("105");
}

TEST_F(ManifestTest, PathsTheInstallerKeepsDevicesAndContradictionsAreRefused) {
    const std::string a = "u/" + std::string(kDigestA) + "\t";
    const std::string b = "u/" + std::string(kDigestB) + "\t";
    const std::string manifests[] = {
        // The run's own files and folders.
        a + "FeltoInstaller.log\t" + kDigestA + "\n",
        a + "feltoinstaller.LOG\t" + kDigestA + "\n",
        a + "launcher_manifest.js\t" + kDigestA + "\n",
        a + "./Launcher_Manifest.js.\t" + kDigestA + "\n",
        a + "incoming/" + kDigestA + "\t" + kDigestA + "\n",
        a + "Incoming\\x.dat\t" + kDigestA + "\n",
        a + ".FeltoUpdater.lock\t" + kDigestA + "\n",
        a + ".\t" + kDigestA + "\n",
        // The copy that is checked before it goes into place, and names that would be it.
        a + "data/~felto.tmp\t" + kDigestA + "\n",
        a + "~FELTO.TMP. \t" + kDigestA + "\n",
        "u/~felto.tmp\ta.dat\t" + std::string(kDigestA) + "\n",
        a + "a.dat\t~felto.tmp\n",
        // A digest that Windows reads as the download's own name.
        a + "a.dat\t" + kDigestA + ".\n",
        // The remembered release in the incoming folder, as a download or an unpacked file.
        "u/FeltoRelease.state\ta.dat\t" + std::string(kDigestA) + "\n",
        "u/feltorelease.STATE.tmp\ta.dat\t" + std::string(kDigestA) + "\n",
        a + "a.dat\tFeltoRelease.state\n",
        // Devices and data streams.
        a + "bin/CON\t" + kDigestA + "\n",
        a + "nul.txt\t" + kDigestA + "\n",
        a + "com1.dat\t" + kDigestA + "\n",
        a + "a.dat:stream\t" + kDigestA + "\n",
        "u/aux\ta.dat\t" + std::string(kDigestA) + "\n",
        // One path, two contents: whatever the separators and the letter case.
        a + "data/config.ini\t" + kDigestA + "\n" + b + "Data\\Config.ini\t" + kDigestB + "\n",
    };
    for (const std::string& body : manifests) {
        SCOPED_TRACE(body);
        WriteManifest(Header(body));
        ExpectRunEndsWith("105");
    }
    // The same path with the same digest twice is only said twice.
    WriteManifest(Header(a + "data/config.ini\t" + kDigestA + "\n" + a + "data\\config.ini\t" +
                         kDigestA + "\n"));
    ReadManifest();
    EXPECT_EQ(Entries().size(), 2u);
}

TEST_F(ManifestTest, DigestsAreReadInLowerCase) {
    std::string upperA = kDigestA;
    for (char& c : upperA)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    WriteManifest(Header("objects/" + upperA + "\ta.dat\t" + upperA + "\n"));
    ReadManifest();
    ASSERT_EQ(Entries().size(), 1u);
    const FileEntry& entry = Entries()[0];
    // The server is asked for the name as written; everything compared is lower case, so the
    // object counts as the plain file it is and is found in the incoming folder by its digest.
    EXPECT_EQ(entry.strUrl, "objects/" + upperA);
    EXPECT_EQ(entry.strName, kDigestA);
    EXPECT_EQ(entry.strObjectMd5, kDigestA);
    EXPECT_EQ(entry.strManifestMd5, kDigestA);
    EXPECT_EQ(entry.strIncomingPath, dir_.path() + "/incoming/" + kDigestA);
}

TEST_F(ManifestTest, OpeningFailuresEndTheRun) {
    ExpectRunEndsWith("107");
    // A folder where the manifest should be must not read as an empty list.
    ASSERT_TRUE(platform::MakeFolder(State().manifestEntry->strTargetPath));
    ExpectRunEndsWith("10[67]");
}

// The reader over bytes: what the run logs and stops with comes from the typed refusal alone.
TEST(ManifestBytes, EachRefusalIsTypedAndLoggedWithItsLine) {
    const std::string a = "u/" + std::string(kDigestA) + "\t";
    const std::string ok = a + "ok.dat\t" + kDigestA;
    const std::string longEntry = a + std::string(kManifestLineLimit, 'p') + "\t" + kDigestA;
    struct Case {
        std::string line;
        ManifestRefusal refusal;
        std::string logLine;
    };
    const Case cases[] = {
        {longEntry, ManifestRefusal::LineTooLong,
         "manifest line longer than 509 characters: " + longEntry.substr(0, kManifestLineLimit)},
        {"u/a\ta.dat", ManifestRefusal::NotThreeFields,
         "manifest line without three fields: u/a\ta.dat"},
        {a + "../x.dat\t" + kDigestA, ManifestRefusal::LeavesFolder,
         "manifest line refused, the install path leaves the folder or names a device: " + a +
             "../x.dat\t" + kDigestA},
        {a + "Incoming\\x.dat\t" + kDigestA, ManifestRefusal::InstallersOwn,
         "manifest line refused, the install path is the installer's own: " + a +
             "Incoming\\x.dat\t" + kDigestA},
        {a + "launcher_manifest.js\t" + kDigestA, ManifestRefusal::InstallersOwn,
         "manifest line refused, the install path is the installer's own: " + a +
             "launcher_manifest.js\t" + kDigestA},
        {a + "b.dat\tx/y", ManifestRefusal::NotPlainName,
         "manifest line refused, the object name or the digest is no plain file name: " + a +
             "b.dat\tx/y"},
        {a + "b.dat\tFeltoRelease.state", ManifestRefusal::IncomingNameIsOwn,
         "manifest line refused, the object name or the digest is the installer's own: " + a +
             "b.dat\tFeltoRelease.state"},
        {a + "OK.dat\t" + kDigestB, ManifestRefusal::TwoDigests,
         "manifest line refused, the install path is listed twice with different digests: " + a +
             "OK.dat\t" + kDigestB},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        ManifestReading reading = ParseManifest(Header(ok + "\n" + c.line + "\n" + ok + "\n"),
                                                "D:/Felto", "launcher_manifest.js");
        EXPECT_EQ(reading.refusal, c.refusal);
        EXPECT_EQ(RefusalLogLine(reading), c.logLine);
        // The run stops at the refused line: only the entry before it is read.
        ASSERT_EQ(reading.entries.size(), 1u);
        EXPECT_EQ(reading.entries[0].strRelativePath, "ok.dat");
    }
    ManifestReading good = ParseManifest(Header(ok + "\n"), "D:/Felto", "launcher_manifest.js");
    EXPECT_EQ(good.refusal, ManifestRefusal::None);
    EXPECT_EQ(RefusalLogLine(good), "");
}

TEST(ManifestBytes, PassingOverKeepsTheEntriesAfterARefusedLineAndTheFirstReason) {
    const std::string a = "u/" + std::string(kDigestA) + "\t";
    const std::string body = a + "one.dat\t" + kDigestA + "\n" + "two fields\tonly\n" + a +
                             "../x.dat\t" + kDigestA + "\n" + a + "#long\t" +
                             std::string(kManifestLineLimit, 'p') + "\n" + a + "two.dat\t" +
                             kDigestA + "\n";
    ManifestReading reading =
        ParseManifest(Header(body), std::string(), "launcher_manifest.js", RefusedLines::PassOver);
    EXPECT_EQ(reading.refusal, ManifestRefusal::NotThreeFields);
    EXPECT_EQ(reading.refusedLine, "two fields\tonly");
    ASSERT_EQ(reading.entries.size(), 2u);
    EXPECT_EQ(reading.entries[0].strRelativePath, "one.dat");
    EXPECT_EQ(reading.entries[1].strRelativePath, "two.dat");
}

TEST(ManifestBytes, AnEntryKeepsItsInstallPathAsListed) {
    const std::string body = "objects/" + std::string(kDigestA) + "\tPlantform\\X64\\7z.EXE\t" +
                             kDigestA + "\n" + "objects/" + kDigestB + "\tplantform/x64/7z.dll\t" +
                             kDigestB + "\n";
    ManifestReading reading = ParseManifest(Header(body), "D:/Felto", "launcher_manifest.js");
    ASSERT_EQ(reading.entries.size(), 2u);
    const FileEntry& archiver = reading.entries[0];
    EXPECT_EQ(archiver.strRelativePath, "Plantform\\X64\\7z.EXE");
    EXPECT_EQ(archiver.strTargetPath, "D:/Felto/Plantform\\X64\\7z.EXE");
    EXPECT_TRUE(IsArchiverPath(archiver.strRelativePath));
    EXPECT_FALSE(IsArchiverPath(reading.entries[1].strRelativePath));
    // The publisher keeps the archiver's whole folder unpacked, as written in its own manifests.
    EXPECT_TRUE(IsInArchiverFolder(reading.entries[1].strRelativePath));
    EXPECT_FALSE(IsInArchiverFolder("plantformx/7z.dll"));
    EXPECT_EQ(MakeFileEntry(strManifestUrl, "D:/Felto").strRelativePath, "launcher_manifest.js");
}

TEST(ManifestBytes, SizeHeaderFaultsAreTyped) {
    using Fault = SizeHeaderVerdict::Fault;
    const std::string body = "u/a\ta.dat\t" + std::string(kDigestA) + "\n";
    EXPECT_EQ(JudgeSizeHeader(Header(body)).fault, Fault::None);
    EXPECT_EQ(JudgeSizeHeader("").fault, Fault::EmptyFirstLine);
    EXPECT_EQ(JudgeSizeHeader("\x1f\x8b\x08" + Header(body)).fault, Fault::Gzip);
    EXPECT_EQ(JudgeSizeHeader("#" + std::string(600, '0') + "\n").fault, Fault::FirstLineTooLong);
    EXPECT_EQ(JudgeSizeHeader("#5\r" + std::string(600, 'x') + "\r").fault, Fault::CrAlone);
    SizeHeaderVerdict off =
        JudgeSizeHeader("#" + std::to_string(body.size()) + "\r\n" + body + "x");
    EXPECT_EQ(off.fault, Fault::CountDiffers);
    EXPECT_EQ(off.header, "#" + std::to_string(body.size()));
    EXPECT_EQ(off.announced, static_cast<std::int64_t>(body.size()));
    EXPECT_EQ(off.body, static_cast<std::int64_t>(body.size() + 1));
}

TEST(SafeRelativePath, AcceptsPathsInsideTheFolder) {
    for (const char* path : {"Felto.exe", "bin/game.dat", "bin\\game.dat", "bin//x", "./x", "..a/b",
                             "a../b", "a/.b", "My Game/x y", "\xb1\xed/x", "console.txt", "com10",
                             "lpt0.dat", "nul_x", "xcon", "com/1"})
        EXPECT_TRUE(IsSafeRelativePath(path)) << path;
}

TEST(SafeRelativePath, RefusesPathsThatLeaveTheFolder) {
    for (const char* path : {"",
                             "..",
                             "../x",
                             "a/../../x",
                             "a\\..\\x",
                             "a/..",
                             "/x",
                             "\\x",
                             "//server/share",
                             "C:\\x",
                             "c:x",
                             "z:",
                             "a/.../b",
                             "a/.. /b",
                             "a:b",
                             "x/y.dat:zone",
                             "CON",
                             "con.txt",
                             "bin\\Aux .log",
                             "PRN",
                             "lpt9",
                             "COM3.x.y",
                             "conin$",
                             "CONOUT$.txt",
                             "a/nul/b"})
        EXPECT_FALSE(IsSafeRelativePath(path)) << path;
}

class SizeHeaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetLogPath(dir_ / "FeltoInstaller.log");
        ResetLogForTesting();
    }
    void TearDown() override { ResetLogForTesting(); }
    bool Check(const std::string& bytes) {
        WriteFile(dir_ / "m.js", bytes);
        FileEntry entry;
        entry.strName = "m.js";
        entry.strIncomingPath = dir_ / "m.js";
        return CheckSizeHeader(entry);
    }
    // What the check logged about the bytes, the log started afresh for them.
    std::string Why(const std::string& bytes) {
        ResetLogForTesting();
        EXPECT_FALSE(Check(bytes));
        std::fflush(GetLogStream());
        return ReadFile(dir_ / "FeltoInstaller.log");
    }
    TempDir dir_;
};

TEST_F(SizeHeaderTest, AFailedCheckSaysWhatItFound) {
    const std::string body = "u/a\ta.dat\t" + std::string(kDigestA) + "\n";
    const std::string count = std::to_string(body.size());
    std::string log = Why("#" + std::to_string(body.size() + 1) + "\n" + body);
    EXPECT_NE(log.find("size header of m.js: announces " + std::to_string(body.size() + 1) +
                       " bytes, the body has " + count),
              std::string::npos)
        << log;
    log = Why("\xEF\xBB\xBF#" + count + "\n" + body);
    EXPECT_NE(log.find("size header of m.js: EF BB BF 23 where # should be"), std::string::npos)
        << log;
    log = Why("#" + count + "\r" + "u/a\ta.dat\t" + kDigestA + "\r");
    EXPECT_NE(log.find("size header of m.js: lines end in CR alone"), std::string::npos) << log;
    log = Why("#" + count + "\r" + std::string(600, 'x') + "\r");
    EXPECT_NE(log.find("size header of m.js: lines end in CR alone"), std::string::npos) << log;
    log = Why("\n" + body);
    EXPECT_NE(log.find("size header of m.js: the first line is empty"), std::string::npos) << log;
}

TEST_F(SizeHeaderTest, CountsTheBytesAfterTheFirstLine) {
    const std::string body = "u/a\ta.dat\t" + std::string(kDigestA) + "\n#x\n";
    EXPECT_TRUE(Check(Header(body)));
    EXPECT_TRUE(Check("#0\n"));
    EXPECT_TRUE(Check("#0"));
    EXPECT_TRUE(Check("# 5\nabcde"));
    EXPECT_TRUE(Check("#" + std::to_string(body.size()) + "\r\n" + body));
}

TEST_F(SizeHeaderTest, ABodyOffByOneByteFails) {
    const std::string body = "u/a\ta.dat\t" + std::string(kDigestA) + "\n";
    EXPECT_FALSE(Check(Header(body) + "x"));
    EXPECT_FALSE(Check(Header(body).substr(0, Header(body).size() - 1)));
    EXPECT_FALSE(Check("#1\n"));
}

TEST_F(SizeHeaderTest, CrLfBytesCountAsTheyAreInTheFile) {
    // A body with CR LF line ends announced with its LF-only length is short by the CRs.
    const std::string lf = "u/a\ta.dat\t" + std::string(kDigestA) + "\n";
    const std::string crlf = "u/a\ta.dat\t" + std::string(kDigestA) + "\r\n";
    EXPECT_TRUE(Check("#" + std::to_string(crlf.size()) + "\r\n" + crlf));
    EXPECT_FALSE(Check("#" + std::to_string(lf.size()) + "\r\n" + crlf));
}

TEST_F(SizeHeaderTest, MissingOrUnusableHeadersFail) {
    EXPECT_FALSE(Check(""));
    EXPECT_FALSE(Check("\n"));
    EXPECT_FALSE(Check("\r\n"));
    EXPECT_FALSE(Check("#" + std::string(600, '0') + "\n"));
    EXPECT_FALSE(Check("#99999999999999999999999999\n"));
    FileEntry missing;
    missing.strIncomingPath = dir_ / "missing.js";
    EXPECT_FALSE(CheckSizeHeader(missing));
}

TEST(ObjectMd5, TheObjectMustHaveTheDigestItIsNamedBy) {
    TempDir dir;
    SetLogPath(dir / "FeltoInstaller.log"); // a failed check logs
    ResetLogForTesting();
    FileEntry entry;
    entry.strIncomingPath = dir / "obj";
    entry.strObjectMd5 = kDigestA;
    WriteFile(entry.strIncomingPath, "a");
    EXPECT_TRUE(CheckObjectMd5(entry));
    WriteFile(entry.strIncomingPath, "a\n");
    EXPECT_FALSE(CheckObjectMd5(entry));
    // A digest in capitals names the same object.
    entry.strObjectMd5 = "0CC175B9C0F1B6A831C399E269772661";
    WriteFile(entry.strIncomingPath, "a");
    EXPECT_TRUE(CheckObjectMd5(entry));
    ResetLogForTesting();
}

} // namespace
