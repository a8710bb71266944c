#include "net/http_get.h"

#include "net/deal_socket.h"
#include "net/download_space.h"
#include "net/engine_settings.h"
#include "net/http_header.h"
#include "net/part_files.h"
#include "net/segment_record.h"
#include "net/url.h"
#include "support/log.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>

namespace {

// Large enough that a fast link costs few calls, small enough for three threads at once.
constexpr std::size_t kReceiveBufferSize = 64 * 1024;
constexpr int kMaxSegments = 50;

// The answer carries the file from `from` on: a 206 that names that byte, or the whole file
// when the whole file was asked for. A 206 without Content-Range is taken when it can only be
// that: asked from byte 0, or exactly as long as the rest of the file.
bool RangeHonoured(const ResponseHead& head, std::int64_t from, std::int64_t fileLength) {
    if (head.status == 206 && head.rangeStart < 0)
        return from == 0 || (head.hasContentLength && head.contentLength == fileLength - from);
    if (head.status == 206)
        return head.rangeStart == from;
    return head.status == 200 && from == 0;
}

// Counts bytes that are written (only those); the record of a file written in place follows them
// every megabyte. False when they could not be handed to the system.
bool Written(HttpSegment& segment, std::FILE* file, long count) {
    const std::int64_t before = segment.held;
    segment.held += count;
    return (before >> kRecordEveryShift) == (segment.held >> kRecordEveryShift) ||
           RecordWritten(segment, file);
}

unsigned FailSegment(platform::Socket socket, std::FILE* file) {
    if (file)
        std::fclose(file);
    if (socket != platform::kInvalidSocket)
        platform::CloseSocket(socket);
    return 1;
}

// For a server that answers every range with the whole file: one connection from byte 0 into
// part 0, the other parts dropped; or from byte 0 over the file written in place, whose record's
// first count then follows the whole file (a count past the first segment is not believed later).
bool FetchWholeFile(std::vector<HttpSegment>& segments, std::int64_t contentLength,
                    SegmentRoutine routine) {
    WriteLog("The server ignores Range: fetching the whole file over one connection.");
    HttpSegment whole = segments.front();
    for (std::size_t i = 1; i < segments.size() && !whole.inPlace; ++i)
        platform::RemoveFile(segments[i].partFileName);
    whole.held = 0;
    whole.end = contentLength;
    whole.wholeFile = true;
    whole.done = false;
    whole.rangeIgnored = false;
    if (whole.progress)
        GetProgress().OnDisk(*whole.progress, 0);
    segments.assign(1, whole);
    routine(&segments.front());
    return segments.front().done;
}

} // namespace

bool ReceiveSegment(HttpSegment& segment, platform::Socket socket, std::FILE* file,
                    std::int64_t remaining) {
    using Clock = std::chrono::steady_clock;
    const EngineSettings& settings = GetEngineSettings();
    const std::chrono::milliseconds window(settings.slowWindowMs);
    Clock::time_point windowStart = Clock::now();
    std::int64_t windowBytes = 0;
    std::unique_ptr<char[]> buffer(new char[kReceiveBufferSize]);
    for (std::int64_t got = 0; got < remaining;) {
        std::size_t want =
            static_cast<std::size_t>(std::min<std::int64_t>(kReceiveBufferSize, remaining - got));
        long count = platform::ReceiveSome(socket, buffer.get(), want);
        if (count < 0) {
            WriteLog("Read error!");
            return false;
        }
        if (count == 0) {
            // What arrived stays in the part file for the next attempt to resume from.
            WriteLog("The server closed the connection before the segment was complete.");
            return false;
        }
        *segment.received += count;
        if (segment.progress)
            GetProgress().Add(*segment.progress, count);
        if (std::fwrite(buffer.get(), 1, static_cast<std::size_t>(count), file) !=
                static_cast<std::size_t>(count) ||
            !Written(segment, file, count)) {
            LogWriteError(FormatString("fwrite faild, %s", segment.partFileName.c_str()),
                          segment.partFileName);
            return false;
        }
        got += count;
        // A server that trickles a byte now and then never trips the receive time-out; what it
        // sends over a whole window says whether the segment can ever be finished.
        windowBytes += count;
        Clock::time_point now = Clock::now();
        if (settings.slowWindowMs > 0 && now - windowStart >= window) {
            if (windowBytes < settings.slowWindowBytes) {
                WriteLog(FormatString("%s is too slow: fewer than %d bytes in %d ms of the body.",
                                      segment.host.c_str(), settings.slowWindowBytes,
                                      settings.slowWindowMs));
                return false;
            }
            windowStart = now;
            windowBytes = 0;
        }
    }
    return true;
}

