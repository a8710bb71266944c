#pragma once
// Debian's nginx as a real download server for tests, run as one process, so it works as real
// root and as root of an `unshare -rn` namespace (whose loopback the caller brings up).

#include "tests/support/web_server.h"

class NginxServer : public WebServer {
  public:
    // Directives added to the server block (e.g. "limit_rate 2m;"); takes effect at Start.
    void SetExtraConfig(const std::string& directives) { extraConfig_ = directives; }

  protected:
    std::vector<std::string> Configure(const std::string& prefix, const std::string& root,
                                       int port) override;

  private:
    std::string extraConfig_;
};
