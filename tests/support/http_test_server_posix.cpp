#include "tests/support/http_test_server.h"

#include "net/http_header.h"
#include "tests/support/temp_dir.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr std::size_t kMaxRequestHead = 64 * 1024;

std::string NormalPath(const std::string& path) {
    return !path.empty() && path[0] == '/' ? path : "/" + path;
}

std::string ReasonFor(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 206:
        return "Partial Content";
    case 404:
        return "Not Found";
    case 416:
        return "Requested Range Not Satisfiable";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

// The value of a header field (name matched without regard to case) without the blanks before
// it, or false.
bool FindField(const std::string& head, const char* name, std::string& value) {
    if (!FindHeaderField(head, name, value))
        return false;
    value.erase(0, value.find_first_not_of(" \t"));
    return true;
}

// "bytes=N-" or "bytes=N-M": false for anything else.
bool ParseRange(const std::string& value, std::int64_t& start, std::int64_t& end) {
    if (value.compare(0, 6, "bytes=") != 0)
        return false;
    char* rest = nullptr;
    const char* digits = value.c_str() + 6;
    start = std::strtoll(digits, &rest, 10);
    if (rest == digits || *rest != '-' || start < 0)
        return false;
    ++rest;
    end = -1;
    if (*rest)
        end = std::strtoll(rest, nullptr, 10);
    return true;
}

} // namespace

HttpTestServer::~HttpTestServer() {
    Stop();
}

bool HttpTestServer::Start(int port) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0)
        return false;
    int on = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    socklen_t length = sizeof address;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 64) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(listenFd_);
        listenFd_ = -1;
        return false;
    }
    port_ = ntohs(address.sin_port);
    acceptThread_ = std::thread([this] { AcceptLoop(); });
    return true;
}

void HttpTestServer::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    stopSignal_.notify_all();
    if (listenFd_ >= 0)
        ::shutdown(listenFd_, SHUT_RDWR); // wakes the blocked accept
    if (acceptThread_.joinable())
        acceptThread_.join();
    std::vector<std::unique_ptr<Connection>> connections;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        connections.swap(connections_);
        // Wakes every receive and send that waits on a peer.
        for (auto& connection : connections)
            if (connection->fd >= 0)
                ::shutdown(connection->fd, SHUT_RDWR);
    }
    for (auto& connection : connections) {
        connection->thread.join();
        if (connection->fd >= 0)
            ::close(connection->fd);
    }
    if (listenFd_ >= 0)
        ::close(listenFd_);
    listenFd_ = -1;
}

void HttpTestServer::SetFile(const std::string& path, const std::string& bytes) {
    auto shared = std::make_shared<const std::string>(bytes);
    std::lock_guard<std::mutex> lock(mutex_);
    files_[NormalPath(path)] = shared;
}

void HttpTestServer::RemoveFile(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    files_.erase(NormalPath(path));
}

void HttpTestServer::AddFault(const HttpFault& fault) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.push_back(fault);
    if (!faults_.back().path.empty())
        faults_.back().path = NormalPath(fault.path);
}

void HttpTestServer::ClearFaults() {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.clear();
}

std::vector<std::string> HttpTestServer::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

std::vector<int> HttpTestServer::requestReads() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requestReads_;
}

void HttpTestServer::ClearRequests() {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.clear();
    requestReads_.clear();
}

int HttpTestServer::connectionCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connectionCount_;
}

std::string HttpTestServer::RequestPath(const std::string& request) {
    std::size_t from = request.find(' ');
    std::size_t to = from == std::string::npos ? from : request.find(' ', from + 1);
    if (to == std::string::npos)
        return "";
    std::string target = request.substr(from + 1, to - from - 1);
    if (target.compare(0, 7, "http://") == 0) {
        std::size_t slash = target.find('/', 7);
        target = slash == std::string::npos ? "/" : target.substr(slash);
    }
    return target;
}

std::int64_t HttpTestServer::RangeStart(const std::string& request) {
    std::string value;
    std::int64_t start = -1, end = -1;
    if (!FindField(request, "Range", value) || !ParseRange(value, start, end))
        return -1;
    return start;
}

std::vector<std::int64_t> HttpTestServer::RangeStarts(const std::string& path) const {
    std::vector<std::int64_t> starts;
    for (const std::string& request : requests())
        if (RequestPath(request) == path)
            starts.push_back(RangeStart(request));
    std::sort(starts.begin(), starts.end());
    return starts;
}

void HttpTestServer::ServeFolder(const std::string& root) {
    for (const auto& item : std::filesystem::recursive_directory_iterator(root)) {
        if (item.is_regular_file())
            SetFile("/" + std::filesystem::relative(item.path(), root).generic_string(),
                    ReadFile(item.path().string()));
    }
}

