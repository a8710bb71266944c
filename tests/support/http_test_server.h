#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for tests: serves files from memory with byte ranges
// (like nginx: 206 with Content-Range for "Range: bytes=N-" and "bytes=N-M", 200 for an empty
// file, 416 past the end), records every raw request, and misbehaves on demand. One request per
// connection, or, with SetKeepAlive, as many as the client sends (HTTP/1.1 persistent
// connections).
// Start() binds a free port or the one it is given; the destructor stops it within a bounded time,
// stalled connections included.

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// One way of misbehaving, for the requests it matches.
struct HttpFault {
    // Which requests: path "" matches every path; rangeStart -1 matches every request (one
    // without Range counts as start 0); times -1 spoils every match, otherwise that many.
    std::string path;
    std::int64_t rangeStart = -1;
    int times = -1;

    // The answer's head.
    int status = 0;              // answer with this status and a short text body instead
    std::string reason;          // its reason phrase ("" = the usual one)
    std::string version;         // status-line version ("" = "HTTP/1.1")
    bool ignoreRange = false;    // 200 with the whole file, whatever Range asked
    std::int64_t rangeShift = 0; // 206 that starts this many bytes after the asked start
    bool omitContentLength = false;
    std::size_t headLength = 0;     // an extra header field that makes the head this long in all
    std::string contentEncoding;    // sent as Content-Encoding; the body is sent as it is
    bool chunked = false;           // Transfer-Encoding: chunked, no Content-Length, one chunk
    bool closeBeforeHeader = false; // read the request, then close without a word
    bool stallBeforeHeader = false; // read the request, then say nothing until Stop()
    int headDripDelayMs = 0;        // send the head one byte at a time, this far apart
    bool omitContentRange = false;  // a 206 without Content-Range
    // A file of this many zero bytes in place of the real one (-1: the real one), streamed for
    // as long as the client reads.
    std::int64_t announcedLength = -1;

    // The connection, when the server keeps connections.
    bool connectionClose = false;  // the answer says "Connection: close" and the server closes
    bool closeAfterAnswer = false; // the server closes after the answer without saying so
    bool resetAfterHead = false;   // the head, then a reset instead of the body

    // The body.
    std::int64_t closeAfterBodyBytes = -1; // close after this many body bytes
    std::int64_t stallAfterBodyBytes = -1; // go silent after this many body bytes
    int dripDelayMs = 0;                   // pause between pieces of dripBytes bytes
    std::size_t dripBytes = 1;
};

class HttpTestServer {
  public:
    HttpTestServer() = default;
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    // Binds 127.0.0.1 on `port` (0: a free one, as the engine tests use; 80: the installer's
    // fixed port, inside a private network) and starts serving; false when that fails.
    bool Start(int port = 0);
    // Closes every connection and joins every thread; idempotent.
    void Stop();
    int port() const { return port_; }

    // Paths start with "/" (added when missing); the request target may be absolute
    // ("http://host/path") or origin form ("/path").
    void SetFile(const std::string& path, const std::string& bytes);
    void RemoveFile(const std::string& path);

    // Keep connections open between requests (before Start).
    void SetKeepAlive(bool keep) { keepAlive_ = keep; }
    void AddFault(const HttpFault& fault);
    void ClearFaults();

    // Every request head received so far (through the blank line), in arrival order.
    std::vector<std::string> requests() const;
    // For each of those, how many receive calls its head took.
    std::vector<int> requestReads() const;
    void ClearRequests();
    int connectionCount() const;

    // Helpers for looking at a recorded request.
    static std::string RequestPath(const std::string& request); // "/dir/file"
    static std::int64_t RangeStart(const std::string& request); // -1 without Range
    // The Range starts of the requests for `path` so far, in ascending order.
    std::vector<std::int64_t> RangeStarts(const std::string& path) const;
    // Serves every file below `root` under its path from there ("/microclient/...").
    void ServeFolder(const std::string& root);

  private:
    struct Connection {
        int fd = -1; // -1 once the serving thread closed it itself
        std::thread thread;
        bool finished = false;
    };

    void AcceptLoop();
    void Serve(Connection* connection);
    // Answers one request; true when the connection stays open for the next. `received` keeps
    // what was read past the request's head.
    bool ServeOne(Connection* connection, std::string& received);
    bool keepAlive() const { return keepAlive_; }
    bool TakeFault(const std::string& path, std::int64_t rangeStart, HttpFault& fault);
    bool SendAll(int fd, const char* data, std::size_t length);
    bool SendBody(int fd, const std::string& bytes, std::int64_t from, std::int64_t count,
                  const HttpFault& fault);
    bool SendHead(int fd, const std::string& head, const HttpFault& fault);
    bool SendZeros(int fd, std::int64_t count);
    void WaitForStop(int timeoutMs); // returns early when stopping; waits for ever with -1
    bool stopping() const;
    void ReapFinished();

    bool keepAlive_ = false;
    int listenFd_ = -1;
    int port_ = 0;
    std::thread acceptThread_;

    mutable std::mutex mutex_;
    std::condition_variable stopSignal_;
    bool stopping_ = false;
    std::map<std::string, std::shared_ptr<const std::string>> files_;
    std::vector<HttpFault> faults_;
    std::vector<std::string> requests_;
    std::vector<int> requestReads_;
    std::vector<std::unique_ptr<Connection>> connections_;
    int connectionCount_ = 0;
};
