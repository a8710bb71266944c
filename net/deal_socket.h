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
// closed and false returned.
bool SendString(platform::Socket socket, const std::string& text);
// Reads a response header byte by byte up to CR LF CR LF or kHeaderBufferSize bytes;
// NUL-terminates it.
int GetHttpHeader(platform::Socket socket, char* buffer /* kHeaderBufferSize + 1 */);
// The same, giving up at the deadline: no receive waits past it, however slowly the bytes come.
int GetHttpHeader(platform::Socket socket, char* buffer,
                  std::chrono::steady_clock::time_point deadline);
