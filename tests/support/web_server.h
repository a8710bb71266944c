#pragma once
// A real HTTP server from Debian as a download server for tests: its own configuration, logs and
// state in a temporary folder, run in the foreground in its own process group, so that Stop() or
// the destructor ends it with everything it started. The subclasses say how each server is
// configured; the access log has one line per request: the request line, the Range asked for,
// status and body bytes sent.

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

class WebServer {
  public:
    WebServer() = default;
    virtual ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Serves the files under `root` on 127.0.0.1:`port`; 0 picks a free port. Waits, within a
    // bounded time, until it accepts connections; false when it does not come up.
    bool Start(const std::string& root, int port = 0);
    void Stop();
    int port() const { return port_; }

    std::string AccessLog() const;
    std::string ErrorLog() const;
    // Where nginx and Apache also log in their default "combined" format, as a studio's server
    // does; lighttpd writes none.
    std::string CombinedLogPath() const;

  protected:
    using Marks = std::vector<std::pair<std::string, std::string>>;
    // A configuration template with every mark replaced by its value.
    static std::string Fill(std::string text, const Marks& marks);

    // Writes the configuration into `prefix` (where access.log and error.log go) and returns
    // the command line that runs the server in the foreground.
    virtual std::vector<std::string> Configure(const std::string& prefix, const std::string& root,
                                               int port) = 0;

  private:
    bool StartOn(const std::string& root, int port);

    std::unique_ptr<TempDir> prefix_;
    std::unique_ptr<RunningChild> process_;
    int port_ = 0;
};

enum class WebServerKind { Nginx, Apache, Lighttpd };

const char* WebServerName(WebServerKind kind);
std::unique_ptr<WebServer> MakeWebServer(WebServerKind kind);
// Empty when this server can run here; otherwise why not (Apache serves as its own user, which
// a user namespace does not have).
std::string WhyWebServerCannotRun(WebServerKind kind);
