#include "net/segment_record.h"

#include "net/part_files.h"
#include "platform/platform.h"
#include "support/log.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// A count per segment, each on a line of its own at a fixed place, so that every segment's
// thread rewrites its own line and no other; then the object's name and length. Plain C buffers:
// this is linked into every program, whose size is counted.
constexpr const char* kRecordSuffix = ".record"; // after the name of the file written in place
constexpr long kSlotWidth = 21;                  // 20 digits and a line end
constexpr int kMostSegments = 50;
constexpr const char* kHeader = "%.255s %lld\n"; // the object's name, its length
constexpr int kLongestRecord = kMostSegments * kSlotWidth + 300;

// The record's counts into `counts` when it is the one of this object and length: their number,
// or -1.
int ReadCounts(const std::string& recordPath, const std::string& objectName, std::int64_t length,
               std::int64_t (&counts)[kMostSegments]) {
    char text[kLongestRecord + 1], header[300];
    std::FILE* file = platform::OpenShared(recordPath, "rb");
    if (!file)
        return -1;
    const long size = static_cast<long>(std::fread(text, 1, kLongestRecord + 1, file));
    std::fclose(file);
    const long headerSize = std::snprintf(header, sizeof header, kHeader, objectName.c_str(),
                                          static_cast<long long>(length));
    if (headerSize <= 0 || headerSize >= static_cast<long>(sizeof header) ||
        size > kLongestRecord || size < headerSize ||
        std::memcmp(text + size - headerSize, header, headerSize) != 0 ||
        (size - headerSize) % kSlotWidth != 0)
        return -1;
    int count = 0;
    for (long at = 0; at < size - headerSize; at += kSlotWidth, ++count) {
        if (count == kMostSegments || text[at + kSlotWidth - 1] != '\n')
            return -1;
        text[at + kSlotWidth - 1] = '\0';
        char* end = nullptr;
        counts[count] = std::strtoll(text + at, &end, 10);
        if (end != text + at + kSlotWidth - 1 || text[at] < '0' || text[at] > '9')
            return -1;
    }
    return count;
}

bool IsFile(const std::string& path) {
    return platform::QueryPath(path) == platform::PathKind::File;
}

} // namespace

std::string InPlaceFileName(const std::string& strWriteFileName) {
    return strWriteFileName + ".part";
}

std::string SegmentRecordName(const std::string& strWriteFileName) {
    return InPlaceFileName(strWriteFileName) + kRecordSuffix;
}

bool PrepareSegmentRecord(const std::string& strWriteFileName, const std::string& objectName,
                          std::int64_t length, int count) {
    const std::string data = InPlaceFileName(strWriteFileName);
    const std::string record = data + kRecordSuffix;
    std::int64_t counts[kMostSegments];
    if (count > kMostSegments)
        return false;
    if (IsFile(data) && ReadCounts(record, objectName, length, counts) == count)
        return true;
    // The file first: a run killed before the record is written leaves no record, and the next
    // one starts afresh.
    char text[kLongestRecord];
    int size = 0;
    for (int i = 0; i < count; ++i)
        size += std::snprintf(text + size, sizeof text - size, "%020d\n", 0);
    size += std::snprintf(text + size, sizeof text - size, kHeader, objectName.c_str(),
                          static_cast<long long>(length));
    const std::string* path = &data;
    std::FILE* file = platform::OpenShared(data, "wb");
    bool ok = file && std::fclose(file) == 0;
    if (ok) {
        path = &record;
        file = platform::OpenShared(record, "wb");
        ok = file && std::fwrite(text, 1, size, file) == static_cast<std::size_t>(size);
        ok = file && std::fclose(file) == 0 && ok;
    }
    if (!ok) {
        LogWriteError("fwrite faild, " + *path, *path);
        platform::RemoveFile(record);
    }
    return ok;
}

std::int64_t RecordedBytes(const HttpSegment& segment) {
    std::int64_t counts[kMostSegments], size = 0;
    const int count = ReadCounts(segment.partFileName + kRecordSuffix, segment.fileName,
                                 segment.fileLength, counts);
    if (count < 0 || segment.index >= static_cast<std::size_t>(count) ||
        !platform::FileSize(segment.partFileName, size))
        return 0;
    const std::int64_t recorded = counts[segment.index];
    if (recorded > SegmentLength(segment))
        return 0;
    // A file shorter than the record says (cut by something else than this program) holds no
    // more than its size.
    return std::max<std::int64_t>(std::min(recorded, size - segment.start), 0);
}

std::int64_t RecordedBytesOfObject(const std::string& strWriteFileName,
                                   const std::string& objectName, std::int64_t length) {
    std::int64_t counts[kMostSegments], held = 0;
    const int count = ReadCounts(SegmentRecordName(strWriteFileName), objectName, length, counts);
    for (int i = 0; i < count; ++i)
        held += std::min(counts[i], length);
    return std::min(held, length);
}

bool RecordWritten(HttpSegment& segment, std::FILE* file) {
    if (!segment.inPlace)
        return true;
    if (std::fflush(file) != 0)
        return false;
    // A count that cannot be raised stays lower than what is written: it costs a refetch of
    // those bytes, never a claim of bytes that are not there.
    std::FILE* record = platform::OpenShared(segment.partFileName + kRecordSuffix, "r+b");
    if (!record)
        return true;
    char slot[kSlotWidth + 1];
    std::snprintf(slot, sizeof slot, "%020lld\n", static_cast<long long>(segment.held));
    if (platform::SeekTo(record, static_cast<std::int64_t>(segment.index) * kSlotWidth))
        std::fwrite(slot, 1, kSlotWidth, record);
    std::fclose(record);
    return true;
}
