#include "net/download_space.h"
#include "net/http_get.h"
#include "net/incoming_folder.h"
#include "net/lean_get.h"
#include "net/segment_record.h"
#include "tests/net/engine_fixture.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <filesystem>

namespace {

class HttpDownloadTest : public EngineTest {
  protected:
    // Serves `bytes` at /objects/<name> and returns the download's destination path.
    std::string Serve(const std::string& name, const std::string& bytes) {
        server_.SetFile("/objects/" + name, bytes);
        return dir_ / name;
    }
    bool Download(const std::string& name, const std::string& destination) {
        return HttpDownload("http://127.0.0.1/objects/" + name, destination, fileSize_, received_,
                            1);
    }
    static std::string Part(const std::string& destination, int index) {
        return destination + "_" + std::to_string(index);
    }
    static bool NoPartFiles(const std::string& destination) {
        for (int i = 0; i < 3; ++i)
            if (FileExists(Part(destination, i)))
                return false;
        return true;
    }

    // The connection of the segment from 200000 closes after 70000 bytes, the first time only.
    void CutTheMiddleSegmentOnce() {
        HttpFault fault;
        fault.rangeStart = 200000;
        fault.closeAfterBodyBytes = 70000;
        fault.times = 1;
        server_.AddFault(fault);
    }

