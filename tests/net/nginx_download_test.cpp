#include "net/http_get.h"
#include "tests/net/engine_fixture.h"
#include "tests/support/nginx_server.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

// The same downloads against a real server.
class NginxDownloadTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        std::filesystem::create_directories(Root());
        ASSERT_TRUE(nginx_.Start(Root())) << nginx_.ErrorLog();
        EngineSettings settings = GetEngineSettings();
        settings.port = nginx_.port();
        OverrideEngineSettingsForTesting(settings);
    }
    void TearDown() override {
        nginx_.Stop();
        EngineTest::TearDown();
    }
    std::string Root() const { return dir_ / "www"; }
    std::string Publish(const std::string& name, const std::string& bytes) {
        WriteFile(Root() + "/" + name, bytes);
        return dir_ / ("got-" + name);
    }
    bool Download(const std::string& name, const std::string& destination) {
        return HttpDownload("http://127.0.0.1/" + name, destination, fileSize_, received_, 1);
    }
    static std::string Part(const std::string& destination, int index) {
        return destination + "_" + std::to_string(index);
    }

    NginxServer nginx_;
    std::int64_t fileSize_ = -1;
    std::atomic<std::int64_t> received_{0};
};

TEST_F(NginxDownloadTest, FilesOfEverySizeArriveByteForByte) {
    for (std::size_t size : {std::size_t(0), std::size_t(1), std::size_t(409600),
                             std::size_t(409601), std::size_t(7 << 20) + 5}) {
        std::string name = "file" + std::to_string(size);
        std::string bytes = MakeBytes(size, static_cast<unsigned>(size));
        std::string destination = Publish(name, bytes);
        ASSERT_TRUE(Download(name, destination)) << size;
        EXPECT_TRUE(ReadFile(destination) == bytes) << size;
        EXPECT_EQ(fileSize_, static_cast<std::int64_t>(size));
        for (int i = 0; i < 3; ++i)
            EXPECT_FALSE(FileExists(Part(destination, i))) << size;
    }
    std::string access = nginx_.AccessLog();
    // Three connections for the large files: their middle and last segments asked for.
    EXPECT_NE(access.find("\"bytes=136533-\" 206"), std::string::npos) << access;
    EXPECT_NE(access.find("\"bytes=273066-\" 206"), std::string::npos) << access;
}

TEST_F(NginxDownloadTest, PartFilesAreResumedFromWhereTheyEnd) {
    std::string bytes = MakeBytes(6 << 20, 31); // segments of 2 MiB
    const std::int64_t segment = 2 << 20;
    std::string destination = Publish("resumed", bytes);
    WriteFile(Part(destination, 0), bytes.substr(0, segment));      // complete
    WriteFile(Part(destination, 1), bytes.substr(segment, 777777)); // partial
    WriteFile(Part(destination, 2), std::string(segment + 1, 'x')); // cannot be this segment's
    ASSERT_TRUE(Download("resumed", destination));
    EXPECT_TRUE(ReadFile(destination) == bytes);
    EXPECT_EQ(received_.load(), 2 * segment - 777777);
    std::string access = nginx_.AccessLog();
    EXPECT_EQ(CountOf(access, "\"bytes=0-\""), 1) << access; // the probe only
    EXPECT_EQ(CountOf(access, "\"bytes=" + std::to_string(segment + 777777) + "-\" 206"), 1)
        << access;
    EXPECT_EQ(CountOf(access, "\"bytes=" + std::to_string(2 * segment) + "-\" 206"), 1) << access;
}

TEST_F(NginxDownloadTest, MissingFileIsRefused) {
    EXPECT_FALSE(Download("nothing-here", dir_ / "nothing"));
    EXPECT_EQ(CountOf(Log(), "404 error."), 1);
    EXPECT_FALSE(FileExists(dir_ / "nothing"));
}

} // namespace
