#include "support/os_description.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

platform::OsVersionRecord Windows(unsigned major, unsigned minor, unsigned build,
                                  unsigned arch, unsigned productType = 1) {
    platform::OsVersionRecord r;
    r.platformId = 2;
    r.major = major;
    r.minor = minor;
    r.build = build;
    r.architecture = arch;
    r.productType = productType;
    return r;
}

std::string Describe(const platform::OsVersionRecord& r, bool& is64, bool& ok) {
    char text[512] = {};
    ok = DescribeWindowsVersion(r, text, is64);
    return text;
}

TEST(DescribeWindowsVersionTest, KnownSystems) {
    bool is64 = false, ok = false;

    auto win7 = Windows(6, 1, 7601, 9);
    win7.servicePack = "Service Pack 1";
    win7.hasProductInfo = true;
    win7.productInfoType = 1;
    EXPECT_EQ(Describe(win7, is64, ok),
              "Microsoft Windows 7 Ultimate Edition Service Pack 1 (build 7601), 64-bit");
    EXPECT_TRUE(ok);
    EXPECT_TRUE(is64);

    auto xp = Windows(5, 1, 2600, 0);
    xp.servicePack = "Service Pack 3";
    EXPECT_EQ(Describe(xp, is64, ok), "Microsoft Windows XP Professional Service Pack 3 (build 2600)");
    EXPECT_FALSE(is64);

    auto win8 = Windows(6, 2, 9200, 9);
    win8.hasProductInfo = true;
    win8.productInfoType = 0x30; // not in the table
    EXPECT_EQ(Describe(win8, is64, ok), "Microsoft  (build 9200), 64-bit");
    EXPECT_TRUE(is64);

    auto server2003 = Windows(5, 2, 3790, 9, 3);
    server2003.servicePack = "Service Pack 2";
    server2003.suiteMask = 0x2;
    EXPECT_EQ(Describe(server2003, is64, ok),
              "Microsoft Windows Server 2003, Enterprise x64 Edition Service Pack 2 (build 3790)");
    EXPECT_TRUE(is64);
}

TEST(DescribeWindowsVersionTest, SixtyFourBitOnlyWhereTheTablesSaySo) {
    bool is64 = true, ok = false;
    Describe(Windows(6, 1, 7601, 6), is64, ok); // Itanium, version 6
    EXPECT_FALSE(is64);
    Describe(Windows(5, 2, 3790, 9, 1), is64, ok); // XP x64
    EXPECT_TRUE(is64);
    Describe(Windows(5, 2, 3790, 6, 3), is64, ok); // Itanium server 2003
    EXPECT_TRUE(is64);
    EXPECT_EQ(Describe(Windows(6, 0, 6000, 0), is64, ok), "Microsoft Windows Vista  (build 6000), 32-bit");
    EXPECT_FALSE(is64);
}

TEST(DescribeWindowsVersionTest, UnsupportedSystemsAreNotDescribed) {
    bool is64 = true, ok = true;
    auto nt4 = Windows(4, 0, 1381, 0);
    Describe(nt4, is64, ok);
    EXPECT_FALSE(ok);
    EXPECT_FALSE(is64);
    auto win9x = Windows(5, 0, 2195, 0);
    win9x.platformId = 1;
    Describe(win9x, is64, ok);
    EXPECT_FALSE(ok);
}

TEST(DescribeWindowsVersionTest, LongServicePackTextIsCutAt255Bytes) {
    auto r = Windows(6, 1, 7601, 9);
    r.servicePack = std::string(300, 'S');
    char text[512];
    std::memset(text, 0x7f, sizeof text);
    text[0] = '\0';
    bool is64 = false;
    EXPECT_TRUE(DescribeWindowsVersion(r, text, is64));
    EXPECT_EQ(std::strlen(text), 255u);
    EXPECT_EQ(text[256], 0x7f); // nothing written past the 256-byte capacity
}

TEST(DescribeOperatingSystemTest, DescribesThisMachine) {
    char text[512] = {};
    bool is64 = false;
    ASSERT_TRUE(DescribeOperatingSystem(text, is64));
    EXPECT_GT(std::strlen(text), 0u);
    EXPECT_LT(std::strlen(text), 256u);
}

} // namespace
