#pragma once
// Connections to the download server kept open between requests (HTTP/1.1 persistent
// connections) for the lean transfer: a request takes an idle one when there is one, and gives
// it back once its answer has been read to the last byte. At most the parallel downloads x 3
// stay idle per server, as many as the downloads can use at once.

#include "platform/platform.h"

#include <string>

struct PooledConnection {
    platform::Socket socket = platform::kInvalidSocket;
    bool reused = false; // it served an earlier request: the server may have closed it since
};

// An idle connection to host:port, or a new one (after "正在建立连接"); the invalid socket, after
// the connection's log lines, when none can be had. Idle connections the server has closed (or
// that hold bytes no request asked for) are closed and passed over.
PooledConnection TakeConnection(const std::string& host, int port);
// Back to the idle ones, for a connection whose answer was read whole and that the server keeps
// open; closed when the pool is full.
void GiveBackConnection(const std::string& host, int port, platform::Socket socket);
// Connections opened since the process started.
int ConnectionsOpened();
