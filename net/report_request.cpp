#include "net/report_request.h"

#include "net/engine_settings.h"
#include "net/http_header.h"
#include "net/server_list.h"
#include "net/url.h"
#include "platform/platform.h"

#include <cstring>

int SendReportRequest(const std::string& base, const std::string& target, int limitMs) {
    const std::string host = SplitUrl(base + "/").host;
    std::string name;
    int port = GetEngineSettings().port;
    std::uint32_t address = 0;
    if (!SplitHostPort(host, name, port) || !platform::ResolveHost(name, address))
        return 0;
    platform::Socket socket = platform::OpenTcpSocket();
    if (socket == platform::kInvalidSocket)
        return 0;
    int status = 0;
    if (platform::ConnectTo(socket, address, port, limitMs)) {
        platform::SetReceiveTimeout(socket, limitMs);
        // Nothing but the request line and the host: no agent, no cookie, nothing of the player.
        const std::string request =
            "GET " + target + " HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n\r\n";
        std::size_t sent = 0;
        while (sent < request.size()) {
            long n = platform::SendSome(socket, request.data() + sent, request.size() - sent);
            if (n <= 0)
                break;
            sent += static_cast<std::size_t>(n);
        }
        char head[512] = {};
        std::size_t got = 0;
        while (sent == request.size() && got + 1 < sizeof head && !std::strchr(head, '\n')) {
            long n = platform::ReceiveSome(socket, head + got, sizeof head - 1 - got);
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        if (std::strchr(head, '\n'))
            status = ParseResponseHead(head).status;
    }
    platform::CloseSocket(socket);
    return status;
}
