#pragma once
// One GET request with an open-ended Range, and the response header it gets.

#include "platform/platform.h"

#include <cstdint>
#include <string>

// Why the engine does not take an answer as file data; each is logged once where it is found.
enum class HeadRefusal {
    None,        // taken
    SendFailed,  // the request could not be sent (the socket is closed)
    TooSlow,     // the head was not complete within the head time-out
    NoHead,      // nothing arrived
    NotFound,    // 404
    HeadTooLong, // no blank line within the head buffer
    CutShort,    // the connection ended before the blank line
    Redirected,  // 3xx
    BadStatus,   // any other status outside 2xx, or no readable status line
    Compressed,  // a Content-Encoding other than identity: the body is not the file as stored
    Chunked,     // Transfer-Encoding: chunked, so no length the segments can rely on
};

// What the engine relies on in a response header.
struct ResponseHead {
    int status = 0; // 0 when there is no recognisable status line
    std::int64_t contentLength = 0;
    bool hasContentLength = false;
    std::int64_t rangeStart = -1;     // first byte named by Content-Range; -1 without one
    std::int64_t rangeEnd = -1;       // last byte named by Content-Range; -1 without one
    std::int64_t completeLength = -1; // the file's length after Content-Range's "/"; -1 unknown
    bool socketClosed = false;        // a failed send has already closed the socket
    int headBytes = 0;                // bytes of the head as read, its blank line included
    std::string contentEncoding;      // lower case; "" for none or identity
    bool chunked = false;             // Transfer-Encoding names chunked
    bool keepsConnection = false;     // HTTP/1.1 without "Connection: close": it may serve again
    HeadRefusal refusal = HeadRefusal::None;
};

// Sends the seven request lines in one piece, reads the response header and refuses error
// answers. True with the head; false after a log line (on a failed send the socket is already
// closed, which head.socketClosed tells). A refused head is still parsed as far as it came, and
// head.refusal says why it was refused.
bool SendHttpHeader(platform::Socket socket, const std::string& host, const std::string& urlDir,
                    const std::string& fileName, std::int64_t rangeStart, ResponseHead& head);
bool SendHttpHeader(platform::Socket socket, const std::string& host, const std::string& urlDir,
                    const std::string& fileName, std::int64_t rangeStart,
                    std::int64_t& contentLength);
// The same request for the closed range rangeStart to rangeEnd (both included): the server sends
// no byte past it, so the connection can carry the next request. rangeEnd -1: open-ended.
bool SendRangeRequest(platform::Socket socket, const std::string& host, const std::string& urlDir,
                      const std::string& fileName, std::int64_t rangeStart, std::int64_t rangeEnd,
                      ResponseHead& head);
// Status line, Content-Length, Content-Range, Content-Encoding and Transfer-Encoding; field
// names in any letter case.
ResponseHead ParseResponseHead(const char* header);
// The rest of the first line after the status line that starts with `name` (any letter case)
// and a colon, blanks included; false when no line has it.
bool FindHeaderField(const std::string& head, const char* name, std::string& value);
