#pragma once
// A TCP listener on 127.0.0.1, made with the system's own socket calls, for testing the
// installer's socket layer against a peer that the test controls.

#include <cstdint>
#include <string>

class LoopbackListener {
  public:
    // Listens on a port that the system picks; `backlog` is handed to listen().
    explicit LoopbackListener(int backlog = 4);
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    bool listening() const { return port_ != 0; }
    int port() const { return port_; }

    // Accepts one connection, waiting at most timeoutMs; -1 when none came.
    std::intptr_t Accept(int timeoutMs);
    // Sends all bytes on an accepted connection.
    bool Send(std::intptr_t connection, const std::string& bytes);
    // Reads what arrives on an accepted connection until `size` bytes, the peer's end or timeoutMs.
    std::string Receive(std::intptr_t connection, std::size_t size, int timeoutMs);
    void Close(std::intptr_t connection);

  private:
    std::intptr_t listener_ = -1;
    int port_ = 0;
    bool started_ = false; // the system's socket library was started for the listener
};