    std::int64_t fileSize_ = -1;
    std::atomic<std::int64_t> received_{-1};
};

TEST_F(HttpDownloadTest, SmallFileComesOverOneConnection) {
    std::string bytes = MakeBytes(409600, 1);
    std::string destination = Serve("small", bytes);
    ASSERT_TRUE(Download("small", destination));
    EXPECT_TRUE(ReadFile(destination) == bytes);
    EXPECT_EQ(fileSize_, 409600);
    EXPECT_EQ(received_.load(), 409600);
    EXPECT_TRUE(NoPartFiles(destination));
    // The probe, then the one segment.
    EXPECT_EQ(RangeStarts("/objects/small"), (std::vector<std::int64_t>{0, 0}));
    EXPECT_EQ(CountOf(Log(), "正在建立连接"), 2);
}

TEST_F(HttpDownloadTest, OneByteMoreComesOverThreeConnections) {
    std::string bytes = MakeBytes(409601, 2);
    std::string destination = Serve("large", bytes);
    ASSERT_TRUE(Download("large", destination));
    EXPECT_TRUE(ReadFile(destination) == bytes);
    EXPECT_EQ(received_.load(), 409601);
    EXPECT_TRUE(NoPartFiles(destination));
    EXPECT_EQ(RangeStarts("/objects/large"), (std::vector<std::int64_t>{0, 0, 136533, 273066}));
}

TEST_F(HttpDownloadTest, EmptyFileGivesAnEmptyDestination) {
    std::string destination = Serve("empty", "");
    WriteFile(destination, "old content");
    ASSERT_TRUE(Download("empty", destination));
    EXPECT_TRUE(FileExists(destination));
    EXPECT_EQ(ReadFile(destination), "");
    EXPECT_EQ(fileSize_, 0);
    EXPECT_TRUE(NoPartFiles(destination));
    EXPECT_EQ(CountOf(Log(), "文件已下载完毕!"), 1);
    EXPECT_EQ(RangeStarts("/objects/empty"), (std::vector<std::int64_t>{0})); // only the probe
}

TEST_F(HttpDownloadTest, PartFileIsResumedFromItsSize) {
    std::string bytes = MakeBytes(5000, 3);
    std::string destination = Serve("resume", bytes);
    WriteFile(Part(destination, 0), bytes.substr(0, 1000));
    ASSERT_TRUE(Download("resume", destination));
    EXPECT_TRUE(ReadFile(destination) == bytes);
    EXPECT_EQ(RangeStarts("/objects/resume"), (std::vector<std::int64_t>{0, 1000}));
    EXPECT_EQ(received_.load(), 4000);
    EXPECT_TRUE(NoPartFiles(destination));
}

TEST_F(HttpDownloadTest, PartFilesOfThreeSegmentsAreResumedOrSkipped) {
    std::string bytes = MakeBytes(600000, 4); // segments of 200,000 bytes
    std::string destination = Serve("three", bytes);
    WriteFile(Part(destination, 0), bytes.substr(0, 200000));     // complete
    WriteFile(Part(destination, 1), bytes.substr(200000, 12345)); // partial
    ASSERT_TRUE(Download("three", destination));
    EXPECT_TRUE(ReadFile(destination) == bytes);
    EXPECT_EQ(RangeStarts("/objects/three"), (std::vector<std::int64_t>{0, 212345, 400000}));
    EXPECT_EQ(CountOf(Log(), "文件已下载完毕!"), 1);
    EXPECT_TRUE(NoPartFiles(destination));
}

TEST_F(HttpDownloadTest, PartFileLargerThanItsSegmentIsFetchedAgain) {
    std::string bytes = MakeBytes(600000, 5);
    std::string destination = Serve("oversized", bytes);
    WriteFile(Part(destination, 2), std::string(250000, 'z'));
    ASSERT_TRUE(Download("oversized", destination));
    EXPECT_TRUE(ReadFile(destination) == bytes);
    EXPECT_EQ(RangeStarts("/objects/oversized"), (std::vector<std::int64_t>{0, 0, 200000, 400000}));
}

TEST_F(HttpDownloadTest, FailingMiddleSegmentLeavesTheDestinationAndIsResumedNextTime) {
    std::string bytes = MakeBytes(600000, 6);
    std::string destination = Serve("middle", bytes);
    WriteFile(destination, "the previous download");
    CutTheMiddleSegmentOnce();
    GetProgress().PlanDownloads(1);

    EXPECT_FALSE(Download("middle", destination));
    // What the part files hold counts as done, once, through the retry.
    EXPECT_EQ(GetProgress().Read().bytesDone, 470000);
    EXPECT_EQ(ReadFile(destination), "the previous download");
    EXPECT_TRUE(ReadFile(Part(destination, 0)) == bytes.substr(0, 200000));
    EXPECT_TRUE(ReadFile(Part(destination, 1)) == bytes.substr(200000, 70000));
    EXPECT_TRUE(ReadFile(Part(destination, 2)) == bytes.substr(400000));
    EXPECT_EQ(CountOf(Log(), "The server closed the connection before the segment was complete."),
              1);

    server_.ClearRequests();
    ASSERT_TRUE(Download("middle", destination));
    EXPECT_TRUE(ReadFile(destination) == bytes);
    EXPECT_EQ(RangeStarts("/objects/middle"), (std::vector<std::int64_t>{0, 270000}));
    ProgressModel::Snapshot progress = GetProgress().Read();
    EXPECT_EQ(progress.bytesDone, 600000);
    EXPECT_EQ(progress.bytesKnown, 600000);
    EXPECT_EQ(progress.filesSized, 1);
    EXPECT_TRUE(NoPartFiles(destination));
}

TEST_F(HttpDownloadTest, AFreshStartClearsWhatAFailedDownloadLeftAndNothingElse) {
    std::string bytes = MakeBytes(600000, 7);
    std::string destination = Serve("manifest", bytes);
    std::string other = Serve("manifest2", bytes);
    WriteFile(destination, "the previous download");
    WriteFile(Part(other, 0), "another download's part");
    CutTheMiddleSegmentOnce();
    ASSERT_FALSE(Download("manifest", destination));
    ASSERT_TRUE(FileExists(Part(destination, 2)));

    EXPECT_TRUE(ClearEarlierDownload(destination));
    EXPECT_FALSE(FileExists(destination));
    EXPECT_TRUE(NoPartFiles(destination));
    EXPECT_TRUE(FileExists(Part(other, 0)));
    // Nothing to clear is no failure.
    EXPECT_TRUE(ClearEarlierDownload(destination));
}

TEST_F(HttpDownloadTest, SegmentRefusedByTheServerFailsTheDownload) {
    std::string bytes = MakeBytes(600000, 7);
    std::string destination = Serve("noconnect", bytes);
    HttpFault fault;
    fault.rangeStart = 400000;
    fault.status = 503;
    server_.AddFault(fault);
    EXPECT_FALSE(Download("noconnect", destination));
    EXPECT_FALSE(FileExists(destination));
    EXPECT_EQ(CountOf(Log(), "HTTP status 503."), 1);
    EXPECT_TRUE(FileExists(Part(destination, 2)));
    EXPECT_EQ(ReadFile(Part(destination, 2)), ""); // nothing of the error page was kept
}

TEST_F(HttpDownloadTest, ServerThatIgnoresRangeStillGivesTheRightFile) {
    std::string bytes = MakeBytes(600000, 8);
    std::string destination = Serve("norange", bytes);
    WriteFile(Part(destination, 1), bytes.substr(200000, 1000));
    HttpFault fault;
    fault.ignoreRange = true;
    server_.AddFault(fault);
    GetProgress().PlanDownloads(1);
    ASSERT_TRUE(Download("norange", destination));
    EXPECT_TRUE(ReadFile(destination) == bytes);
    // The first segment's bytes and the kept part were thrown away: the file counts once.
    EXPECT_EQ(GetProgress().Read().bytesDone, 600000);
    EXPECT_TRUE(NoPartFiles(destination));
    EXPECT_EQ(CountOf(Log(), "The server ignores Range: fetching the whole file over one "
                             "connection."),
              1);

    // Small files too: a part file cannot be resumed from such a server.
    std::string small = MakeBytes(5000, 9);
    std::string smallDestination = Serve("smallnorange", small);
    WriteFile(Part(smallDestination, 0), small.substr(0, 1000));
    ASSERT_TRUE(Download("smallnorange", smallDestination));
    EXPECT_TRUE(ReadFile(smallDestination) == small);
}

TEST_F(HttpDownloadTest, RangeThatStartsElsewhereIsNeverJoined) {
    std::string bytes = MakeBytes(600000, 10);
    std::string destination = Serve("shifted", bytes);
    HttpFault fault;
    fault.rangeStart = 200000;
    fault.rangeShift = 100;
    fault.times = 1;
    server_.AddFault(fault);
    ASSERT_TRUE(Download("shifted", destination));
    EXPECT_TRUE(ReadFile(destination) == bytes);
    EXPECT_EQ(CountOf(Log(), "Range ignored: asked from 200000, status 206."), 1);
}

TEST_F(HttpDownloadTest, ErrorAnswersFailTheDownload) {
    std::string destination = dir_ / "missing";
    EXPECT_FALSE(Download("missing", destination));
    std::string log = Log();
    EXPECT_EQ(CountOf(log, "404 error."), 1);
    EXPECT_EQ(CountOf(log, "SendHttpHeader ERROR"), 1);

    destination = Serve("broken", "data");
    HttpFault fault;
    fault.status = 500;
    server_.AddFault(fault);
    EXPECT_FALSE(Download("broken", destination));
    EXPECT_EQ(CountOf(Log(), "HTTP status 500."), 1);
    EXPECT_FALSE(FileExists(destination));
    EXPECT_TRUE(NoPartFiles(destination));
}

TEST_F(HttpDownloadTest, AnswerWithoutContentLengthFailsTheDownload) {
    std::string destination = Serve("nolength", "some bytes");
    HttpFault fault;
    fault.omitContentLength = true;
    server_.AddFault(fault);
    EXPECT_FALSE(Download("nolength", destination));
    EXPECT_EQ(CountOf(Log(), "No Content-Length in the answer: the size of the file is unknown."),
              1);
    EXPECT_FALSE(FileExists(destination));
    EXPECT_TRUE(NoPartFiles(destination));
    EXPECT_EQ(server_.requests().size(), 1u); // the probe only
}

TEST_F(HttpDownloadTest, StalledSegmentEndsAsAReadError) {
    SetReceiveTimeout(300);
    std::string bytes = MakeBytes(5000, 11);
    std::string destination = Serve("stall", bytes);
    HttpFault fault;
    fault.rangeStart = 0;
    fault.stallAfterBodyBytes = 100;
    fault.path = "/objects/stall";
    server_.AddFault(fault);
    EXPECT_FALSE(Download("stall", destination));
    EXPECT_EQ(CountOf(Log(), "Read error!"), 1);
    EXPECT_FALSE(FileExists(destination));
}

// Each piece comes well within the receive time-out; only what a whole window brings tells a
// slow server from one that will never finish.
TEST_F(HttpDownloadTest, SlowBodyIsCutOffOnlyBelowTheWindowRate) {
    SetReceiveTimeout(1000);
    SetSlowLimits(30000, 200, 20);
    std::string bytes = MakeBytes(3000, 12);
    std::string destination = Serve("drip", bytes);
    HttpFault fault;
    fault.path = "/objects/drip";
    fault.dripBytes = 50;
    fault.dripDelayMs = 20; // 500 bytes in a window: slow, but enough
    fault.times = 2;
    server_.AddFault(fault);
    ASSERT_TRUE(Download("drip", destination));
    EXPECT_TRUE(ReadFile(destination) == bytes);

    // A slow link brings less than the threshold in each read, and still enough in each window:
    // what counts is the window's total.
    SetSlowLimits(30000, 200, 40);
    fault.dripBytes = 8;
    fault.dripDelayMs = 10; // 160 bytes in a window, never more than a few pieces in one read
    fault.path = "/objects/pieces";
    server_.ClearFaults();
    server_.AddFault(fault);
    std::string pieces = MakeBytes(1200, 14);
    destination = Serve("pieces", pieces);
    ASSERT_TRUE(Download("pieces", destination)) << Log();
    EXPECT_TRUE(ReadFile(destination) == pieces);
    EXPECT_EQ(CountOf(Log(), "is too slow"), 0);
    SetSlowLimits(30000, 200, 20);

    fault.path = "/objects/drip";
    fault.dripBytes = 1;
    fault.dripDelayMs = 50; // 4 bytes in a window
    fault.times = -1;
    server_.ClearFaults();
    server_.AddFault(fault);
    destination = dir_ / "trickle";
    EXPECT_FALSE(Download("drip", destination));
    EXPECT_EQ(CountOf(Log(), "127.0.0.1 is too slow: fewer than 20 bytes in 200 ms of the body."),
              1);
    EXPECT_FALSE(FileExists(destination));
    // What arrived is kept for the next attempt to resume from.
    EXPECT_GT(ReadFile(Part(destination, 0)).size(), 0u);
}

// Without Content-Range a 206 still says where it starts when it can only start in one place:
// at byte 0 when asked from there, or where the rest of the file begins when it is that long.
TEST_F(HttpDownloadTest, PartialAnswerWithoutContentRange) {
    std::string bytes = MakeBytes(600000, 16);
    std::string destination = Serve("norangefield", bytes);
    WriteFile(Part(destination, 1), bytes.substr(200000, 3000));
    HttpFault fault;
    fault.omitContentRange = true;
    server_.AddFault(fault);
    ASSERT_TRUE(Download("norangefield", destination));
    EXPECT_TRUE(ReadFile(destination) == bytes);
    EXPECT_EQ(RangeStarts("/objects/norangefield"),
              (std::vector<std::int64_t>{0, 0, 203000, 400000}));
    EXPECT_EQ(CountOf(Log(), "Range ignored"), 0);

    // One that is not as long as the rest cannot be placed: the whole file is fetched instead.
    server_.ClearFaults();
    fault.rangeStart = 200000;
    fault.rangeShift = 100;
    fault.times = 1;
    server_.AddFault(fault);
    destination = Serve("shortpartial", bytes);
    ASSERT_TRUE(Download("shortpartial", destination));
    EXPECT_TRUE(ReadFile(destination) == bytes);
    EXPECT_EQ(CountOf(Log(), "Range ignored: asked from 200000, status 206."), 1);
}

TEST_F(HttpDownloadTest, ConnectFailuresAreLogged) {
    server_.Stop(); // nobody listens on the port any more
    EXPECT_FALSE(Download("gone", dir_ / "gone"));
    EXPECT_EQ(CountOf(Log(), "Connecting to the server failed."), 1);

    EXPECT_FALSE(HttpDownload("http://127.0.0.1:80/x", dir_ / "x", fileSize_, received_, 1));
    EXPECT_EQ(CountOf(Log(), "Unable to get the host name."), 1);
}

TEST_F(HttpDownloadTest, DestinationThatCannotBeWrittenKeepsThePartFiles) {
    std::string bytes = MakeBytes(5000, 13);
    std::string destination = Serve("blocked", bytes);
    std::filesystem::create_directories(destination + "/inside");
    EXPECT_FALSE(Download("blocked", destination));
    // The line ends with the error number; the system's words for it follow on their own line.
    std::vector<std::string> messages = LogMessages(Log());
    const std::string line = "fopen_s faild, strWriteFileName : " + destination;
    int at = FindMessage(messages, line);
    ASSERT_GE(at, 0) << Log();
    ASSERT_LT(at + 1, static_cast<int>(messages.size()));
    EXPECT_EQ(messages[at], line + " ,Error: " + std::to_string(EISDIR));
    EXPECT_EQ(messages[at + 1], std::strerror(EISDIR));
    EXPECT_TRUE(ReadFile(Part(destination, 0)) == bytes);

    std::filesystem::remove_all(destination);
    server_.ClearRequests();
    ASSERT_TRUE(Download("blocked", destination));
    EXPECT_TRUE(ReadFile(destination) == bytes);
    EXPECT_EQ(RangeStarts("/objects/blocked"), (std::vector<std::int64_t>{0})); // nothing refetched
}

TEST_F(HttpDownloadTest, ThreadCountSplitsOnlySmallFiles) {
    std::string bytes = MakeBytes(1000, 14);
    std::string destination = Serve("four", bytes);
    ASSERT_TRUE(
        HttpDownload("http://127.0.0.1/objects/four", destination, fileSize_, received_, 4));
    EXPECT_TRUE(ReadFile(destination) == bytes);
    EXPECT_EQ(RangeStarts("/objects/four"), (std::vector<std::int64_t>{0, 0, 250, 500, 750}));

    // Fewer bytes than connections: the empty segments fetch nothing and join nothing.
    destination = Serve("tiny", "ab");
    ASSERT_TRUE(
        HttpDownload("http://127.0.0.1/objects/tiny", destination, fileSize_, received_, 4));
    EXPECT_EQ(ReadFile(destination), "ab");
    EXPECT_EQ(RangeStarts("/objects/tiny"), (std::vector<std::int64_t>{0, 0}));

    bytes = MakeBytes(409601, 15);
    destination = Serve("big", bytes);
    ASSERT_TRUE(HttpDownload("http://127.0.0.1/objects/big", destination, fileSize_, received_, 8));
    EXPECT_TRUE(ReadFile(destination) == bytes);
    EXPECT_EQ(RangeStarts("/objects/big").size(), 4u);
}

} // namespace

