#include "tests/support/loopback_listener.h"

#include <winsock2.h>

namespace {
bool Readable(SOCKET socket, int timeoutMs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket, &readable);
    timeval limit = {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    return select(0, &readable, nullptr, nullptr, &limit) == 1;
}

SOCKET Native(std::intptr_t socket) {
    return static_cast<SOCKET>(socket);
}
} // namespace

LoopbackListener::LoopbackListener(int backlog) {
    // Counted by the system: the test's own start-up and clean-up leave the installer's alone.
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return;
    started_ = true;
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET)
        return;
    listener_ = static_cast<std::intptr_t>(s);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        listen(s, backlog) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port_ = ntohs(address.sin_port);
}

LoopbackListener::~LoopbackListener() {
    if (listener_ != -1)
        closesocket(Native(listener_));
    if (started_)
        WSACleanup();
}

std::intptr_t LoopbackListener::Accept(int timeoutMs) {
    if (listener_ == -1 || !Readable(Native(listener_), timeoutMs))
        return -1;
    SOCKET accepted = accept(Native(listener_), nullptr, nullptr);
    return accepted == INVALID_SOCKET ? -1 : static_cast<std::intptr_t>(accepted);
}

bool LoopbackListener::Send(std::intptr_t connection, const std::string& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        int n =
            send(Native(connection), bytes.data() + done, static_cast<int>(bytes.size() - done), 0);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string LoopbackListener::Receive(std::intptr_t connection, std::size_t size, int timeoutMs) {
    std::string bytes;
    char buffer[4096];
    while (bytes.size() < size && Readable(Native(connection), timeoutMs)) {
        int n = recv(Native(connection), buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
}

void LoopbackListener::Close(std::intptr_t connection) {
    if (connection != -1)
        closesocket(Native(connection));
}
