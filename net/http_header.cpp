#include "net/http_header.h"

#include "net/deal_socket.h"
#include "net/engine_settings.h"
#include "net/url.h"
#include "support/log.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>

namespace {

bool SameLetters(const char* a, const char* b, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// Digits after optional blanks; false when there are none or the number is negative.
bool ParseByteCount(const std::string& text, std::int64_t& number) {
    std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos || !std::isdigit(static_cast<unsigned char>(text[first])))
        return false;
    number = std::strtoll(text.c_str() + first, nullptr, 10);
    return true;
}

} // namespace

bool FindHeaderField(const std::string& head, const char* name, std::string& value) {
    std::size_t nameLength = std::strlen(name);
    for (std::size_t line = head.find("\r\n"); line != std::string::npos;
         line = head.find("\r\n", line + 2)) {
        std::size_t start = line + 2;
        if (head.size() - start > nameLength && head[start + nameLength] == ':' &&
            SameLetters(head.c_str() + start, name, nameLength)) {
            std::size_t from = start + nameLength + 1;
            std::size_t to = head.find("\r\n", from);
            value = head.substr(from, to == std::string::npos ? std::string::npos : to - from);
            return true;
        }
    }
    return false;
}

ResponseHead ParseResponseHead(const char* header) {
    ResponseHead head;
    std::string text = header;
    // The status is the three digits after the first blank of the status line: a blank further
    // down belongs to a header field, and digits found there are no status.
    std::string statusLine = text.substr(0, text.find("\r\n"));
    std::size_t blank = statusLine.find(' ');
    if (statusLine.compare(0, 5, "HTTP/") == 0 && blank != std::string::npos &&
        blank + 4 <= statusLine.size() &&
        std::all_of(statusLine.begin() + blank + 1, statusLine.begin() + blank + 4,
                    [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }))
        head.status = std::atoi(statusLine.substr(blank + 1, 3).c_str());
    std::string value;
    if (FindHeaderField(text, "Content-Length", value))
        head.hasContentLength = ParseByteCount(value, head.contentLength);
    // "bytes first-last/total"; "bytes */total" names no first byte.
    if (FindHeaderField(text, "Content-Range", value)) {
        std::size_t unit = value.find("bytes");
        std::int64_t first = 0;
        if (unit != std::string::npos && ParseByteCount(value.substr(unit + 5), first))
            head.rangeStart = first;
        std::size_t dash = value.find('-', unit == std::string::npos ? 0 : unit);
        std::int64_t last = 0;
        if (head.rangeStart >= 0 && dash != std::string::npos &&
            ParseByteCount(value.substr(dash + 1), last))
            head.rangeEnd = last;
        std::size_t slash = value.find('/');
        std::int64_t total = 0;
        if (slash != std::string::npos && ParseByteCount(value.substr(slash + 1), total))
            head.completeLength = total;
    }
    if (FindHeaderField(text, "Content-Encoding", value)) {
        std::size_t first = value.find_first_not_of(" \t");
        std::size_t last = value.find_last_not_of(" \t");
        head.contentEncoding =
            first == std::string::npos ? std::string() : value.substr(first, last - first + 1);
        std::transform(head.contentEncoding.begin(), head.contentEncoding.end(),
                       head.contentEncoding.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (head.contentEncoding == "identity")
            head.contentEncoding.clear();
    }
    // HTTP/1.1 keeps a connection unless either side says "close"; HTTP/1.0 closes it.
    head.keepsConnection = statusLine.compare(0, 9, "HTTP/1.1 ") == 0;
    if (FindHeaderField(text, "Connection", value)) {
        std::transform(value.begin(), value.end(), value.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (value.find("close") != std::string::npos)
            head.keepsConnection = false;
    }
    if (FindHeaderField(text, "Transfer-Encoding", value)) {
        std::transform(value.begin(), value.end(), value.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        head.chunked = value.find("chunked") != std::string::npos;
    }
    return head;
}

bool SendHttpHeader(platform::Socket socket, const std::string& host, const std::string& urlDir,
                    const std::string& fileName, std::int64_t rangeStart, ResponseHead& head) {
    return SendRangeRequest(socket, host, urlDir, fileName, rangeStart, -1, head);
}

bool SendRangeRequest(platform::Socket socket, const std::string& host, const std::string& urlDir,
                      const std::string& fileName, std::int64_t rangeStart, std::int64_t rangeEnd,
                      ResponseHead& head) {
    head = ResponseHead();
    // The head goes out in one send: line by line, with Nagle's algorithm on, every line after
    // the first waits for the server's delayed acknowledgement, a round trip per request.
    struct RequestLine {
        std::size_t end; // offset just past the line in the request
        const char* failure;
    } lines[7];
    std::string request;
    std::string line;
    auto add = [&](int index, const char* failure) {
        request += line;
        lines[index] = {request.size(), failure};
    };
    FormatInto(line, "GET %s%s HTTP/1.1\r\n", urlDir.c_str(), fileName.c_str());
    add(0, "GET error.");
    FormatInto(line, "Host: %s\r\n", host.c_str());
    add(1, "Host error.");
    FormatInto(line, "Accept: \r\n");
    add(2, "Accept error.");
    FormatInto(line, "Referer: %s\r\n", urlDir.c_str());
    add(3, "Referer error");
    FormatInto(line, "User-Agent: Mozilla/4.0 \t\t(compatible; MSIE 5.0; Windows NT; "
                     "DigExt; DTS Agent;)\r\n");
    add(4, "User-Agent error");
    if (rangeEnd < 0)
        FormatInto(line, "Range: bytes=%lld-\r\n", static_cast<long long>(rangeStart));
    else
        FormatInto(line, "Range: bytes=%lld-%lld\r\n", static_cast<long long>(rangeStart),
                   static_cast<long long>(rangeEnd));
    add(5, "Range error");
    FormatInto(line, "\r\n");
    add(6, "LastLine error");
    std::size_t sent = 0;
    if (!SendString(socket, request, &sent)) {
        // The line the failure cut into says how far the request got.
        const RequestLine* failed =
            std::find_if(std::begin(lines), std::end(lines),
                         [sent](const RequestLine& l) { return l.end > sent; });
        WriteLog(failed == std::end(lines) ? lines[6].failure : failed->failure);
        head.socketClosed = true;
        head.refusal = HeadRefusal::SendFailed;
        return false;
    }

    const int headTimeoutMs = GetEngineSettings().headTimeoutMs;
    auto deadline = headTimeoutMs > 0 ? std::chrono::steady_clock::now() +
                                            std::chrono::milliseconds(headTimeoutMs)
                                      : std::chrono::steady_clock::time_point::max();
    // On the heap: three segment threads at once need not find 16 KiB each on their stacks.
    std::unique_ptr<char[]> headBuffer(new char[kHeaderBufferSize + 1]);
    char* buffer = headBuffer.get();
    // A closed range's answer (the lean transfer's) is read a piece at a time, not byte by byte.
    int count = GetHttpHeader(socket, buffer, deadline, rangeEnd >= 0);
    bool whole = count >= 4 && std::memcmp(buffer + count - 4, "\r\n\r\n", 4) == 0;
    if (!whole && std::chrono::steady_clock::now() >= deadline) {
        // A head that trickles in never trips the receive time-out.
        WriteLog(FormatString("%s is too slow: the response head was not complete %d ms after "
                              "the request.",
                              host.c_str(), headTimeoutMs));
        head.refusal = HeadRefusal::TooSlow;
        return false;
    }
    if (count == 0) {
        WriteLog("GetHttpHeader error");
        head.refusal = HeadRefusal::NoHead;
        return false;
    }
    head = ParseResponseHead(buffer);
    head.headBytes = count;
    if (std::strstr(buffer, "HTTP/1.1 404 Not Found")) {
        WriteLog("404 error.");
        head.refusal = HeadRefusal::NotFound;
        return false;
    }
    // Without its blank line the header is cut short, and what follows is no file data.
    if (!whole) {
        WriteLog(count == kHeaderBufferSize
                     ? FormatString("HTTP header longer than %d bytes.", kHeaderBufferSize)
                     : std::string("GetHttpHeader error"));
        head.refusal =
            count == kHeaderBufferSize ? HeadRefusal::HeadTooLong : HeadRefusal::CutShort;
        return false;
    }
    // No range of an empty file can be satisfied: caching edges that keep to the HTTP rules answer
    // "bytes=0-" for it with 416 and "bytes */0" where a plain server sends 200. Either way the
    // file is empty, and nothing of the answer is read as file data.
    if (head.status == 416 && rangeStart == 0 && head.completeLength == 0) {
        head.status = 200;
        head.contentLength = 0;
        head.hasContentLength = true;
    }
    // An error page, a redirect or an unreadable status line is no file data either.
    if (head.status < 200 || head.status > 299) {
        WriteLog(FormatString("HTTP status %d.", head.status));
        if (head.status == 404)
            head.refusal = HeadRefusal::NotFound;
        else if (head.status >= 300 && head.status <= 399)
            head.refusal = HeadRefusal::Redirected;
        else
            head.refusal = HeadRefusal::BadStatus;
        return false;
    }
    // An edge in front of the server may compress or chunk what it passes on. Such a body is not
    // the file: its bytes would be copied, or joined at the wrong places, as if they were.
    if (!head.contentEncoding.empty()) {
        WriteLog(FormatString("%s compressed the answer (Content-Encoding: %s): the file is not "
                              "served as it is stored.",
                              host.c_str(), head.contentEncoding.c_str()));
        head.refusal = HeadRefusal::Compressed;
        return false;
    }
    if (head.chunked) {
        WriteLog(FormatString("%s sent the answer chunked (Transfer-Encoding: chunked)%s: the size "
                              "of the file is unknown.",
                              host.c_str(),
                              head.hasContentLength ? "" : " without Content-Length"));
        head.refusal = HeadRefusal::Chunked;
        return false;
    }
    return true;
}

bool SendHttpHeader(platform::Socket socket, const std::string& host, const std::string& urlDir,
                    const std::string& fileName, std::int64_t rangeStart,
                    std::int64_t& contentLength) {
    ResponseHead head;
    bool ok = SendHttpHeader(socket, host, urlDir, fileName, rangeStart, head);
    contentLength = head.contentLength;
    return ok;
}
