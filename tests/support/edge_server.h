#pragma once
// Debian's caching reverse proxies as a studio sets them in front of its download server: each
// keeps its configuration, cache and logs in a temporary folder, listens on 127.0.0.1 and passes
// what it does not hold to one origin on 127.0.0.1. Run as real root (Squid serves as its own
// user), inside the test's private network.

#include "tests/support/web_server.h"

#include <memory>
#include <string>

enum class EdgeKind { Varnish, Squid, TrafficServer };

const char* EdgeName(EdgeKind kind);
// An edge in front of the origin on 127.0.0.1:originPort; Start's root is not used.
std::unique_ptr<WebServer> MakeEdgeServer(EdgeKind kind, int originPort);
// Empty when this edge can run here; otherwise why not.
std::string WhyEdgeCannotRun(EdgeKind kind);
