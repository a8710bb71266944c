#pragma once
// One URL downloaded into one file: a probe for the size, then one or three byte ranges on
// their own threads and connections into part files "<destination>_<index>", joined at the end.

#include "platform/platform.h"

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
    std::int64_t end = 0; // one past the last byte
    std::atomic<std::int64_t>* received = nullptr;
    bool wholeFile = false; // the server ignores Range: fetch from byte 0 on one connection
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
bool DownloadSegments(CHttpGet& get, const std::string& host, const std::string& urlDir,
                      const std::string& fileName, const std::string& strWriteFileName,
                      int threadCount, std::int64_t contentLength,
                      std::atomic<std::int64_t>& received);
unsigned SegmentThread(void* segment);
std::FILE* GetFilePointer(const std::string& path);
bool FileCombine(const HttpSegment& segment, std::FILE* output);
