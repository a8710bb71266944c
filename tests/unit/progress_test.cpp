#include "app/progress_text.h"
#include "support/progress.h"

#include <gtest/gtest.h>

namespace {

// One model and one reader per test; time is given, never waited for.
class ProgressTest : public ::testing::Test {
  protected:
    ProgressView Look(std::int64_t ms) { return reader_.Look(model_.Read(), ms); }

    ProgressModel model_;
    ProgressReader reader_;
};

TEST_F(ProgressTest, BarFollowsBytesAcrossFilesAndNeverGoesBack) {
    model_.PlanDownloads(2);
    model_.SetStep(ProgressStep::Downloading);
    EXPECT_EQ(Look(0).permille, -1) << "no size known: a moving bar";

    ProgressShare& first = model_.ShareFor("a");
    model_.Sized(first, 1000);
    // The second file is taken to be as large as the first until its size is known.
    model_.Add(first, 500);
    ProgressView view = Look(100);
    EXPECT_EQ(view.permille, 250);
    EXPECT_EQ(view.bytesTotal, 2000);
    EXPECT_TRUE(view.bytesEstimated);
    model_.Add(first, 500);
    model_.FileDownloaded();
    EXPECT_EQ(Look(200).permille, 500);

    // It is larger: the true share of the bytes falls, the bar stays where it was.
    ProgressShare& second = model_.ShareFor("b");
    model_.Sized(second, 3000);
    view = Look(300);
    EXPECT_EQ(view.permille, 500);
    EXPECT_EQ(view.bytesTotal, 4000);
    EXPECT_FALSE(view.bytesEstimated);
    model_.Add(second, 2000);
    EXPECT_EQ(Look(400).permille, 750);
    // Full only when every file is done, whatever the byte counts say.
    model_.Add(second, 1000);
    EXPECT_EQ(Look(500).permille, 999);
    model_.FileDownloaded();
    EXPECT_EQ(Look(600).permille, 1000);
}

TEST_F(ProgressTest, ABarAheadOfALargerFileStillMovesAndEndsFull) {
    model_.PlanDownloads(2);
    model_.SetStep(ProgressStep::Downloading);
    ProgressShare& small = model_.ShareFor("small");
    model_.Sized(small, 100);
    model_.Add(small, 100);
    model_.FileDownloaded();
    EXPECT_EQ(Look(0).permille, 500);
    ProgressShare& large = model_.ShareFor("large");
    model_.Sized(large, 9900);
    EXPECT_EQ(Look(100).permille, 500) << "1 % of the bytes, the bar holds";
    // 1 % of what was left to fetch arrived: 1 % of what is left of the bar, where the bytes
    // alone would say 2 %.
    model_.Add(large, 99);
    EXPECT_EQ(Look(200).permille, 504);
    model_.Add(large, 9801);
    EXPECT_EQ(Look(300).permille, 999);
    model_.FileDownloaded();
    EXPECT_EQ(Look(400).permille, 1000);
}

TEST_F(ProgressTest, RestartedAndResentBytesAreCountedOnce) {
    model_.PlanDownloads(1);
    model_.SetStep(ProgressStep::Downloading);
    ProgressShare& file = model_.ShareFor("a");
    model_.Sized(file, 1000);
    model_.OnDisk(file, 200); // resumed from a part file
    model_.Add(file, 400);
    EXPECT_EQ(Look(0).permille, 600);

    // A retry: the attempt probes the size again and finds its part files cut back.
    model_.Sized(file, 1000);
    model_.OnDisk(file, 300);
    ProgressView view = Look(100);
    EXPECT_EQ(model_.Read().bytesDone, 300);
    EXPECT_EQ(model_.Read().bytesKnown, 1000);
    EXPECT_EQ(model_.Read().filesSized, 1);
    EXPECT_EQ(view.permille, 600);
    EXPECT_EQ(view.bytesDone, 600) << "the bytes shown do not go back either";

    // A server that ignores Range sends the whole file again from its first byte.
    model_.OnDisk(file, 0);
    model_.Add(file, 700);
    EXPECT_EQ(Look(200).permille, 700);
    model_.Add(file, 300);
    EXPECT_EQ(model_.Read().bytesDone, 1000);

    // The manifest's download before the plan is not part of the run's bytes.
    model_.PlanDownloads(3);
    EXPECT_EQ(model_.Read().bytesDone, 0);
    EXPECT_EQ(model_.Read().bytesKnown, 0);
    model_.Sized(file, 10);
    EXPECT_EQ(model_.Read().filesSized, 1);
}

TEST_F(ProgressTest, TwoEntriesOfOneObjectCountTwice) {
    model_.PlanDownloads(2);
    model_.SetStep(ProgressStep::Downloading);
    for (int i = 0; i < 2; ++i) {
        model_.StartFile("7z.exe", "incoming/abc");
        ProgressShare& share = model_.ShareFor("incoming/abc");
        model_.Sized(share, 100);
        model_.OnDisk(share, 0);
        model_.Add(share, 100);
        model_.FileDownloaded();
    }
    ProgressModel::Snapshot snapshot = model_.Read();
    EXPECT_EQ(snapshot.bytesDone, 200);
    EXPECT_EQ(snapshot.bytesKnown, 200);
    EXPECT_EQ(snapshot.filesSized, 2);
    EXPECT_EQ(snapshot.name, "7z.exe");
}

// Sizes from the manifest give the exact total before the first byte; the engine's own sizes,
// arriving later, change nothing.
TEST_F(ProgressTest, ListedSizesAreExactFromTheStart) {
    model_.PlanDownloads(2);
    model_.ExpectSizes(2, 6000001);
    model_.SetStep(ProgressStep::Downloading);
    ProgressView view = Look(0);
    EXPECT_EQ(view.bytesTotal, 6000001);
    EXPECT_FALSE(view.bytesEstimated);
    EXPECT_EQ(view.permille, 0);
    ProgressShare& first = model_.ShareFor("a");
    model_.Sized(first, 1);
    model_.Add(first, 1);
    model_.FileDownloaded();
    view = Look(100);
    EXPECT_EQ(view.bytesTotal, 6000001);
    EXPECT_EQ(view.permille, 0) << "one byte of six million: the bar does not jump to half";
    model_.Sized(model_.ShareFor("b"), 6000000);
    EXPECT_EQ(Look(200).bytesTotal, 6000001);
    // A new plan forgets them.
    model_.PlanDownloads(1);
    EXPECT_EQ(model_.Read().bytesKnown, 0);
    EXPECT_EQ(model_.Read().filesSized, 0);
}

TEST_F(ProgressTest, FilesOfUnknownAndEmptySize) {
    model_.PlanDownloads(4);
    model_.SetStep(ProgressStep::Downloading);
    ProgressShare& empty = model_.ShareFor("empty");
    model_.Sized(empty, 0);
    model_.FileDownloaded();
    EXPECT_EQ(Look(0).permille, 250) << "only empty files known: counted by files";
    model_.Sized(model_.ShareFor("next"), 100);
    // 100 bytes known over two sized files: the two unsized ones are guessed at 50 each.
    ProgressView view = Look(100);
    EXPECT_EQ(view.bytesTotal, 200);
    EXPECT_EQ(view.permille, 250);
}

TEST_F(ProgressTest, SpeedAndTimeLeftComeFromTheLastSeconds) {
    model_.PlanDownloads(1);
    model_.SetStep(ProgressStep::Downloading);
    ProgressShare& file = model_.ShareFor("a");
    model_.Sized(file, 1000000);
    EXPECT_EQ(Look(0).bytesPerSecond, 0);
    model_.Add(file, 100000);
    ProgressView view = Look(1000);
    EXPECT_EQ(view.bytesPerSecond, 100000);
    EXPECT_EQ(view.etaSeconds, 9);
    // Older samples leave the window: a slower line shows as slower.
    for (int second = 2; second <= 6; ++second) {
        model_.Add(file, 10000);
        view = Look(second * 1000);
    }
    EXPECT_EQ(view.bytesPerSecond, 10000);
    EXPECT_EQ(view.etaSeconds, 85);
    // Bytes thrown away start the window afresh instead of a negative speed.
    model_.OnDisk(file, 0);
    EXPECT_EQ(Look(6100).bytesPerSecond, 0);
    EXPECT_EQ(Look(6100).etaSeconds, -1);
}

TEST_F(ProgressTest, StepsTellThePlayerWhatHappens) {
    EXPECT_EQ(ProgressStatusText(Look(0)), "正在连接服务器，获取文件列表…");
    EXPECT_EQ(Look(0).permille, -1);
    model_.SetStep(ProgressStep::Checking);
    model_.SetCount(3, 12);
    EXPECT_EQ(ProgressStatusText(Look(0)), "正在检查已安装的文件（3/12）");
    EXPECT_EQ(Look(0).permille, 250);

    model_.PlanDownloads(2);
    model_.SetStep(ProgressStep::Downloading);
    model_.SetName("assets.pak");
    EXPECT_EQ(Look(100).permille, -1) << "a new step starts its own bar";
    ProgressShare& file = model_.ShareFor("a");
    model_.Sized(file, 3 * 1024 * 1024);
    model_.Add(file, 1024 * 1024);
    EXPECT_EQ(ProgressStatusText(Look(1100)),
              "正在下载 assets.pak（1/2）  1.0 MB / 约 6.0 MB  1.0 MB/s  剩余 5 秒");

    // A failed attempt counts down the pause before the next one.
    model_.RetryAt(5000);
    EXPECT_EQ(ProgressStatusText(Look(2000)), "下载失败，3 秒后重试…");
    EXPECT_EQ(Look(2001).retrySeconds, 3);
    EXPECT_EQ(Look(4001).retrySeconds, 1);
    EXPECT_EQ(Look(5000).retrySeconds, 0);

    model_.SetStep(ProgressStep::Unpacking);
    model_.SetCount(1, 4);
    EXPECT_EQ(ProgressStatusText(Look(6000)), "正在解压 assets.pak（1/4）");
    model_.SetStep(ProgressStep::Copying);
    model_.SetCount(2, 4);
    EXPECT_EQ(ProgressStatusText(Look(6100)), "正在复制文件（2/4）");
    EXPECT_EQ(Look(6100).permille, 500);
    model_.SetStep(ProgressStep::Starting);
    EXPECT_EQ(ProgressStatusText(Look(6200)), "正在启动游戏…");
}

TEST(ByteCountTextTest, UnitsStepAtEachThousandTwentyFour) {
    EXPECT_EQ(ByteCountText(0), "0 B");
    EXPECT_EQ(ByteCountText(1023), "1023 B");
    EXPECT_EQ(ByteCountText(1024), "1 KB");
    EXPECT_EQ(ByteCountText(1024 * 1024 - 1), "1023 KB");
    EXPECT_EQ(ByteCountText(1024 * 1024 * 7 / 2), "3.5 MB");
    EXPECT_EQ(ByteCountText(5LL * 1024 * 1024 * 1024), "5.00 GB");
}

} // namespace
