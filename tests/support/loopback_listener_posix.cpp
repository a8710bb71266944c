#include "tests/support/loopback_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
bool Readable(int fd, int timeoutMs) {
    pollfd waiting{fd, POLLIN, 0};
    return ::poll(&waiting, 1, timeoutMs) == 1;
}
} // namespace

LoopbackListener::LoopbackListener(int backlog) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    listener_ = fd;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::listen(fd, backlog) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port_ = ntohs(address.sin_port);
}

LoopbackListener::~LoopbackListener() {
    if (listener_ >= 0)
        ::close(static_cast<int>(listener_));
}

std::intptr_t LoopbackListener::Accept(int timeoutMs) {
    if (listener_ < 0 || !Readable(static_cast<int>(listener_), timeoutMs))
        return -1;
    return ::accept4(static_cast<int>(listener_), nullptr, nullptr, SOCK_CLOEXEC);
}

bool LoopbackListener::Send(std::intptr_t connection, const std::string& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        ssize_t n = ::send(static_cast<int>(connection), bytes.data() + done, bytes.size() - done,
                           MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string LoopbackListener::Receive(std::intptr_t connection, std::size_t size, int timeoutMs) {
    std::string bytes;
    char buffer[4096];
    while (bytes.size() < size && Readable(static_cast<int>(connection), timeoutMs)) {
        ssize_t n = ::recv(static_cast<int>(connection), buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
}

void LoopbackListener::Close(std::intptr_t connection) {
    if (connection >= 0)
        ::close(static_cast<int>(connection));
}
