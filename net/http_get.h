#pragma once
// One URL downloaded into one file: a probe for the size, then one or three byte ranges on
// their own threads and connections into part files "<destination>_<index>", joined at the end.

#include "platform/platform.h"
#include "support/progress.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct HttpSegment {
    std::string host;
    int port = 80;
    std::string urlDir;
    std::string fileName;
    std::string partFileName;
    std::int64_t start = 0;
    std::int64_t end = 0;        // one past the last byte
    std::int64_t fileLength = 0; // the whole file's length, as the probe announced it
    std::atomic<std::int64_t>* received = nullptr;
    ProgressShare* progress = nullptr; // the file's part of the run's progress
    bool wholeFile = false; // the server ignores Range: fetch from byte 0 on one connection
    // Written in place (net/segment_record): partFileName is the one file of all the segments,
    // the bytes go at their offset in it, and its record counts what each segment holds.
    bool inPlace = false;
    std::size_t index = 0; // the segment's place in the record
    std::int64_t held = 0; // bytes of the segment written, from its start
    // Results, written by the segment's own thread and read after it has been joined.
    bool done = false;         // the part file holds the whole segment
    bool rangeIgnored = false; // the server did not answer with the asked range
};

class CHttpGet {
  public:
    virtual ~CHttpGet() = default;
    std::vector<HttpSegment> segments;
};

class CMyFile {
  public:
    virtual ~CMyFile() = default;
};

constexpr std::int64_t kMultiSegmentThreshold = 409600; // above this, three connections
bool HttpDownload(const std::string& url, const std::string& strWriteFileName,
                  std::int64_t& fileSize, std::atomic<std::int64_t>& received, int threadCount);
// The thread routine that fetches one segment into its part file. `lean`: the lean transfer's
// way, a file of several segments written in place (net/segment_record) and a lone segment
// fetched on the calling thread.
using SegmentRoutine = unsigned (*)(void* segment);
bool DownloadSegments(CHttpGet& get, const std::string& host, const std::string& urlDir,
                      const std::string& fileName, const std::string& strWriteFileName,
                      int threadCount, std::int64_t contentLength,
                      std::atomic<std::int64_t>& received, SegmentRoutine routine = nullptr,
                      bool lean = false);
unsigned SegmentThread(void* segment);
// How many segments a file of `contentLength` bytes is fetched in.
int SegmentCount(std::int64_t contentLength, int threadCount);
// Receives exactly `remaining` body bytes into the part file, which stands where they belong,
// under the engine's receive time-out and stall rule; false after a log line.
bool ReceiveSegment(HttpSegment& segment, platform::Socket socket, std::FILE* file,
                    std::int64_t remaining);
