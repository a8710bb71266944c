#include "platform/platform.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace platform {

namespace {
thread_local int t_socketError = 0;

int Remember(int error) {
    t_socketError = error;
    return -1;
}
} // namespace

SocketStartup StartSockets() {
    // A peer that closes while we send must give a failed send, not kill the installer.
    ::signal(SIGPIPE, SIG_IGN);
    return SocketStartup::Ok;
}

void StopSockets() {}

Socket OpenTcpSocket() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        Remember(errno);
        return kInvalidSocket;
    }
    return fd;
}

bool ResolveHost(const std::string& host, std::uint32_t& address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &result);
    if (rc != 0 || !result) {
        Remember(rc == EAI_SYSTEM ? errno : (rc == EAI_NONAME ? 11001 : 11002));
        return false;
    }
    address = reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(result);
    return true;
}

bool ConnectTo(Socket socket, std::uint32_t address, int port, int timeoutMs) {
    int fd = static_cast<int>(socket);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = address;
    int flags = ::fcntl(fd, F_GETFL);
    if (timeoutMs > 0)
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
    if (rc != 0 && errno == EINPROGRESS && timeoutMs > 0) {
        pollfd waiting{fd, POLLOUT, 0};
        int ready;
        do
            ready = ::poll(&waiting, 1, timeoutMs);
        while (ready < 0 && errno == EINTR);
        if (ready == 0) {
            errno = ETIMEDOUT;
        } else if (ready > 0) {
            int error = 0;
            socklen_t length = sizeof error;
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
            errno = error;
            rc = error == 0 ? 0 : -1;
        }
    }
    int error = errno;
    if (timeoutMs > 0)
        ::fcntl(fd, F_SETFL, flags);
    if (rc != 0) {
        Remember(error);
        return false;
    }
    return true;
}

void SetReceiveTimeout(Socket socket, int timeoutMs) {
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}

long SendSome(Socket socket, const char* data, std::size_t length) {
    ssize_t n;
    do
        n = ::send(static_cast<int>(socket), data, length, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    return n < 0 ? Remember(errno) : static_cast<long>(n);
}

long ReceiveSome(Socket socket, char* buffer, std::size_t length, bool peek) {
    ssize_t n;
    do
        n = ::recv(static_cast<int>(socket), buffer, length, peek ? MSG_PEEK : 0);
    while (n < 0 && errno == EINTR);
    return n < 0 ? Remember(errno) : static_cast<long>(n);
}

bool HasPendingInput(Socket socket) {
    pollfd watched = {static_cast<int>(socket), POLLIN, 0};
    int ready;
    do
        ready = ::poll(&watched, 1, 0);
    while (ready < 0 && errno == EINTR);
    return ready != 0;
}

void CloseSocket(Socket socket) {
    ::close(static_cast<int>(socket));
}

int LastSocketError() {
    return t_socketError;
}

} // namespace platform
