#pragma once
// Debian's nginx as a real download server for tests: its own prefix, configuration, logs and
// temp folders in a temporary folder, run in the foreground as one process, so it works as real
// root and as root of an `unshare -rn` namespace (whose loopback the caller brings up). Stopped
// by Stop() or the destructor.

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

#include <memory>
#include <string>

class NginxServer {
  public:
    NginxServer() = default;
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    // Directives added to the server block (e.g. "limit_rate 2m;"); takes effect at Start.
    void SetExtraConfig(const std::string& directives) { extraConfig_ = directives; }
    // Serves the files under `root` on 127.0.0.1:`port`; 0 picks a free port. Waits, within a
    // bounded time, until it accepts connections; false when it does not come up.
    bool Start(const std::string& root, int port = 0);
    void Stop();
    int port() const { return port_; }

    // One line per request: the request line, the Range asked for, status and body bytes sent.
    std::string AccessLog() const;
    std::string ErrorLog() const;

  private:
    bool StartOn(const std::string& root, int port);

    std::string extraConfig_;
    std::unique_ptr<TempDir> prefix_;
    std::unique_ptr<RunningChild> process_;
    int port_ = 0;
};
