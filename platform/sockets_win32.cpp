#include "platform/platform.h"

#include <windows.h>
#include <winsock2.h>

#include <climits>
#include <cstring>

namespace platform {

namespace {
// The failing call's error, kept per thread: a close or a log line between the failure and the
// question must not change the answer.
thread_local int t_socketError = 0;

long Remember() {
    t_socketError = WSAGetLastError();
    return -1;
}

SOCKET Native(Socket socket) {
    return static_cast<SOCKET>(socket);
}

int Clamp(std::size_t length) {
    return length > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(length);
}

void SetBlocking(SOCKET socket, bool blocking) {
    u_long nonBlocking = blocking ? 0 : 1;
    ioctlsocket(socket, FIONBIO, &nonBlocking);
}
} // namespace

SocketStartup StartSockets() {
    WSADATA data;
    if (WSAStartup(0x0101, &data) != 0)
        return SocketStartup::Failed;
    if (data.wVersion != 0x0101)
        return SocketStartup::WrongVersion;
    return SocketStartup::Ok;
}

void StopSockets() {
    WSACleanup();
}

Socket OpenTcpSocket() {
    SOCKET socket = ::socket(AF_INET, SOCK_STREAM, 0);
    if (socket == INVALID_SOCKET) {
        Remember();
        return kInvalidSocket;
    }
    return static_cast<Socket>(socket);
}

bool ResolveHost(const std::string& host, std::uint32_t& address) {
    hostent* entry = gethostbyname(host.c_str());
    if (!entry) {
        Remember();
        return false;
    }
    if (entry->h_addrtype != AF_INET || !entry->h_addr_list || !entry->h_addr_list[0]) {
        t_socketError = WSANO_DATA;
        return false;
    }
    std::uint32_t first = 0;
    std::size_t length = entry->h_length < 0 ? 0 : static_cast<std::size_t>(entry->h_length);
    std::memcpy(&first, entry->h_addr_list[0], length < sizeof first ? length : sizeof first);
    address = first;
    return true;
}

bool ConnectTo(Socket socket, std::uint32_t address, int port, int timeoutMs) {
    SOCKET s = Native(socket);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<u_short>(port));
    to.sin_addr.s_addr = address;
    if (timeoutMs <= 0) {
        if (connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0)
            return true;
        Remember();
        return false;
    }

    // Non-blocking for the connect alone, so a server that never answers cannot hold the
    // download for the system's own minutes-long limit.
    SetBlocking(s, false);
    int error = 0;
    if (connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK) {
            fd_set writable, failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(s, &writable);
            FD_SET(s, &failed);
            timeval limit = {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
            int ready = select(0, nullptr, &writable, &failed, &limit);
            if (ready == 0) {
                error = WSAETIMEDOUT;
            } else if (ready == SOCKET_ERROR) {
                error = WSAGetLastError();
            } else if (FD_ISSET(s, &failed)) {
                int reason = 0;
                int size = sizeof reason;
                getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&reason), &size);
                error = reason != 0 ? reason : WSAECONNREFUSED;
            } else {
                error = 0;
            }
        }
    }
    SetBlocking(s, true);
    if (error != 0) {
        t_socketError = error;
        WSASetLastError(error);
        return false;
    }
    return true;
}

void SetReceiveTimeout(Socket socket, int timeoutMs) {
    DWORD milliseconds = timeoutMs > 0 ? static_cast<DWORD>(timeoutMs) : 0;
    setsockopt(Native(socket), SOL_SOCKET, SO_RCVTIMEO,
               reinterpret_cast<const char*>(&milliseconds), sizeof milliseconds);
}

long SendSome(Socket socket, const char* data, std::size_t length) {
    int sent = send(Native(socket), data, Clamp(length), 0);
    return sent == SOCKET_ERROR ? Remember() : static_cast<long>(sent);
}

long ReceiveSome(Socket socket, char* buffer, std::size_t length, bool peek) {
    int received = recv(Native(socket), buffer, Clamp(length), peek ? MSG_PEEK : 0);
    return received == SOCKET_ERROR ? Remember() : static_cast<long>(received);
}

bool HasPendingInput(Socket socket) {
    fd_set readable, failed;
    FD_ZERO(&readable);
    FD_ZERO(&failed);
    FD_SET(Native(socket), &readable);
    FD_SET(Native(socket), &failed);
    timeval none = {0, 0};
    return select(0, &readable, nullptr, &failed, &none) != 0;
}

void CloseSocket(Socket socket) {
    closesocket(Native(socket));
}

int LastSocketError() {
    return t_socketError;
}

} // namespace platform
