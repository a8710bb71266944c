#pragma once
// The lean transfer of one URL into one file: the size the manifest lists (or the first answer's
// own) instead of a probe, closed ranges, connections kept open and reused across segments and
// files. A file of more than one segment is written in place (net/segment_record) instead of into
// part files that are joined; every answer HttpDownload would refuse is refused.

#include <atomic>
#include <cstdint>
#include <string>

// `listedSize` -1: the manifest does not list one, and the first request's answer tells it; its
// body is kept, so a file of one segment takes one request.
bool LeanDownload(const std::string& url, const std::string& strWriteFileName,
                  std::int64_t listedSize, std::int64_t& fileSize,
                  std::atomic<std::int64_t>& received);
unsigned LeanSegmentThread(void* segment);
