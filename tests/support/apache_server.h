#pragma once
// Debian's Apache httpd (event MPM) as a real download server for tests. It serves as its own
// user (www-data), so it runs only as real root: in a plain network namespace (unshare -n), not
// in a user namespace, which has no other user to switch to.

#include "tests/support/web_server.h"

class ApacheServer : public WebServer {
  public:
    // Empty when Apache can run in this process; otherwise why not.
    static std::string WhyItCannotRun();

  protected:
    std::vector<std::string> Configure(const std::string& prefix, const std::string& root,
                                       int port) override;
};
