// MD5 as the system computes it: libcrypto natively; under Wine CNG, and the CryptoAPI that a
// system without bcrypt.dll (Windows XP) uses instead. Every case runs on both services.

#include "manifest/md5.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

namespace {

const char kEmptyDigest[] = "d41d8cd98f00b204e9800998ecf8427e";

std::string Md5OfText(const std::string& text) {
    Md5Context context;
    context.Update(reinterpret_cast<const unsigned char*>(text.data()), text.size());
    unsigned char digest[16];
    if (!context.Final(digest))
        return "no digest";
    return Md5Hex(digest);
}

// Bytes that differ from block to block, so a block hashed twice or skipped shows.
std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + 3) & 0xff);
    return bytes;
}

class Md5Test : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override { platform::UseMd5FallbackForTesting(GetParam()); }
    void TearDown() override { platform::UseMd5FallbackForTesting(false); }
};

TEST_P(Md5Test, ComesFromTheSystemServiceThisBuildExpects) {
    EXPECT_STREQ(platform::Md5Provider(),
                 GetParam() ? FELTO_MD5_FALLBACK_PROVIDER : FELTO_MD5_PROVIDER);
}

TEST_P(Md5Test, Rfc1321TestSuite) {
    struct Vector {
        const char* text;
        const char* digest;
    } const vectors[] = {
        {"", kEmptyDigest},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"1234567890123456789012345678901234567890"
         "1234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    TempDir dir;
    for (const Vector& v : vectors) {
        EXPECT_EQ(Md5OfText(v.text), v.digest) << '"' << v.text << '"';
        WriteFile(dir / "v", v.text);
        EXPECT_EQ(FileMd5(dir / "v"), v.digest) << '"' << v.text << '"';
    }
}

TEST_P(Md5Test, FilesAtBlockAndPaddingBoundaries) {
    // Reference digests from an independent implementation.
    struct Case {
        std::size_t size;
        const char* digest;
    } const cases[] = {
        {55, "52c0e574e1198de5fe3f8f11440dcb1b"},     {56, "46c9907fc908ee68b1e7b8e71286a518"},
        {57, "1c805dd236c35cab25fcb1bc73802c51"},     {63, "a62f6d59e837867693f042f5b8f5a236"},
        {64, "7160b8fb5e9e4023d549c3971fbaeead"},     {65, "70bd662e7aefbda85a0f7244167b7897"},
        {119, "e84905d4214f4d1ca56c2cdcc152b143"},    {120, "e3eb5a6c8669ea01a8c185b8abc8a5dc"},
        {1023, "6f8c42978a120e01a68357829a2d0d77"},   {1024, "a66351d9c8f941b70a02eaf9c41e69c3"},
        {1025, "ee57403eb3428e1a0be41fad4a70b174"},   {65535, "70a2002bd59609d66effc9f59e27e0a7"},
        {65536, "55f3da07043d8f6f30808f9309120b1d"},  {65537, "8bbe2ba9b420c53493027ed87dbc57c8"},
        {200003, "71ea1a2345bc501090ed0f67ced13f5e"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        WriteFile(dir / "f", Pattern(c.size));
        EXPECT_EQ(FileMd5(dir / "f"), c.digest) << c.size << " bytes";
    }
}

TEST_P(Md5Test, RandomFilesLongerThanOneReadPiece) {
    // Reference digests from md5sum.
    struct Case {
        std::size_t size;
        const char* digest;
    } const cases[] = {
        {1, "0bcef9c45bd8a48eda1b26eb0c61c869"},
        {4095, "16a63fe8542f67251933a630fd292d82"},
        {1048576 + 17, "66f0456b96ba8fd962d23ec36df17acc"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        WriteFile(dir / "r", MakeBytes(c.size, static_cast<unsigned>(c.size)));
        EXPECT_EQ(FileMd5(dir / "r"), c.digest) << c.size << " bytes";
    }
}

// Files are checked on the install worker and on a download worker at the same time: each
// computation must keep to its own state although the system's provider is shared.
TEST_P(Md5Test, ComputationsOnSeveralThreadsAtOnceKeepApart) {
    TempDir dir;
    const std::vector<std::size_t> sizes = {0, 1023, 65536 + 5, 300000};
    std::vector<std::string> expected;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        WriteFile(dir / std::to_string(i), Pattern(sizes[i]));
        expected.push_back(FileMd5(dir / std::to_string(i)));
    }
    std::vector<int> wrong(sizes.size(), 0);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < sizes.size(); ++i)
        threads.emplace_back([&, i] {
            for (int round = 0; round < 20; ++round)
                wrong[i] += FileMd5(dir / std::to_string(i)) != expected[i];
        });
    for (std::thread& thread : threads)
        thread.join();
    for (std::size_t i = 0; i < sizes.size(); ++i)
        EXPECT_EQ(wrong[i], 0) << sizes[i] << " bytes";
    EXPECT_EQ(expected[0], kEmptyDigest);
    EXPECT_EQ(expected[1], "6f8c42978a120e01a68357829a2d0d77");
}

TEST_P(Md5Test, FeedingInPiecesGivesTheSameDigest) {
    const std::string data = Pattern(1000);
    const std::string whole = Md5OfText(data);
    EXPECT_EQ(whole, "10046f077f2082ac19676b8079f1cb1a");
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data.data());
    for (std::size_t piece : {1u, 3u, 55u, 63u, 64u, 65u, 128u, 999u}) {
        Md5Context context;
        for (std::size_t at = 0; at < data.size(); at += piece) {
            std::size_t n = std::min(piece, data.size() - at);
            context.Update(bytes + at, n);
            context.Update(bytes + at, 0); // an empty piece adds nothing
        }
        unsigned char digest[16];
        ASSERT_TRUE(context.Final(digest));
        EXPECT_EQ(Md5Hex(digest), whole) << "pieces of " << piece;
    }
    // A computation dropped before its digest is taken leaves the next ones alone.
    {
        Md5Context dropped;
        dropped.Update(bytes, 100);
    }
    EXPECT_EQ(Md5OfText(data), whole);
}

TEST_P(Md5Test, UnreadablePathsGiveTheDigestOfNothing) {
    TempDir dir;
    WriteFile(dir / "empty", "");
    EXPECT_EQ(FileMd5(dir / "empty"), kEmptyDigest);
    EXPECT_EQ(FileMd5(dir / "missing"), kEmptyDigest);
    EXPECT_EQ(FileMd5(dir.path()), kEmptyDigest);
}

TEST_P(Md5Test, LineEndsAreHashedAsTheyAre) {
    TempDir dir;
    WriteFile(dir / "crlf", "line one\r\nline two\r\n\r\n");
    EXPECT_EQ(FileMd5(dir / "crlf"), "0f14063827c736307b221a23d044be81");
    WriteFile(dir / "lf", "line one\nline two\n\n");
    EXPECT_EQ(FileMd5(dir / "lf"), "99b713c6f57cffe1770ac7d6bb983b2e");
}

INSTANTIATE_TEST_SUITE_P(Services, Md5Test, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Fallback" : "FirstChoice";
                         });

} // namespace
