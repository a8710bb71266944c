#include "net/deal_socket.h"

#include "net/engine_settings.h"
#include "support/log.h"

#include <cstring>

CDealSocket::CDealSocket() {
    switch (platform::StartSockets()) {
    case platform::SocketStartup::Ok:
        break;
    case platform::SocketStartup::Failed:
        WriteLog("WSAStartup");
        break;
    case platform::SocketStartup::WrongVersion:
        WriteLog("WinSock version not supported");
        platform::StopSockets();
        break;
    }
}

CDealSocket::~CDealSocket() {
    platform::StopSockets();
}

platform::Socket ConnectServer(const std::string& host, int port) {
    platform::Socket socket = platform::OpenTcpSocket();
    if (socket == platform::kInvalidSocket) {
        WriteLogSocketError("Allocating socket failed.");
        return platform::kInvalidSocket;
    }
    std::uint32_t address = 0;
    if (!platform::ResolveHost(host, address)) {
        WriteLogSocketError("Unable to get the host name.");
        platform::CloseSocket(socket);
        return platform::kInvalidSocket;
    }
    const EngineSettings& settings = GetEngineSettings();
    if (!platform::ConnectTo(socket, address, port, settings.connectTimeoutMs)) {
        WriteLogSocketError("Connecting to the server failed.");
        platform::CloseSocket(socket);
        return platform::kInvalidSocket;
    }
    // A server that goes silent must end as a failed receive, not hold the download for ever.
    platform::SetReceiveTimeout(socket, settings.receiveTimeoutMs);
    return socket;
}

bool SendString(platform::Socket socket, const std::string& text) {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        long sent = platform::SendSome(socket, data, left);
        if (sent <= 0) {
            platform::CloseSocket(socket);
            WriteLog("发送请求失败!");
            return false;
        }
        data += sent;
        left -= static_cast<std::size_t>(sent);
    }
    return true;
}

int GetHttpHeader(platform::Socket socket, char* buffer) {
    int count = 0;
    while (count < kHeaderBufferSize) {
        // One byte per call, so the socket is left exactly at the first byte of the body.
        if (platform::ReceiveSome(socket, buffer + count, 1) != 1)
            break;
        ++count;
        if (count >= 4 && std::memcmp(buffer + count - 4, "\r\n\r\n", 4) == 0)
            break;
    }
    buffer[count] = '\0';
    return count;
}