namespace {

// Downloads in flight count against the free space of the ones that start after them, for as
// much as they still have to write.
TEST_F(HttpDownloadTest, DownloadsInFlightShareTheFreeSpace) {
    std::int64_t available = 0;
    ASSERT_TRUE(platform::FreeDiskSpace(dir_.path(), available));
    const std::int64_t share = available / 10 * 6; // two of them do not fit
    const std::string first = dir_ / "first", second = dir_ / "second";
    std::atomic<std::int64_t> firstReceived{0}, secondReceived{0};
    {
        SpaceClaim running;
        ASSERT_TRUE(running.Take(first, share, firstReceived));
        SpaceClaim next;
        EXPECT_FALSE(next.Take(second, share, secondReceived));
        EXPECT_EQ(CountOf(Log(), "Not enough free space for " + second), 1);
        EXPECT_EQ(CountOf(Log(), "still to be written by other downloads."), 1);
        // What has arrived is on the disk already: it no longer counts as still needed.
        firstReceived = share;
        SpaceClaim after;
        EXPECT_TRUE(after.Take(second, share, secondReceived));
    }
    SpaceClaim alone;
    EXPECT_TRUE(alone.Take(second, share, secondReceived));
}

} // namespace

// The lean transfer: the size the manifest lists, closed ranges, connections kept open.
class LeanDownloadTest : public HttpDownloadTest {
  protected:
    void SetUp() override {
        server_.SetKeepAlive(true);
        HttpDownloadTest::SetUp();
        // The log file is opened by its first entry, as the program's main thread does; the
        // segments of a download must not race for it.
        WriteLog("lean transfer");
    }
    bool Lean(const std::string& name, const std::string& destination, std::int64_t listedSize) {
        return LeanDownload("http://127.0.0.1/objects/" + name, destination, listedSize, fileSize_,
                            received_);
    }
    // The Range lines the server saw, in arrival order (segments sorted, as they race).
    std::vector<std::string> Ranges() {
        std::vector<std::string> ranges;
        for (const std::string& request : server_.requests()) {
            std::size_t at = request.find("Range: ");
            ranges.push_back(request.substr(at + 7, request.find("\r\n", at) - at - 7));
        }
        return ranges;
    }
};

