#pragma once
// The installer's own requests, made by the download engine itself, against a server a studio
// wants to check: a head asked for with Range, and a whole download the way the installer fetches.

#include "net/http_header.h"

#include <cstdint>
#include <string>

namespace publish {

struct ServerAddress {
    std::string baseUrl; // "http://host": the installer's base URL, its port built in apart
    std::string host;
    int port = 80; // FELTO_SERVER_PORT
};

// "http://host[:port]", by the installer's own rule; without a port, the one this build's
// installer uses.
bool ParseServerUrl(const std::string& url, ServerAddress& address, std::string& error);

// Points the engine at the server's port for the rest of the run.
void UseServerPort(const ServerAddress& address);

// What to do about a server that compresses what it passes on, the manifests included.
constexpr const char* kCompressionOffAdvice =
    "turn compression off for the published tree (.js files included)";

struct HeadAnswer {
    bool connected = false;
    bool accepted = false; // the engine takes the answer as file data
    ResponseHead head;     // parsed even when refused
};

// One request for `urlPath` below the base URL from byte `from`, closed after the head.
HeadAnswer AskHead(const ServerAddress& address, const std::string& urlPath, std::int64_t from);

// Why the installer cannot use an answer, and what to change on the server; empty when it can.
struct Refusal {
    std::string why;
    std::string fix;
};
Refusal ExplainRefusal(const HeadAnswer& answer);

struct FetchResult {
    bool downloaded = false;
    std::int64_t bytes = 0;
    double seconds = 0;
};

// The installer's whole download (probe, one or three ranges, join) into `destination`.
FetchResult FetchFile(const ServerAddress& address, const std::string& urlPath,
                      const std::string& destination);

} // namespace publish