bool HttpTestServer::stopping() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopping_;
}

void HttpTestServer::WaitForStop(int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (timeoutMs < 0)
        stopSignal_.wait(lock, [this] { return stopping_; });
    else
        stopSignal_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [this] { return stopping_; });
}

void HttpTestServer::ReapFinished() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
        if ((*it)->finished) {
            (*it)->thread.join();
            if ((*it)->fd >= 0)
                ::close((*it)->fd);
            it = connections_.erase(it);
        } else {
            ++it;
        }
    }
}

void HttpTestServer::AcceptLoop() {
    for (;;) {
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (!stopping() && (errno == EINTR || errno == ECONNABORTED))
                continue;
            return;
        }
        ReapFinished();
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) {
            ::close(fd);
            return;
        }
        ++connectionCount_;
        auto connection = std::make_unique<Connection>();
        connection->fd = fd;
        Connection* raw = connection.get();
        connections_.push_back(std::move(connection));
        raw->thread = std::thread([this, raw] { Serve(raw); });
    }
}

bool HttpTestServer::TakeFault(const std::string& path, std::int64_t rangeStart, HttpFault& fault) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (HttpFault& candidate : faults_) {
        if (candidate.times == 0)
            continue;
        if (!candidate.path.empty() && candidate.path != path)
            continue;
        if (candidate.rangeStart >= 0 && candidate.rangeStart != rangeStart)
            continue;
        if (candidate.times > 0)
            --candidate.times;
        fault = candidate;
        return true;
    }
    return false;
}

bool HttpTestServer::SendAll(int fd, const char* data, std::size_t length) {
    while (length > 0) {
        ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

bool HttpTestServer::SendBody(int fd, const std::string& bytes, std::int64_t from,
                              std::int64_t count, const HttpFault& fault) {
    std::int64_t limit = count;
    if (fault.closeAfterBodyBytes >= 0)
        limit = std::min(limit, fault.closeAfterBodyBytes);
    if (fault.stallAfterBodyBytes >= 0)
        limit = std::min(limit, fault.stallAfterBodyBytes);
    std::int64_t piece = fault.dripDelayMs > 0 ? static_cast<std::int64_t>(fault.dripBytes)
                                               : std::int64_t(64 * 1024);
    for (std::int64_t sent = 0; sent < limit;) {
        std::int64_t n = std::min(piece, limit - sent);
        if (!SendAll(fd, bytes.data() + from + sent, static_cast<std::size_t>(n)))
            return false;
        sent += n;
        if (fault.dripDelayMs > 0 && sent < limit) {
            WaitForStop(fault.dripDelayMs);
            if (stopping())
                return false;
        }
    }
    if (fault.stallAfterBodyBytes >= 0 && limit == fault.stallAfterBodyBytes)
        WaitForStop(-1);
    return true;
}

bool HttpTestServer::SendHead(int fd, const std::string& head, const HttpFault& fault) {
    if (fault.headDripDelayMs <= 0)
        return SendAll(fd, head.data(), head.size());
    for (std::size_t sent = 0; sent < head.size(); ++sent) {
        if (!SendAll(fd, head.data() + sent, 1))
            return false;
        WaitForStop(fault.headDripDelayMs);
        if (stopping())
            return false;
    }
    return true;
}

bool HttpTestServer::SendZeros(int fd, std::int64_t count) {
    const std::string zeros(64 * 1024, '\0');
    for (std::int64_t sent = 0; sent < count && !stopping();) {
        std::size_t n = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(zeros.size()), count - sent));
        if (!SendAll(fd, zeros.data(), n))
            return false;
        sent += static_cast<std::int64_t>(n);
    }
    return true;
}

void HttpTestServer::Serve(Connection* connection) {
    std::string received;
    while (ServeOne(connection, received)) {
    }
    // The peer sees the end of the answer now; the descriptor is closed when reaped.
    std::lock_guard<std::mutex> lock(mutex_);
    if (connection->fd >= 0)
        ::shutdown(connection->fd, SHUT_RDWR);
    connection->finished = true;
}

