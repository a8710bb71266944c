#include "net/deal_socket.h"

#include "net/engine_settings.h"
#include "net/server_list.h"
#include "support/log.h"

#include <algorithm>
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
    // A fall-back server's base may carry its own port ("http://mirror:8080"), which wins over
    // the settings' one. Without fall-back servers the host is taken as it stands.
    std::string name = host;
    std::uint32_t address = 0;
    if ((HasFallbackServers() && !SplitHostPort(host, name, port)) ||
        !platform::ResolveHost(name, address)) {
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

bool SendString(platform::Socket socket, const std::string& text, std::size_t* sentBytes) {
    const char* data = text.data();
    std::size_t left = text.size();
    if (sentBytes)
        *sentBytes = 0;
    while (left > 0) {
        long sent = platform::SendSome(socket, data, left);
        if (sent <= 0) {
            platform::CloseSocket(socket);
            WriteLog("发送请求失败!");
            return false;
        }
        data += sent;
        left -= static_cast<std::size_t>(sent);
        if (sentBytes)
            *sentBytes += static_cast<std::size_t>(sent);
    }
    return true;
}

namespace {
// Longer than any deadline the engine sets; keeps the millisecond count within an int.
constexpr int kLongestWaitMs = 24 * 3600 * 1000;
} // namespace

int GetHttpHeader(platform::Socket socket, char* buffer) {
    return GetHttpHeader(socket, buffer, std::chrono::steady_clock::time_point::max());
}

int GetHttpHeader(platform::Socket socket, char* buffer,
                  std::chrono::steady_clock::time_point deadline, bool atOnce) {
    using std::chrono::milliseconds;
    const int receiveTimeoutMs = GetEngineSettings().receiveTimeoutMs;
    bool shortened = false;
    int earlyEnds = 0;
    int count = 0;
    while (count < kHeaderBufferSize) {
        auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero())
            break;
        // A receive that may wait past the deadline is cut to the time that is left.
        const milliseconds limit(receiveTimeoutMs > 0 ? receiveTimeoutMs : kLongestWaitMs);
        const bool cut = left < limit;
        if (cut) {
            auto leftMs = std::chrono::ceil<milliseconds>(left).count();
            platform::SetReceiveTimeout(socket, static_cast<int>(std::max<long long>(leftMs, 1)));
            shortened = true;
        }
        // One byte per call, so the socket is left exactly at the first byte of the body; or, at
        // once, what has come up to the blank line.
        long want =
            atOnce ? platform::ReceiveSome(socket, buffer + count, kHeaderBufferSize - count, true)
                   : 1;
        if (want > 0 && atOnce) {
            static const char blankLine[] = "\r\n\r\n";
            char* from = buffer + std::max(count - 3, 0);
            char* end = std::search(from, buffer + count + want, blankLine, blankLine + 4);
            if (end != buffer + count + want)
                want = static_cast<long>(end + 4 - (buffer + count));
        }
        long got =
            want > 0 ? platform::ReceiveSome(socket, buffer + count, static_cast<std::size_t>(want))
                     : want;
        // The system's timer may end a cut receive a tick before the deadline: the rest is waited
        // for, so that a head still short at its deadline is always found there. A failing socket
        // fails again at once and ends the loop after two more tries.
        if (got < 0 && cut && ++earlyEnds <= 2)
            continue;
        if (got <= 0)
            break;
        count += static_cast<int>(got);
        if (count >= 4 && std::memcmp(buffer + count - 4, "\r\n\r\n", 4) == 0)
            break;
    }
    if (shortened)
        platform::SetReceiveTimeout(socket, receiveTimeoutMs);
    buffer[count] = '\0';
    return count;
}