TEST_F(LeanDownloadTest, ListedSizesNeedOneClosedRangePerSegmentOverKeptConnections) {
    const std::string small = MakeBytes(20000, 1), large = MakeBytes(409601, 2);
    const std::string first = Serve("a", small), second = Serve("b", small + "b"),
                      third = Serve("c", large);
    ASSERT_TRUE(Lean("a", first, 20000));
    ASSERT_TRUE(Lean("b", second, 20001));
    ASSERT_TRUE(Lean("c", third, 409601));
    EXPECT_TRUE(ReadFile(first) == small);
    EXPECT_TRUE(ReadFile(second) == small + "b");
    EXPECT_TRUE(ReadFile(third) == large);
    EXPECT_TRUE(NoPartFiles(third));
    std::vector<std::string> ranges = Ranges();
    std::sort(ranges.begin() + 2, ranges.end());
    EXPECT_EQ(ranges, (std::vector<std::string>{"bytes=0-19999", "bytes=0-20000", "bytes=0-136532",
                                                "bytes=136533-273065", "bytes=273066-409600"}));
    // The small files share one connection; the large one's segments need two more at most.
    EXPECT_LE(server_.connectionCount(), 3);
    EXPECT_EQ(CountOf(Log(), "正在建立连接"), server_.connectionCount());
}

