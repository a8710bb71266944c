#pragma once
// Runs the real installer as a player would: its own home folder, the download server on
// 127.0.0.1:80 inside the test's private network.

#include "tests/support/child_process.h"
#include "tests/support/nginx_server.h"
#include "tests/support/server_tree.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <memory>

struct InstallerRun {
    ChildResult process;
    std::string log;
};

class InstallFixture : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    std::string Home() const { return dir_ / "home"; }
    std::string InstallDir() const { return Home() + "/Felto"; }
    std::string Installed(const std::string& relPath) const { return InstallDir() + "/" + relPath; }
    std::string ServerRoot() const { return dir_ / "www"; }
    ServerTree& Tree() { return tree_; }

    void StartServer();
    // Object requests the server saw so far (manifest requests left out).
    int ObjectRequests();
    // `wrapper` runs the installer (its path is the wrapper's last argument).
    InstallerRun RunInstaller(int timeoutMs = 120000, const std::vector<std::string>& wrapper = {});
    // Every file of the tree installed with exactly its bytes.
    void ExpectInstalled(const std::vector<GameFile>& files);

    std::string installer_ = FELTO_INSTALLER_BINARY; // the program RunInstaller runs
    TempDir dir_;
    ServerTree tree_{dir_ / "www"};
    std::unique_ptr<NginxServer> server_;
};

// The log's entries of one kind ("文件不存在", "MD5不一致", ...).
int CountLines(const std::string& log, const std::string& text);
