#include "net/lean_get.h"

#include "net/connection_pool.h"
#include "net/engine_settings.h"
#include "net/http_get.h"
#include "net/http_header.h"
#include "net/part_files.h"
#include "net/segment_record.h"
#include "net/url.h"
#include "support/log.h"

#include <algorithm>
#include <cstdio>

namespace {

// Sends the request for bytes from..to on a kept connection, or on a new one. A kept connection
// that the server closed while it lay idle is replaced once: that costs no attempt.
bool Ask(const HttpSegment& segment, std::int64_t from, std::int64_t to,
         PooledConnection& connection, ResponseHead& head) {
    for (;;) {
        connection = TakeConnection(segment.host, segment.port);
        if (connection.socket == platform::kInvalidSocket)
            return false;
        if (SendRangeRequest(connection.socket, segment.host, segment.urlDir, segment.fileName,
                             from, to, head))
            return true;
        if (!head.socketClosed)
            platform::CloseSocket(connection.socket);
        const bool closedWhileIdle =
            head.refusal == HeadRefusal::SendFailed || head.refusal == HeadRefusal::NoHead;
        if (!connection.reused || !closedWhileIdle) {
            connection.socket = platform::kInvalidSocket;
            return false;
        }
    }
}

// After an answer read to its last byte: a connection the server keeps serves the next request.
void Done(const HttpSegment& segment, const PooledConnection& connection,
          const ResponseHead& head) {
    if (head.keepsConnection)
        GiveBackConnection(segment.host, segment.port, connection.socket);
    else
        platform::CloseSocket(connection.socket);
}

// The answer carries exactly bytes from..to of a file of `fileLength` bytes: a 206 naming that
// range of that file with as many bytes, or a 200 when the whole file was asked for. A 200 for a
// part marks the segment's server as one that ignores ranges.
bool ExactRange(const ResponseHead& head, std::int64_t from, std::int64_t to,
                std::int64_t fileLength, bool& rangeIgnored) {
    const long long first = from, last = to, length = fileLength;
    if (head.status == 200) {
        if (head.hasContentLength && head.contentLength != fileLength) {
            WriteLog(FormatString("The server's file is %lld bytes, not the %lld expected.",
                                  static_cast<long long>(head.contentLength), length));
            return false;
        }
        if (from == 0 && to == fileLength - 1 && head.hasContentLength)
            return true;
        WriteLog(FormatString("Range ignored: asked %lld-%lld, status 200.", first, last));
        rangeIgnored = true;
        return false;
    }
    if (head.status != 206) {
        WriteLog(
            FormatString("Range ignored: asked %lld-%lld, status %d.", first, last, head.status));
        return false;
    }
    if (head.rangeStart < 0) {
        // Without Content-Range, a part of exactly the length asked for can only be that part;
        // the digest check has the last word.
        if (head.hasContentLength && head.contentLength == to - from + 1)
            return true;
        WriteLog(FormatString("Range ignored: asked %lld-%lld, status 206 without Content-Range.",
                              first, last));
        return false;
    }
    if (head.completeLength != fileLength) {
        WriteLog(FormatString("The server's file is %lld bytes, not the %lld expected.",
                              static_cast<long long>(head.completeLength), length));
        return false;
    }
    if (head.rangeStart != from || head.rangeEnd != to) {
        WriteLog(FormatString("Content-Range names bytes %lld-%lld, not the %lld-%lld asked for.",
                              static_cast<long long>(head.rangeStart),
                              static_cast<long long>(head.rangeEnd), first, last));
        return false;
    }
    if (!head.hasContentLength || head.contentLength != to - from + 1) {
        WriteLog(FormatString("Content-Length %lld for a range of %lld bytes.",
                              static_cast<long long>(head.contentLength), last - first + 1));
        return false;
    }
    return true;
}

// Closes what a failed request leaves open; the connection is never given back, since what is
// left of its answer would be read as the next one's.
void Close(platform::Socket socket, std::FILE* file) {
    if (file)
        std::fclose(file);
    if (socket != platform::kInvalidSocket)
        platform::CloseSocket(socket);
}

// Without a listed size: the first request asks for what one segment can hold, and its answer
// tells the file's length. Its body goes into the part files it belongs to, and the segments go
// on from there.
bool FirstAnswer(const HttpSegment& request, const std::string& strWriteFileName,
                 std::int64_t& length) {
    PooledConnection connection;
    ResponseHead head;
    if (!Ask(request, 0, kMultiSegmentThreshold - 1, connection, head)) {
        WriteLog("SendHttpHeader ERROR");
        return false;
    }
    if (head.status == 206 && head.completeLength >= 0) {
        length = head.completeLength;
    } else if (head.status == 206 && head.rangeStart < 0 && head.hasContentLength &&
               head.contentLength < kMultiSegmentThreshold) {
        // Fewer bytes than asked for, and no Content-Range to say more: that is the whole file.
        length = head.contentLength;
    } else if (head.status == 200 && head.hasContentLength) {
        length = head.contentLength;
    } else {
        WriteLog("No length in the answer: the size of the file is unknown.");
        Close(connection.socket, nullptr);
        return false;
    }
    const std::int64_t last =
        head.status == 200 ? length - 1 : std::min(length, kMultiSegmentThreshold) - 1;
    bool rangeIgnored = false;
    if (!ExactRange(head, 0, last, length, rangeIgnored)) {
        Close(connection.socket, nullptr);
        return false;
    }

    const int count = SegmentCount(length, 1);
    const std::int64_t segmentSize = length / count;
    HttpSegment part = request;
    part.inPlace = count > 1;
    part.partFileName =
        part.inPlace ? InPlaceFileName(strWriteFileName) : PartFileName(strWriteFileName, 0);
    part.fileLength = length;
    std::atomic<std::int64_t> received{0};
    part.received = &received;
    std::FILE* file = nullptr;
    if ((part.inPlace &&
         !PrepareSegmentRecord(strWriteFileName, request.fileName, length, count)) ||
        !(file = GetFilePointer(part.partFileName))) {
        Close(connection.socket, nullptr);
        return false;
    }
    bool ok = true;
    for (int i = 0; ok && i < count && i * segmentSize <= last; ++i) {
        part.index = static_cast<std::size_t>(i);
        part.start = i * segmentSize;
        part.end = i == count - 1 ? length : part.start + segmentSize;
        // Over the start of what an earlier attempt left: those bytes are the same, and what it
        // holds beyond them is resumed from.
        const std::int64_t earlier =
            part.inPlace ? std::max<std::int64_t>(ExistingBytes(part), 0) : 0;
        part.held = 0;
        ok = platform::SeekTo(file, FileOffset(part, 0)) &&
             ReceiveSegment(part, connection.socket, file,
                            std::min(part.end, last + 1) - part.start);
        part.held = std::max(part.held, earlier);
        if (!RecordWritten(part, file) && ok) {
            LogWriteError(FormatString("fwrite faild, %s", part.partFileName.c_str()),
                          part.partFileName);
            ok = false;
        }
    }
    if (std::fclose(file) != 0 && ok) {
        LogWriteError(FormatString("fwrite faild, %s", part.partFileName.c_str()),
                      part.partFileName);
        ok = false;
    }
    if (!ok) {
        Close(connection.socket, nullptr);
        return false;
    }
    Done(request, connection, head);
    return true;
}

} // namespace