// Without a listed size the first answer tells the length, and its body is kept: one request for
// a file of one segment, and only the bytes still missing for a larger one.
TEST_F(LeanDownloadTest, WithoutASizeTheFirstAnswerIsKept) {
    const std::string small = MakeBytes(5000, 3), large = MakeBytes(409601, 4), empty;
    const std::string first = Serve("a", small), second = Serve("b", large),
                      third = Serve("c", empty);
    ASSERT_TRUE(Lean("a", first, -1));
    EXPECT_EQ(fileSize_, 5000);
    ASSERT_TRUE(Lean("b", second, -1));
    EXPECT_EQ(fileSize_, 409601);
    ASSERT_TRUE(Lean("c", third, -1));
    EXPECT_TRUE(ReadFile(first) == small);
    EXPECT_TRUE(ReadFile(second) == large);
    EXPECT_TRUE(FileExists(third) && ReadFile(third).empty());
    EXPECT_TRUE(NoPartFiles(second));
    EXPECT_EQ(Ranges(), (std::vector<std::string>{"bytes=0-409599", "bytes=0-409599",
                                                  "bytes=409600-409600", "bytes=0-409599"}));
}

TEST_F(LeanDownloadTest, AServerThatClosedAnIdleConnectionCostsNoAttempt) {
    HttpFault closing;
    closing.closeAfterAnswer = true;
    closing.path = "/objects/a";
    server_.AddFault(closing);
    const std::string bytes = MakeBytes(3000, 5);
    const std::string first = Serve("a", bytes), second = Serve("b", bytes + "!");
    ASSERT_TRUE(Lean("a", first, 3000));
    // The connection that served a is closed by now, or found closed on the next request.
    ASSERT_TRUE(Lean("b", second, 3001));
    EXPECT_TRUE(ReadFile(second) == bytes + "!");
    EXPECT_EQ(server_.connectionCount(), 2);
}