unsigned SegmentThread(void* arg) {
    HttpSegment& segment = *static_cast<HttpSegment*>(arg);
    WriteLog("正在建立连接");
    platform::Socket socket = ConnectServer(segment.host, segment.port);
    if (socket == platform::kInvalidSocket)
        return 1;

    std::int64_t existing = ExistingBytes(segment);
    if (existing < 0)
        return FailSegment(socket, nullptr);
    if (existing == SegmentLength(segment)) {
        WriteLog("文件已下载完毕!");
        platform::CloseSocket(socket);
        segment.done = true;
        return 0;
    }
    std::FILE* file = GetFilePointer(segment.partFileName);
    if (!file)
        return FailSegment(socket, nullptr);

    std::int64_t from = segment.start + existing;
    ResponseHead head;
    if (!SendHttpHeader(socket, segment.host, segment.urlDir, segment.fileName, from, head))
        return FailSegment(head.socketClosed ? platform::kInvalidSocket : socket, file);
    if (!RangeHonoured(head, from, segment.fileLength)) {
        // Nothing of this answer is written: its bytes are not the ones the part file needs.
        WriteLog(FormatString("Range ignored: asked from %lld, status %d.",
                              static_cast<long long>(from), head.status));
        segment.rangeIgnored = true;
        return FailSegment(socket, file);
    }
    if (!platform::SeekTo(file, existing) ||
        !ReceiveSegment(segment, socket, file, SegmentLength(segment) - existing))
        return FailSegment(socket, file);
    platform::CloseSocket(socket);
    return ClosePartFile(file, segment) ? 0 : 1;
}

bool DownloadSegments(CHttpGet& get, const std::string& host, const std::string& urlDir,
                      const std::string& fileName, const std::string& strWriteFileName,
                      int threadCount, std::int64_t contentLength,
                      std::atomic<std::int64_t>& received, SegmentRoutine routine, bool lean) {
    if (!routine)
        routine = SegmentThread;
    int count = SegmentCount(contentLength, threadCount);
    std::int64_t segmentSize = contentLength / count;
    // One segment is written in order into its part file, whose size says how much it holds.
    bool inPlace = lean && count > 1;
    if (inPlace && !PrepareSegmentRecord(strWriteFileName, fileName, contentLength, count))
        return false;
    get.segments.assign(count, HttpSegment());
    ProgressShare& progress = GetProgress().ShareFor(strWriteFileName);
    GetProgress().Sized(progress, contentLength);
    std::int64_t held = 0;
    for (int i = 0; i < count; ++i) {
        HttpSegment& segment = get.segments[i];
        segment.host = host;
        segment.port = GetEngineSettings().port;
        segment.urlDir = urlDir;
        segment.fileName = fileName;
        segment.received = &received;
        segment.progress = &progress;
        segment.partFileName =
            inPlace ? InPlaceFileName(strWriteFileName) : PartFileName(strWriteFileName, i);
        segment.inPlace = inPlace;
        segment.index = static_cast<std::size_t>(i);
        segment.start = i * segmentSize;
        segment.end = i == count - 1 ? contentLength : segment.start + segmentSize;
        segment.fileLength = contentLength;
        // Parts that cannot belong to this file are cleared before the free space is asked:
        // their room is free for the download.
        // A file written in place is judged before any segment writes to it and makes it longer.
        const std::int64_t existing = ExistingBytes(segment);
        segment.held = existing;
        held += std::max<std::int64_t>(existing, 0);
    }
    GetProgress().OnDisk(progress, held);
    // An announced length that the disk cannot hold is not fetched: a server streaming endless
    // data must not fill the disk for every later run.
    SpaceClaim space;
    if (!space.Take(strWriteFileName, contentLength - held, received)) {
        get.segments.clear();
        return false;
    }
    std::vector<platform::ThreadHandle> threads;
    // A lone segment of the lean transfer needs no thread of its own: its download's is free.
    for (HttpSegment& segment : get.segments) {
        if (lean && count == 1) {
            routine(&segment);
            break;
        }
        platform::ThreadHandle thread;
        if (platform::StartThread(routine, &segment, thread))
            threads.push_back(thread);
        else
            WriteLog("CreateThread faild!");
    }
    platform::WaitAllThreads(threads);

    bool allDone = std::all_of(get.segments.begin(), get.segments.end(),
                               [](const HttpSegment& segment) { return segment.done; });
    bool rangeIgnored =
        std::any_of(get.segments.begin(), get.segments.end(),
                    [](const HttpSegment& segment) { return segment.rangeIgnored; });
    if (!allDone && rangeIgnored)
        allDone = FetchWholeFile(get.segments, contentLength, routine);
    bool ok = allDone && (inPlace ? FinishInPlace(strWriteFileName)
                                  : JoinParts(get.segments, strWriteFileName));
    get.segments.clear();
    return ok;
}

int SegmentCount(std::int64_t contentLength, int threadCount) {
    return contentLength > kMultiSegmentThreshold
               ? 3
               : std::min(std::max(threadCount, 1), kMaxSegments);
}

bool HttpDownload(const std::string& url, const std::string& strWriteFileName,
                  std::int64_t& fileSize, std::atomic<std::int64_t>& received, int threadCount) {
    received = 0;
    CHttpGet get;
    UrlParts parts = SplitUrl(url);

    WriteLog("正在建立连接");
    platform::Socket socket = ConnectServer(parts.host, GetEngineSettings().port);
    if (socket == platform::kInvalidSocket)
        return false;
    ResponseHead head;
    if (!SendHttpHeader(socket, parts.host, parts.urlDir, parts.fileName, 0, head)) {
        WriteLog("SendHttpHeader ERROR");
        if (!head.socketClosed)
            platform::CloseSocket(socket);
        return false;
    }
    platform::CloseSocket(socket);
    if (!head.hasContentLength) {
        // Without a length there is no knowing where the segments lie or when the file is whole.
        WriteLog("No Content-Length in the answer: the size of the file is unknown.");
        return false;
    }
    fileSize = head.contentLength;
    return DownloadSegments(get, parts.host, parts.urlDir, parts.fileName, strWriteFileName,
                            threadCount, head.contentLength, received);
}