bool HttpTestServer::ServeOne(Connection* connection, std::string& received) {
    const int fd = connection->fd;
    char buffer[4096];
    int reads = 0;
    while (received.find("\r\n\r\n") == std::string::npos && received.size() < kMaxRequestHead) {
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        ++reads;
        received.append(buffer, static_cast<std::size_t>(n));
    }
    std::size_t headEnd = received.find("\r\n\r\n");
    bool keepOn = false;
    if (headEnd != std::string::npos) {
        std::string head = received.substr(0, headEnd + 4);
        received.erase(0, headEnd + 4);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(head);
            requestReads_.push_back(reads);
        }
        std::string path = RequestPath(head);
        std::int64_t rangeStart = -1, rangeEnd = -1;
        std::string rangeValue;
        bool hasRange =
            FindField(head, "Range", rangeValue) && ParseRange(rangeValue, rangeStart, rangeEnd);
        HttpFault fault;
        // A fault names a path; a query after it (a report's) does not matter.
        TakeFault(path.substr(0, path.find('?')), hasRange ? rangeStart : 0, fault);
        std::shared_ptr<const std::string> file;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto found = files_.find(path);
            if (found != files_.end())
                file = found->second;
        }

        int status = 200;
        std::string extra;
        std::shared_ptr<const std::string> body;
        std::int64_t from = 0, count = 0;
        if (fault.announcedLength >= 0) {
            std::int64_t size = fault.announcedLength;
            from = hasRange ? std::min(rangeStart, size) : 0;
            count = size - from;
            status = hasRange ? 206 : 200;
            if (hasRange)
                extra = "Content-Range: bytes " + std::to_string(from) + "-" +
                        std::to_string(size - 1) + "/" + std::to_string(size) + "\r\n";
        } else if (fault.status != 0 || !file) {
            status = fault.status != 0 ? fault.status : 404;
            body = std::make_shared<const std::string>(ReasonFor(status) + "\n");
            count = static_cast<std::int64_t>(body->size());
        } else {
            body = file;
            std::int64_t size = static_cast<std::int64_t>(file->size());
            count = size;
            if (hasRange && !fault.ignoreRange && size > 0) {
                if (rangeStart >= size) {
                    status = 416;
                    extra = "Content-Range: bytes */" + std::to_string(size) + "\r\n";
                    body = std::make_shared<const std::string>(ReasonFor(status) + "\n");
                    count = static_cast<std::int64_t>(body->size());
                } else {
                    status = 206;
                    from = std::min(rangeStart + fault.rangeShift, size);
                    std::int64_t last = rangeEnd >= 0 ? std::min(rangeEnd, size - 1) : size - 1;
                    count = std::max<std::int64_t>(last - from + 1, 0);
                    if (!fault.omitContentRange)
                        extra = "Content-Range: bytes " + std::to_string(from) + "-" +
                                std::to_string(last) + "/" + std::to_string(size) + "\r\n";
                }
            }
        }

        if (fault.stallBeforeHeader) {
            WaitForStop(-1);
        } else if (!fault.closeBeforeHeader) {
            std::string reason = fault.reason.empty() ? ReasonFor(status) : fault.reason;
            std::string version = fault.version.empty() ? "HTTP/1.1" : fault.version;
            std::string response = version + " " + std::to_string(status) + " " + reason +
                                   "\r\nServer: felto-test\r\n" + extra;
            if (!fault.omitContentLength && !fault.chunked)
                response += "Content-Length: " + std::to_string(count) + "\r\n";
            if (!fault.contentEncoding.empty())
                response += "Content-Encoding: " + fault.contentEncoding + "\r\n";
            if (fault.chunked)
                response += "Transfer-Encoding: chunked\r\n";
            // Kept open only for an HTTP/1.1 answer that says nothing else.
            const bool keep = keepAlive() && !fault.connectionClose && version == "HTTP/1.1";
            const std::string end = keep ? "\r\n" : "Connection: close\r\n\r\n";
            const std::size_t field = std::string("X-Padding: \r\n").size();
            if (fault.headLength >= response.size() + field + end.size())
                response +=
                    "X-Padding: " +
                    std::string(fault.headLength - response.size() - field - end.size(), 'x') +
                    "\r\n";
            response += end;
            bool headSent = SendHead(fd, response, fault);
            if (headSent && fault.announcedLength >= 0) {
                SendZeros(fd, count);
            } else if (headSent && fault.chunked) {
                char size[32];
                std::snprintf(size, sizeof size, "%llx\r\n",
                              static_cast<unsigned long long>(count));
                std::string chunk =
                    size +
                    body->substr(static_cast<std::size_t>(from), static_cast<std::size_t>(count)) +
                    "\r\n0\r\n\r\n";
                SendAll(fd, chunk.data(), chunk.size());
            } else if (headSent && fault.resetAfterHead) {
                // Closed at once with no time to linger: the peer gets a reset.
                linger abort = {1, 0};
                ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
                std::lock_guard<std::mutex> lock(mutex_);
                ::close(fd);
                connection->fd = -1;
                return false;
            } else if (headSent) {
                // A body cut short or stalled ends the connection's use.
                keepOn = SendBody(fd, *body, from, count, fault) && keep &&
                         !fault.closeAfterAnswer && fault.closeAfterBodyBytes < 0 &&
                         fault.stallAfterBodyBytes < 0;
            }
        }
    }
    return keepOn && !stopping();
}
