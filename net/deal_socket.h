#pragma once
// The socket layer: plain blocking IPv4 TCP sockets. The one process-wide CDealSocket starts
// the socket library before main and cleans it up at exit.

#include "platform/platform.h"

#include <chrono>
#include <string>

class CDealSocket {
  public:
    CDealSocket();
    virtual ~CDealSocket();
};

// Room for the heads of CDNs and object stores, which add request ids, Via chains, timing and
// cookies; the buffer holds one more byte for the NUL.
constexpr int kHeaderBufferSize = 16 * 1024;

// Create, resolve, connect (with the engine's connect time-out, and its receive time-out set on
// the socket). The invalid socket on failure, after a log line.
platform::Socket ConnectServer(const std::string& host, int port);
// Sends the whole text, in as many send calls as the system needs; on failure the socket is
// closed and false returned. `sentBytes`, when given, learns how much went out either way.
bool SendString(platform::Socket socket, const std::string& text, std::size_t* sentBytes = nullptr);
// Reads a response header byte by byte up to CR LF CR LF or kHeaderBufferSize bytes;
// NUL-terminates it.
int GetHttpHeader(platform::Socket socket, char* buffer /* kHeaderBufferSize + 1 */);
// The same, giving up at the deadline: no receive waits past it, however slowly the bytes come.
// `atOnce`: each receive takes all of the head that has come (found by looking at the waiting
// bytes first), still none of the body: a few calls instead of one per byte.
int GetHttpHeader(platform::Socket socket, char* buffer,
                  std::chrono::steady_clock::time_point deadline, bool atOnce = false);
