#include "server_probe.h"

#include "net/deal_socket.h"
#include "net/engine_settings.h"
#include "net/http_get.h"
#include "net/server_url.h"
#include "net/url.h"

#include <atomic>
#include <chrono>

namespace publish {

bool ParseServerUrl(const std::string& url, ServerAddress& address, std::string& error) {
    ServerUrl parsed;
    if (!::ParseServerUrl(url, parsed, error))
        return false;
    address.host = parsed.host;
    address.baseUrl = parsed.hostUrl;
    address.port = parsed.port != 0 ? parsed.port : GetEngineSettings().port;
    return true;
}

void UseServerPort(const ServerAddress& address) {
    // The engine's settings are the installer's built-in ones; only the port differs, as it
    // would in an installer built for this server.
    UseServerPortInTools(address.port);
}

HeadAnswer AskHead(const ServerAddress& address, const std::string& urlPath, std::int64_t from) {
    HeadAnswer answer;
    const UrlParts parts = SplitUrl(address.baseUrl + "/" + urlPath);
    platform::Socket socket = ConnectServer(parts.host, address.port);
    if (socket == platform::kInvalidSocket)
        return answer;
    answer.connected = true;
    answer.accepted =
        SendHttpHeader(socket, parts.host, parts.urlDir, parts.fileName, from, answer.head);
    if (!answer.head.socketClosed)
        platform::CloseSocket(socket);
    return answer;
}

Refusal ExplainRefusal(const HeadAnswer& answer) {
    const ResponseHead& head = answer.head;
    if (!answer.connected)
        return {"no connection", "check the host name, the port and the firewall"};
    // The engine's own reason, as it logged it; only the advice is added here.
    switch (head.refusal) {
    case HeadRefusal::None:
        if (!head.hasContentLength)
            return {"no Content-Length",
                    "serve the files as they are: no chunked transfer, compression or filter"};
        return {};
    case HeadRefusal::SendFailed:
    case HeadRefusal::TooSlow:
    case HeadRefusal::NoHead:
        return {"no answer", "make sure an HTTP server answers on this port"};
    case HeadRefusal::NotFound:
        return {"missing (404)", "publish into the folder the server serves, keeping its layout"};
    case HeadRefusal::HeadTooLong:
        return {"answer head over 16,384 bytes",
                "drop response headers (cookies, CDN and proxy headers) from these files"};
    case HeadRefusal::Redirected:
        return {"redirected (" + std::to_string(head.status) + ")",
                "the installer follows no redirect: serve the files at this URL itself"};
    case HeadRefusal::Compressed:
        return {"compressed by the server (Content-Encoding: " + head.contentEncoding + ")",
                kCompressionOffAdvice};
    case HeadRefusal::Chunked:
        return {head.hasContentLength ? "sent chunked" : "sent chunked without Content-Length",
                "serve the files with Content-Length: no chunked transfer, compression or filter"};
    case HeadRefusal::CutShort:
    case HeadRefusal::BadStatus:
        break;
    }
    return {head.status ? "answered with status " + std::to_string(head.status)
                        : "no HTTP status line in the answer",
            "serve the files as plain static files"};
}

FetchResult FetchFile(const ServerAddress& address, const std::string& urlPath,
                      const std::string& destination) {
    FetchResult result;
    std::atomic<std::int64_t> received{0};
    const auto start = std::chrono::steady_clock::now();
    result.downloaded =
        HttpDownload(address.baseUrl + "/" + urlPath, destination, result.bytes, received, 1);
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result;
}

} // namespace publish
