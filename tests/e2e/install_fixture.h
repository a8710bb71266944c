#pragma once
// The player's machine against nginx on 127.0.0.1:80 inside the test's private network.

#include "tests/support/installer_fixture.h"
#include "tests/support/nginx_server.h"

#include <memory>

struct InstallerRun {
    ChildResult process;
    std::string log;
};

class InstallFixture : public InstallerFixture {
  protected:
    void TearDown() override;

    void StartServer();
    // Publishes `files`, starts the server and installs them: a first run that must succeed.
    void InstallFirst(const std::vector<GameFile>& files);
    // Object requests the server saw so far (manifest requests left out).
    int ObjectRequests();
    // `wrapper` runs the installer (its path is the wrapper's last argument).
    InstallerRun RunInstaller(int timeoutMs = 120000, const std::vector<std::string>& wrapper = {});

    std::unique_ptr<NginxServer> server_;
};