unsigned LeanSegmentThread(void* arg) {
    HttpSegment& segment = *static_cast<HttpSegment*>(arg);
    const std::int64_t existing = segment.inPlace ? segment.held : ExistingBytes(segment);
    if (existing < 0)
        return 1;
    if (existing == SegmentLength(segment)) {
        if (existing > 0)
            WriteLog("文件已下载完毕!");
        segment.done = true;
        return 0;
    }
    std::FILE* file = GetFilePointer(segment.partFileName);
    if (!file)
        return 1;
    segment.held = existing;
    const std::int64_t from = segment.start + existing, to = segment.end - 1;
    PooledConnection connection;
    ResponseHead head;
    if (!Ask(segment, from, to, connection, head)) {
        Close(platform::kInvalidSocket, file);
        return 1;
    }
    if (!ExactRange(head, from, to, segment.fileLength, segment.rangeIgnored)) {
        Close(connection.socket, file);
        return 1;
    }
    if (!platform::SeekTo(file, FileOffset(segment, existing)) ||
        !ReceiveSegment(segment, connection.socket, file, to - from + 1)) {
        // What arrived is kept for the next attempt to resume from.
        RecordWritten(segment, file);
        Close(connection.socket, file);
        return 1;
    }
    Done(segment, connection, head);
    return ClosePartFile(file, segment) ? 0 : 1;
}

bool LeanDownload(const std::string& url, const std::string& strWriteFileName,
                  std::int64_t listedSize, std::int64_t& fileSize,
                  std::atomic<std::int64_t>& received) {
    received = 0;
    UrlParts parts = SplitUrl(url);
    std::int64_t length = listedSize;
    if (length < 0) {
        HttpSegment request;
        request.host = parts.host;
        request.port = GetEngineSettings().port;
        request.urlDir = parts.urlDir;
        request.fileName = parts.fileName;
        if (!FirstAnswer(request, strWriteFileName, length))
            return false;
    }
    fileSize = length;
    CHttpGet get;
    return DownloadSegments(get, parts.host, parts.urlDir, parts.fileName, strWriteFileName, 1,
                            length, received, LeanSegmentThread, true);
}
