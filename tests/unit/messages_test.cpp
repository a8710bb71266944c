#include "app/messages.h"

#include "platform/platform.h"
#include "support/log.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

TEST(ErrorMessageTest, EveryCodeOfBothRangesHasItsText) {
    for (int code = 10; code <= 21; ++code)
        EXPECT_STRNE(ErrorMessage(code), "unknown") << code;
    for (int code = 100; code <= 112; ++code)
        EXPECT_STRNE(ErrorMessage(code), "unknown") << code;
    for (int code : {0, 9, 22, 99, 113, -1})
        EXPECT_STREQ(ErrorMessage(code), "unknown") << code;
}

TEST(ErrorMessageTest, SharedTextsAreToldApartByTheirNumber) {
    EXPECT_STREQ(ErrorMessage(12), ErrorMessage(13));
    EXPECT_STREQ(ErrorMessage(13), ErrorMessage(14));
    EXPECT_STREQ(ErrorMessage(101), ErrorMessage(108));
    EXPECT_STREQ(ErrorMessage(101), ErrorMessage(111));
    EXPECT_STREQ(ErrorMessage(101), "下载失败，请重新运行Felto.exe");
    EXPECT_STREQ(ErrorMessage(102), "更新时不能运行多个程序实例，请微端启动后再运行Felto.exe");
    EXPECT_STREQ(ErrorMessage(16), "LauncherManifest文件不存在,请重新运行Felto.exe");
}

// The message box is standard error here, so the order of the two is visible there.
TEST(ReportErrorTest, LogEntryComesBeforeTheBox) {
    if (std::string(platform::NativeSeparator()) != "/")
        GTEST_SKIP() << "the box is a real window here";
    TempDir dir;
    ResetLogForTesting();
    SetLogPath(dir / "FeltoInstaller.log");
    testing::internal::CaptureStderr();
    ReportError(101, 0);
    ReportError(7, 3);
    std::string err = testing::internal::GetCapturedStderr();
    std::fflush(GetLogStream());
    std::string log = ReadFile(dir / "FeltoInstaller.log");
    ResetLogForTesting();
    SetLogPath("FeltoInstaller.log");

    EXPECT_NE(log.find(" error,code:101, ext err:0\n\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" error,code:7, ext err:3\n\n"), std::string::npos) << log;
    std::size_t entry = err.find("error,code:101, ext err:0");
    std::size_t box = err.find("下载失败，请重新运行Felto.exe(101)");
    ASSERT_NE(entry, std::string::npos) << err;
    ASSERT_NE(box, std::string::npos) << err;
    EXPECT_LT(entry, box);
    EXPECT_NE(err.find("提示"), std::string::npos);
    EXPECT_NE(err.find("unknown(7)"), std::string::npos) << err;
}

} // namespace
