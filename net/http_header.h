#pragma once
// One GET request with an open-ended Range, and the response header it gets.

#include "platform/platform.h"

#include <cstdint>
#include <string>

// Sends the seven request texts, reads the response header. True with the content length; false
// after a log line (on a failed send the socket is already closed).
bool SendHttpHeader(platform::Socket socket, const std::string& host, const std::string& urlDir,
                    const std::string& fileName, std::int64_t rangeStart,
                    std::int64_t& contentLength);
// The content length the caller should rely on, plus what the status line said.
struct ResponseHead {
    int status = 0;              // 0 when there is no recognisable status line
    std::int64_t contentLength = 0;
};
ResponseHead ParseResponseHead(const char* header);
std::int64_t GetContentLength(const char* header);
