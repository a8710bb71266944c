#include "net/url.h"

#include "net/server_list.h"

#include <gtest/gtest.h>

namespace {

std::string TrimmedLeft(std::string s) {
    TrimLeft(s);
    return s;
}
std::string TrimmedRight(std::string s) {
    TrimRight(s);
    return s;
}
std::string Tail(std::string s, std::size_t pos) {
    TailFrom(s, pos);
    return s;
}

// "中文" in code page 936: two double-byte characters, no byte of them white space.
const std::string kChinese = "\xd6\xd0\xce\xc4";

TEST(TrimTest, RemovesOnlyTheOuterRunOfWhiteSpace) {
    EXPECT_EQ(TrimmedRight("word  "), "word");
    EXPECT_EQ(TrimmedRight("two words"), "two words");
    EXPECT_EQ(TrimmedRight("a b \r\n"), "a b");
    EXPECT_EQ(TrimmedLeft("  word"), "word");
    EXPECT_EQ(TrimmedLeft("two words"), "two words");
    EXPECT_EQ(TrimmedLeft("\t\v\f\r\n x y"), "x y");
    EXPECT_EQ(TrimmedLeft(" \t \r\n"), "");
    EXPECT_EQ(TrimmedRight(" \t \r\n"), "");
    EXPECT_EQ(TrimmedLeft(""), "");
    EXPECT_EQ(TrimmedRight(""), "");
}

TEST(TrimTest, DoubleByteCharactersAndHighBytesAreNeverWhiteSpace) {
    EXPECT_EQ(TrimmedLeft(kChinese + " x"), kChinese + " x");
    EXPECT_EQ(TrimmedRight("x " + kChinese), "x " + kChinese);
    EXPECT_EQ(TrimmedRight("x\xa0"), "x\xa0");
    EXPECT_EQ(TrimmedLeft("\x85x"), "\x85x");
    EXPECT_EQ(TrimmedRight(" " + kChinese + " "), " " + kChinese);
}

TEST(SubstringTest, LeftAndRightKeepTheWholeStringForLargeCounts) {
    EXPECT_EQ(Left("abcdef", 2), "ab");
    EXPECT_EQ(Right("abcdef", 2), "ef");
    EXPECT_EQ(Left("abcdef", 6), "abcdef");
    EXPECT_EQ(Right("abcdef", 6), "abcdef");
    EXPECT_EQ(Left("abc", 100), "abc");
    EXPECT_EQ(Right("abc", std::string::npos), "abc");
    EXPECT_EQ(Left("abc", 0), "");
    EXPECT_EQ(Right("abc", 0), "");
    EXPECT_EQ(Left("", 0), "");
}

TEST(SubstringTest, TailFromDropsALoneLastByte) {
    EXPECT_EQ(Tail("abcdef", 0), "abcdef");
    EXPECT_EQ(Tail("abcdef", 2), "cdef");
    EXPECT_EQ(Tail("abcdef", 4), "ef");
    EXPECT_EQ(Tail("abcdef", 5), ""); // exactly one byte would remain
    EXPECT_EQ(Tail("abcdef", 6), "");
    EXPECT_EQ(Tail("abcdef", 60), "");
    EXPECT_EQ(Tail("", 0), "");
}

void ExpectSplit(const std::string& url, const std::string& host, const std::string& dir,
                 const std::string& file) {
    UrlParts parts = SplitUrl(url);
    EXPECT_EQ(parts.host, host) << url;
    EXPECT_EQ(parts.urlDir, dir) << url;
    EXPECT_EQ(parts.fileName, file) << url;
}

TEST(SplitUrlTest, OrdinaryDownloadUrls) {
    ExpectSplit("http://cdn.example/microclient/objects/0123abcd", "cdn.example",
                "http://cdn.example/microclient/objects/", "0123abcd");
    ExpectSplit("http://127.0.0.1/file.bin", "127.0.0.1", "http://127.0.0.1/", "file.bin");
    ExpectSplit("  http://h/a/b.txt\r\n", "h", "http://h/a/", "b.txt");
}

TEST(SplitUrlTest, UnusualUrlsAreTakenApartWithoutRejection) {
    // A port stays part of the host text.
    ExpectSplit("http://h:8080/a/b", "h:8080", "http://h:8080/a/", "b");
    // Another scheme: the host is whatever precedes the first slash.
    ExpectSplit("ftp://h/a/b", "ftp:", "ftp://h/a/", "b");
    // "http://" and one character: the host comes out empty.
    ExpectSplit("http://x", "", "http://", "x");
    ExpectSplit("http://h/dir/", "h", "http://h/dir/", "");
    ExpectSplit("plainname", "plainname", "", "plainname");
    ExpectSplit(" plainname \n", "plainname", "", "plainname");
    // "http://" is found anywhere, not only at the start.
    ExpectSplit("xhttp://h/f", "h", "xhttp://h/", "f");
    ExpectSplit("", "", "", "");
}

// A base URL's own port wins over the settings' one; a port that is no port is refused, never
// cut to another number.
TEST(SplitHostPortTest, TakesTheBasesOwnPortAndRefusesOthers) {
    std::string name;
    int port = 80;
    EXPECT_TRUE(SplitHostPort("cdn.example.com", name, port));
    EXPECT_EQ(name, "cdn.example.com");
    EXPECT_EQ(port, 80);
    EXPECT_TRUE(SplitHostPort("127.0.0.1:8081", name, port));
    EXPECT_EQ(name, "127.0.0.1");
    EXPECT_EQ(port, 8081);
    for (const char* bad : {"host:", "host:0", "host:65536", "host:80x", "host:123456"}) {
        port = 80;
        EXPECT_FALSE(SplitHostPort(bad, name, port)) << bad;
        EXPECT_EQ(port, 80) << bad;
    }
}

} // namespace
