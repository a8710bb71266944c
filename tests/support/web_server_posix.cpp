#include "tests/support/web_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kStartTimeoutMs = 10000;

// A port nobody listens on right now. Another program may take it before the server does, so
// Start tries again with a fresh one when the server cannot bind.
int FreeLoopbackPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool Accepts(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

} // namespace

std::string WebServer::Fill(std::string text, const Marks& marks) {
    for (const auto& [mark, value] : marks) {
        for (std::size_t at = text.find(mark); at != std::string::npos;
             at = text.find(mark, at + value.size()))
            text.replace(at, mark.size(), value);
    }
    return text;
}

WebServer::~WebServer() {
    Stop();
}

bool WebServer::Start(const std::string& root, int port) {
    Stop();
    if (port != 0)
        return StartOn(root, port);
    for (int attempt = 0; attempt < 5; ++attempt) {
        int candidate = FreeLoopbackPort();
        if (candidate != 0 && StartOn(root, candidate))
            return true;
    }
    return false;
}

bool WebServer::StartOn(const std::string& root, int port) {
    prefix_ = std::make_unique<TempDir>();
    ChildOptions options;
    options.workingDir = prefix_->path();
    process_ = std::make_unique<RunningChild>(Configure(prefix_->path(), root, port), options);
    bool exited = false;
    bool up = WaitUntil(kStartTimeoutMs, [&] {
        ChildResult result;
        exited = process_->Wait(0, result);
        return exited || Accepts(port);
    });
    if (!up || exited) {
        process_.reset(); // kills it when still running
        return false;
    }
    port_ = port;
    return true;
}

void WebServer::Stop() {
    process_.reset();
    // A server's workers may outlive its main process for a moment, still accepting on the
    // port: a server started next on it would seem up while they answer, then vanish with them.
    if (port_ != 0)
        WaitUntil(kStartTimeoutMs, [&] { return !Accepts(port_); });
    port_ = 0;
}

std::string WebServer::CombinedLogPath() const {
    return prefix_ ? prefix_->path() + "/combined.log" : std::string();
}

std::string WebServer::AccessLog() const {
    return prefix_ ? ReadFile(prefix_->path() + "/access.log") : std::string();
}

std::string WebServer::ErrorLog() const {
    return prefix_ ? ReadFile(prefix_->path() + "/error.log") : std::string();
}
