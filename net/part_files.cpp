#include "net/part_files.h"

#include "net/segment_record.h"
#include "support/log.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace {

constexpr std::size_t kCopyBufferSize = 256 * 1024;

// A part file left by an earlier attempt is resumed whatever its attributes say.
bool IsPresent(const std::string& path) {
    return platform::QueryPath(path) == platform::PathKind::File;
}

// "<text> ,Error: <number>", and the cause in words on a line of its own right after it.
void LogErrorAndCause(const std::string& text, int error, const std::string& cause) {
    WriteLog(FormatString("%s ,Error: %d", text.c_str(), error));
    WriteLog(cause);
}

// A failed platform file call, with the system's error number and its text.
void LogSystemError(const std::string& text) {
    int error = platform::LastError();
    LogErrorAndCause(text, error, platform::SystemErrorText(error));
}

// The whole download renamed to its own name; false after a log line.
bool MoveToDestination(const std::string& whole, const std::string& strWriteFileName) {
    if (platform::MoveFileOver(whole, strWriteFileName))
        return true;
    LogSystemError(FormatString("fopen_s faild, strWriteFileName : %s", strWriteFileName.c_str()));
    return false;
}

} // namespace

std::int64_t SegmentLength(const HttpSegment& segment) {
    return segment.end - segment.start;
}

// A failed stdio call, with the run-time library's error number and its text: on a full disk
// the log then says so.
void LogStreamError(const std::string& text) {
    int error = errno;
    LogErrorAndCause(text, error, std::strerror(error));
}

// Below this much room a failed write is put down to a full disk.
constexpr std::int64_t kNearlyFullBytes = 1024 * 1024;

// The Windows C run-time leaves errno at EINVAL after a short fwrite on a full disk: when errno
// names no lack of room and the volume has next to none, the log names the full disk, and what
// the run-time library said beside it.
void LogWriteError(const std::string& text, const std::string& path) {
    int error = errno;
    std::int64_t free = 0;
    std::string folder = path.substr(0, path.find_last_of("/\\") + 1);
    if (error != ENOSPC && !folder.empty() && platform::FreeDiskSpace(folder, free) &&
        free < kNearlyFullBytes) {
        LogErrorAndCause(text, ENOSPC,
                         FormatString("%s (%lld bytes free on the disk; the run-time library "
                                      "said %d, %s)",
                                      std::strerror(ENOSPC), static_cast<long long>(free), error,
                                      std::strerror(error)));
        return;
    }
    errno = error;
    LogStreamError(text);
}

// How much of the segment an earlier attempt left in the part file; 0 after throwing away a
// part that cannot belong to this segment. -1 when such a part cannot be cleared.
std::int64_t ExistingBytes(const HttpSegment& segment) {
    if (segment.inPlace)
        return RecordedBytes(segment);
    std::int64_t existing = 0;
    if (!IsPresent(segment.partFileName) || !platform::FileSize(segment.partFileName, existing))
        return 0;
    if (!segment.wholeFile && existing <= SegmentLength(segment))
        return existing;
    if (!platform::ResizeFile(segment.partFileName, 0)) {
        WriteLog(FormatString("Cannot clear the part file %s", segment.partFileName.c_str()));
        return -1;
    }
    return 0;
}

// Part 0 already holds the first bytes of the file, so the other parts are appended to it and it
// is renamed to the destination once whole: the destination is never half written, and the
// largest copy is saved. Each part goes as soon as its bytes are safely in part 0, so the join
// needs room for no more than the file and one part.
bool JoinParts(const std::vector<HttpSegment>& segments, const std::string& strWriteFileName) {
    const HttpSegment& first = segments.front();
    // A segment with nothing to fetch has no part file yet.
    std::FILE* output =
        platform::OpenShared(first.partFileName, IsPresent(first.partFileName) ? "r+b" : "w+b");
    if (!output) {
        LogStreamError(FormatString("fopen_s faild, FileCombine : %s", first.partFileName.c_str()));
        return false;
    }
    bool ok = true;
    for (std::size_t i = 1; i < segments.size() && ok; ++i) {
        ok = FileCombine(segments[i], output);
        if (ok && std::fflush(output) != 0) {
            LogWriteError(FormatString("fwrite faild, %s", first.partFileName.c_str()),
                          first.partFileName);
            ok = false;
        }
        if (ok && SegmentLength(segments[i]) > 0)
            platform::RemoveFile(segments[i].partFileName);
    }
    if (std::fclose(output) != 0 && ok) {
        LogWriteError(FormatString("fwrite faild, %s", first.partFileName.c_str()),
                      first.partFileName);
        ok = false;
    }
    if (!ok) {
        // Back to a whole part 0, so the next attempt resumes instead of fetching it again; the
        // parts already joined and removed are fetched again.
        platform::ResizeFile(first.partFileName, SegmentLength(first));
        return false;
    }
    if (!MoveToDestination(first.partFileName, strWriteFileName)) {
        platform::ResizeFile(first.partFileName, SegmentLength(first));
        return false;
    }
    return true;
}

bool FinishInPlace(const std::string& strWriteFileName) {
    if (!MoveToDestination(InPlaceFileName(strWriteFileName), strWriteFileName))
        return false;
    platform::RemoveFile(SegmentRecordName(strWriteFileName));
    return true;
}

std::string PartFileName(const std::string& strWriteFileName, int index) {
    return FormatString("%s_%d", strWriteFileName.c_str(), index);
}

std::FILE* GetFilePointer(const std::string& path) {
    if (IsPresent(path)) {
        std::FILE* file = platform::OpenShared(path, "r+b");
        if (!file)
            LogStreamError("GetFilePointer(fopen_s, r+b) faild!");
        return file;
    }
    std::FILE* file = platform::OpenShared(path, "w+b");
    if (!file)
        LogStreamError("GetFilePointer(fopen_s, w+b) faild!");
    return file;
}

bool FileCombine(const HttpSegment& segment, std::FILE* output) {
    if (SegmentLength(segment) == 0)
        return true; // nothing was fetched, so there is no part file
    std::FILE* part = platform::OpenShared(segment.partFileName, "rb");
    if (!part) {
        LogStreamError(
            FormatString("fopen_s faild, FileCombine : %s", segment.partFileName.c_str()));
        return false;
    }
    bool ok = platform::SeekTo(output, segment.start);
    std::unique_ptr<char[]> buffer(new char[kCopyBufferSize]);
    for (std::int64_t left = SegmentLength(segment); ok && left > 0;) {
        std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(kCopyBufferSize, left));
        std::size_t got = std::fread(buffer.get(), 1, want, part);
        if (got == 0) {
            WriteLog(FormatString("The part file %s is shorter than its segment.",
                                  segment.partFileName.c_str()));
            ok = false;
        } else if (std::fwrite(buffer.get(), 1, got, output) != got) {
            LogWriteError(FormatString("fwrite faild, %s", segment.partFileName.c_str()),
                          segment.partFileName);
            ok = false;
        }
        left -= static_cast<std::int64_t>(got);
    }
    std::fclose(part);
    return ok;
}

std::int64_t FileOffset(const HttpSegment& segment, std::int64_t intoSegment) {
    return !segment.inPlace ? intoSegment : segment.start + intoSegment;
}

bool ClosePartFile(std::FILE* file, HttpSegment& segment) {
    const bool recorded = RecordWritten(segment, file);
    if (std::fclose(file) != 0 || !recorded) {
        LogWriteError(FormatString("fwrite faild, %s", segment.partFileName.c_str()),
                      segment.partFileName);
        return false;
    }
    segment.done = true;
    return true;
}