// Every answer the engine refuses today is refused here too, and nothing is written in place of
// the file: another length than listed, another range than asked, a 200 or an error for a part.
TEST_F(LeanDownloadTest, AnswersThatAreNotTheRangeAskedForAreRefused) {
    const std::string bytes = MakeBytes(409601, 6);
    const std::string destination = Serve("a", bytes);
    EXPECT_FALSE(Lean("a", destination, 409602));
    EXPECT_EQ(CountOf(Log(), "The server's file is 409601 bytes, not the 409602 expected."), 3)
        << Log();
    HttpFault shifted;
    shifted.rangeStart = 136533;
    shifted.rangeShift = 1;
    shifted.times = 1;
    server_.AddFault(shifted);
    EXPECT_FALSE(Lean("a", destination, 409601));
    EXPECT_EQ(CountOf(Log(), "Content-Range names bytes 136534-273065, not the 136533-273065"), 1);
    HttpFault error;
    error.path = "/objects/b";
    error.status = 500;
    server_.AddFault(error);
    EXPECT_FALSE(Lean("b", Serve("b", "bytes"), 5));
    EXPECT_FALSE(FileExists(destination));
    EXPECT_FALSE(FileExists(dir_ / "b"));
    // What the good segments brought stays for the next attempt, which fetches only the rest.
    server_.ClearRequests();
    ASSERT_TRUE(Lean("a", destination, 409601));
    EXPECT_TRUE(ReadFile(destination) == bytes);
    EXPECT_EQ(Ranges(), (std::vector<std::string>{"bytes=136533-273065"}));
}

