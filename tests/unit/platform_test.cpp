#include "platform/platform.h"

#include "tests/support/temp_dir.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <map>
#include <vector>

namespace {

using platform::PathKind;

TEST(FilesTest, QueryPathTellsFilesFoldersAndNothing) {
    TempDir dir;
    WriteFile(dir / "file", "x");
    EXPECT_EQ(platform::QueryPath(dir / "file"), PathKind::File);
    EXPECT_EQ(platform::QueryPath(dir.path()), PathKind::Directory);
    EXPECT_EQ(platform::QueryPath(dir / "missing"), PathKind::Missing);
    EXPECT_EQ(platform::QueryPath(""), PathKind::Missing);
}

TEST(FilesTest, CopyOverwritesAndAFailedCopyLeavesTheTargetAlone) {
    TempDir dir;
    WriteFile(dir / "new", MakeBytes(200000, 1));
    WriteFile(dir / "target", "old");
    ASSERT_TRUE(platform::CopyFileOver(dir / "new", dir / "target"));
    EXPECT_EQ(ReadFile(dir / "target"), MakeBytes(200000, 1));

    EXPECT_FALSE(platform::CopyFileOver(dir / "missing", dir / "target"));
    EXPECT_NE(platform::LastError(), 0);
    EXPECT_FALSE(platform::SystemErrorText(platform::LastError()).empty());
    EXPECT_EQ(ReadFile(dir / "target"), MakeBytes(200000, 1));

    ASSERT_TRUE(platform::MakeFolder(dir / "folder"));
    EXPECT_FALSE(platform::CopyFileOver(dir / "new", dir / "folder"));
    EXPECT_EQ(platform::QueryPath(dir / "folder"), PathKind::Directory);
}

TEST(FilesTest, SizesAndResizeBeyondFourGigabytesAreSixtyFourBit) {
    TempDir dir;
    WriteFile(dir / "part", "12345");
    std::int64_t size = 0;
    ASSERT_TRUE(platform::FileSize(dir / "part", size));
    EXPECT_EQ(size, 5);
    ASSERT_TRUE(platform::ResizeFile(dir / "part", 2));
    ASSERT_TRUE(platform::FileSize(dir / "part", size));
    EXPECT_EQ(size, 2);
    EXPECT_EQ(ReadFile(dir / "part"), "12");
    EXPECT_FALSE(platform::FileSize(dir / "missing", size));
}

TEST(FilesTest, FoldersAreListedAndRemovedAndTheirVolumeHasFreeSpace) {
    TempDir dir;
    WriteFile(dir / "a", "1");
    ASSERT_TRUE(platform::MakeFolder(dir / "sub"));
    WriteFile(dir / "sub/b", "2");
    std::vector<platform::FolderItem> items;
    ASSERT_TRUE(platform::ListFolder(dir.path(), items));
    std::map<std::string, platform::ItemKind> kinds;
    for (const platform::FolderItem& item : items)
        kinds[item.name] = item.kind;
    EXPECT_EQ(kinds, (std::map<std::string, platform::ItemKind>{
                         {"a", platform::ItemKind::File}, {"sub", platform::ItemKind::Folder}}));
    EXPECT_FALSE(platform::ListFolder(dir / "missing", items));

    EXPECT_FALSE(platform::RemoveFolder(dir / "sub")); // not empty
    ASSERT_TRUE(platform::RemoveFile(dir / "sub/b"));
    EXPECT_TRUE(platform::RemoveFolder(dir / "sub"));
    EXPECT_EQ(platform::QueryPath(dir / "sub"), PathKind::Missing);

    std::int64_t free = -1;
    ASSERT_TRUE(platform::FreeDiskSpace(dir.path(), free));
    EXPECT_GT(free, 0);
    EXPECT_FALSE(platform::FreeDiskSpace(dir / "missing", free));
}

TEST(InstanceLockTest, OnlyOneHolderAtATime) {
    TempDir dir;
    using platform::InstanceLock;
    void* first = nullptr;
    void* second = nullptr;
    int error = 0;
    ASSERT_EQ(platform::AcquireInstanceLock(dir.path(), first, error), InstanceLock::Taken);
    EXPECT_EQ(platform::AcquireInstanceLock(dir.path(), second, error),
              InstanceLock::HeldElsewhere);
    EXPECT_EQ(second, nullptr);
    platform::ReleaseInstanceLock(first);
    void* again = nullptr;
    EXPECT_EQ(platform::AcquireInstanceLock(dir.path(), again, error), InstanceLock::Taken);
    if (again)
        platform::ReleaseInstanceLock(again);
}

unsigned CountUp(void* arg) {
    static_cast<std::atomic<int>*>(arg)->fetch_add(1);
    return 0;
}

TEST(ThreadsTest, WaitAllThreadsWaitsForEveryThread) {
    std::atomic<int> count{0};
    std::vector<platform::ThreadHandle> handles(3);
    for (auto& handle : handles)
        ASSERT_TRUE(platform::StartThread(CountUp, &count, handle));
    platform::WaitAllThreads(handles);
    EXPECT_EQ(count.load(), 3);
}

unsigned Raise(void* event) {
    platform::RaiseWakeEvent(*static_cast<platform::WakeEvent*>(event));
    return 0;
}

// A raised event wakes its waiter, whether the raise comes first or from another thread while it
// waits, and is down again afterwards. The waits are far longer than the test takes: a waiter
// that is not woken shows as a wait of its whole time.
TEST(ThreadsTest, WakeEventWakesItsWaiterOnceAndIsThenDown) {
    using Clock = std::chrono::steady_clock;
    const unsigned kLongMs = 60000;
    platform::WakeEvent event;
    ASSERT_TRUE(platform::OpenWakeEvent(event));
    platform::RaiseWakeEvent(event);
    Clock::time_point start = Clock::now();
    platform::WaitWakeEvent(event, kLongMs);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));

    std::vector<platform::ThreadHandle> raiser(1);
    ASSERT_TRUE(platform::StartThread(Raise, &event, raiser[0]));
    start = Clock::now();
    platform::WaitWakeEvent(event, kLongMs);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
    platform::WaitAllThreads(raiser);

    start = Clock::now();
    platform::WaitWakeEvent(event, 60);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(30)) << "the event stayed raised";
    platform::CloseWakeEvent(event);
}

} // namespace
