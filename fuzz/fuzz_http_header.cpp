// The response head as any server could send it: read off a socket byte by byte, parsed, and
// judged by the request that asked for it.

#include "fuzz/fuzz_support.h"
#include "net/deal_socket.h"
#include "net/http_header.h"
#include "platform/platform.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A connected pair: the engine reads from `near`, the test plays the server on `far`.
struct SocketPair {
    int near = -1, far = -1;
    SocketPair() {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0)
            Broken("a socket pair can be made");
        near = fds[0];
        far = fds[1];
    }
    ~SocketPair() {
        if (near >= 0)
            ::close(near);
        ::close(far);
    }
    // The server's whole answer, then the end of its sending side.
    void Answer(const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::send(far, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                Broken("the answer fits the socket buffer");
            done += static_cast<std::size_t>(n);
        }
        ::shutdown(far, SHUT_WR);
    }
    std::string Request() {
        std::string text;
        char buffer[4096];
        for (;;) {
            ssize_t n = ::recv(far, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n <= 0)
                return text;
            text.append(buffer, static_cast<std::size_t>(n));
        }
    }
};

// Where the head ends as the engine must read it: through the first blank line, never more
// than the engine's 16 KiB buffer, never past the end of what was sent.
std::size_t ExpectedHeadLength(const std::string& bytes) {
    std::size_t blank = bytes.find("\r\n\r\n");
    std::size_t length = blank == std::string::npos ? bytes.size() : blank + 4;
    return std::min<std::size_t>(length, kHeaderBufferSize);
}

// Content-Length as a field of its own line, any letter case, blanks before the value.
bool ReferenceContentLength(const std::string& head, std::int64_t& value) {
    std::size_t lineStart = head.find("\r\n");
    while (lineStart != std::string::npos) {
        lineStart += 2;
        std::size_t lineEnd = head.find("\r\n", lineStart);
        std::string line = head.substr(
            lineStart, lineEnd == std::string::npos ? std::string::npos : lineEnd - lineStart);
        if (line.size() >= 15 && ::strncasecmp(line.c_str(), "Content-Length:", 15) == 0) {
            std::size_t at = 15;
            while (at < line.size() && (line[at] == ' ' || line[at] == '\t'))
                ++at;
            if (at >= line.size() || !std::isdigit(static_cast<unsigned char>(line[at])))
                return false;
            value = std::strtoll(line.c_str() + at, nullptr, 10);
            return true;
        }
        lineStart = lineEnd;
    }
    return false;
}

// The status is the three digits after the first blank of the status line; 0 without them.
int ReferenceStatus(const std::string& head) {
    std::string line = head.substr(0, head.find("\r\n"));
    std::size_t blank = line.find(' ');
    if (line.compare(0, 5, "HTTP/") != 0 || blank == std::string::npos || blank + 4 > line.size())
        return 0;
    for (std::size_t i = blank + 1; i < blank + 4; ++i)
        if (!std::isdigit(static_cast<unsigned char>(line[i])))
            return 0;
    return std::atoi(line.substr(blank + 1, 3).c_str());
}

void CheckParsers(const std::string& head) {
    ResponseHead parsed = ParseResponseHead(head.c_str());
    FUZZ_CHECK(parsed.status == ReferenceStatus(head), head);
    std::int64_t length = -1;
    bool has = ReferenceContentLength(head, length);
    FUZZ_CHECK(parsed.hasContentLength == has, head);
    if (has)
        FUZZ_CHECK(parsed.contentLength == length && length >= 0, head);
    FUZZ_CHECK(parsed.rangeStart >= -1, head);
}

void CheckReadHead(const std::string& bytes) {
    SocketPair pair;
    pair.Answer(bytes);
    char buffer[kHeaderBufferSize + 1];
    std::memset(buffer, 'Z', sizeof buffer);
    int count = GetHttpHeader(pair.near, buffer);
    std::size_t expected = ExpectedHeadLength(bytes);
    FUZZ_CHECK(count >= 0 && static_cast<std::size_t>(count) == expected, bytes);
    FUZZ_CHECK(std::memcmp(buffer, bytes.data(), expected) == 0, bytes);
    FUZZ_CHECK(buffer[count] == '\0', bytes);
    // The socket is left at the first byte after the head.
    char next = 0;
    ssize_t more = ::recv(pair.near, &next, 1, 0);
    if (expected < bytes.size())
        FUZZ_CHECK(more == 1 && next == bytes[expected], bytes);
    else
        FUZZ_CHECK(more == 0, bytes);
}

void CheckRequest(const std::string& bytes, std::int64_t rangeStart) {
    SocketPair pair;
    pair.Answer(bytes);
    ResponseHead head;
    bool ok = SendHttpHeader(pair.near, "127.0.0.1", "http://127.0.0.1/microclient/objects/ab/",
                             "abcdef", rangeStart, head);
    FUZZ_CHECK(!head.socketClosed, bytes);
    std::string request = pair.Request();
    const std::string firstLine = "GET http://127.0.0.1/microclient/objects/ab/abcdef HTTP/1.1\r\n";
    FUZZ_CHECK(request.compare(0, firstLine.size(), firstLine) == 0, request);
    FUZZ_CHECK(request.find("\r\nRange: bytes=" + std::to_string(rangeStart) + "-\r\n\r\n") !=
                   std::string::npos,
               request);
    if (!ok)
        return;
    // Accepted: a whole head, a success status, and the same reading as the parser's.
    std::size_t length = ExpectedHeadLength(bytes);
    std::string text = bytes.substr(0, length);
    FUZZ_CHECK(length >= 4 && text.compare(length - 4, 4, "\r\n\r\n") == 0, bytes);
    FUZZ_CHECK(head.status >= 200 && head.status <= 299, bytes);
    // A compressed or chunked body is never taken for the file.
    FUZZ_CHECK(head.contentEncoding.empty() && !head.chunked, bytes);
    // A 416 that names an empty file, asked from byte 0, is that empty file.
    const ResponseHead parsed = ParseResponseHead(text.c_str());
    if (parsed.status == 416)
        FUZZ_CHECK(rangeStart == 0 && parsed.completeLength == 0 && head.contentLength == 0, bytes);
    else
        FUZZ_CHECK(parsed.contentLength == head.contentLength, bytes);
    // The engine reads the head as a C string: what follows a zero byte is not part of it.
    FUZZ_CHECK(text.substr(0, text.find('\0')).find("HTTP/1.1 404 Not Found") == std::string::npos,
               bytes);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    QuietLog();
    platform::StartSockets();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Past the 16 KiB head, with room for a body after it.
    if (size > 20000)
        return 0;
    std::string bytes(reinterpret_cast<const char*>(data), size);
    // The parsers see the head as the engine hands it to them: NUL-terminated, at most 16 KiB.
    std::string head = bytes.substr(0, ExpectedHeadLength(bytes));
    head = head.substr(0, head.find('\0'));
    CheckParsers(head);
    CheckParsers(bytes.substr(0, bytes.find('\0')));
    CheckReadHead(bytes);
    CheckRequest(bytes, size > 0 ? data[size - 1] * 409601LL : 0);
    ForgetLog();
    return 0;
}
