#pragma once
// Debian's lighttpd as a real download server for tests, run in the foreground as one process.

#include "tests/support/web_server.h"

class LighttpdServer : public WebServer {
  protected:
    std::vector<std::string> Configure(const std::string& prefix, const std::string& root,
                                       int port) override;
};