// A file of more than one segment is written in place into one file, with a record of what each
// segment holds; no part file and no join.
class InPlaceTest : public LeanDownloadTest {
  protected:
    // What an earlier attempt left: `data` as the file written in place, and a record naming
    // `object` with a file of `length` bytes and these counts per segment.
    void Leave(const std::string& destination, const std::string& data, const std::string& object,
               std::int64_t length, std::vector<long long> counts) {
        std::string record;
        for (long long count : counts) {
            char slot[32];
            std::snprintf(slot, sizeof slot, "%020lld\n", count);
            record += slot;
        }
        WriteFile(InPlaceFileName(destination), data);
        WriteFile(SegmentRecordName(destination),
                  record + object + " " + std::to_string(length) + "\n");
    }
    bool NothingLeft(const std::string& destination) {
        return NoPartFiles(destination) && !FileExists(InPlaceFileName(destination)) &&
               !FileExists(SegmentRecordName(destination));
    }
    // Segments of 200,000 bytes.
    const std::string bytes_ = MakeBytes(600000, 11);
};

TEST_F(InPlaceTest, ASegmentCutShortIsResumedFromItsRecord) {
    const std::string destination = Serve("a", bytes_);
    CutTheMiddleSegmentOnce();
    EXPECT_FALSE(Lean("a", destination, 600000));
    EXPECT_TRUE(NoPartFiles(destination));
    EXPECT_FALSE(FileExists(destination));
    EXPECT_NE(ReadFile(SegmentRecordName(destination)).find("00000000000000070000\n"),
              std::string::npos);
    server_.ClearRequests();
    ASSERT_TRUE(Lean("a", destination, 600000));
    EXPECT_TRUE(ReadFile(destination) == bytes_);
    EXPECT_EQ(Ranges(), (std::vector<std::string>{"bytes=270000-399999"}));
    EXPECT_TRUE(NothingLeft(destination));
}

// A record is believed no further than the file reaches, never past its segment, and only for
// its own object and length; whatever it holds, the download ends with the server's bytes.
TEST_F(InPlaceTest, ARecordNeverClaimsMoreThanTheFileHolds) {
    const std::string destination = Serve("a", bytes_);
    Leave(destination, bytes_.substr(0, 250000), "a", 600000, {200000, 200000, 200000});
    ASSERT_TRUE(Lean("a", destination, 600000));
    EXPECT_TRUE(ReadFile(destination) == bytes_);
    std::vector<std::string> ranges = Ranges();
    std::sort(ranges.begin(), ranges.end());
    EXPECT_EQ(ranges, (std::vector<std::string>{"bytes=250000-399999", "bytes=400000-599999"}));
    EXPECT_TRUE(NothingLeft(destination));

    const std::vector<std::vector<long long>> unsound = {
        {200001, 200000, 200000}, {5, 5}, {5, 5, 5, 5}};
    for (const std::vector<long long>& counts : unsound) {
        SCOPED_TRACE(counts.size());
        Leave(destination, bytes_, "a", 600000, counts);
        server_.ClearRequests();
        ASSERT_TRUE(Lean("a", destination, 600000));
        EXPECT_EQ(Ranges().size(), counts.size() == 3 ? 1u : 3u);
    }
    for (const std::string& object : {std::string("b"), std::string("a 600001"), std::string("")}) {
        Leave(destination, std::string(600000, 'x'), object, 600000, {200000, 200000, 200000});
        server_.ClearRequests();
        ASSERT_TRUE(Lean("a", destination, 600000));
        EXPECT_TRUE(ReadFile(destination) == bytes_) << object;
        EXPECT_EQ(Ranges().size(), 3u) << object;
    }
}

// A write refused mid-file (the file-size limit stands in for a full disk: the same failed
// write) fails the attempt; what was written before it is kept and the next attempt resumes.
TEST_F(InPlaceTest, AWriteRefusedMidFileIsResumedAfter) {
    const std::string destination = Serve("a", bytes_);
    struct sigaction ignore = {}, before = {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &before), 0);
    rlimit limit = {}, saved = {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    limit = saved;
    limit.rlim_cur = 450000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    const bool first = Lean("a", destination, 600000);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::sigaction(SIGXFSZ, &before, nullptr);
    EXPECT_FALSE(first);
    EXPECT_EQ(CountOf(Log(), "fwrite faild, " + InPlaceFileName(destination)), 1) << Log();
    server_.ClearRequests();
    ASSERT_TRUE(Lean("a", destination, 600000));
    EXPECT_TRUE(ReadFile(destination) == bytes_);
    const std::vector<std::int64_t> starts = RangeStarts("/objects/a");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_GE(starts[0], 400000);
    EXPECT_LE(starts[0], 450000);
    EXPECT_TRUE(NothingLeft(destination));
}

// Without a listed size the first answer's bytes go into the one file too, and are recorded.
TEST_F(InPlaceTest, TheFirstAnswerOfAnUnlistedFileGoesInPlace) {
    const std::string destination = Serve("a", bytes_);
    HttpFault cut;
    cut.rangeStart = 409600;
    cut.closeAfterBodyBytes = 1000;
    cut.times = 1;
    server_.AddFault(cut);
    EXPECT_FALSE(Lean("a", destination, -1));
    EXPECT_TRUE(NoPartFiles(destination));
    server_.ClearRequests();
    ASSERT_TRUE(Lean("a", destination, -1));
    EXPECT_TRUE(ReadFile(destination) == bytes_);
    EXPECT_EQ(Ranges(), (std::vector<std::string>{"bytes=0-409599", "bytes=410600-599999"}));
    EXPECT_TRUE(NothingLeft(destination));
}
