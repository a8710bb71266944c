#pragma once
// A player's machine for one test: a home folder with the install folder in it, the download
// server's tree beside it, and the real installer started from the home folder as a player
// starts it. The end-to-end and the fault suites build on it, each with the server it needs.

#include "tests/support/child_process.h"
#include "tests/support/server_tree.h"
#include "tests/support/temp_dir.h"
#include "tests/support/text_checks.h"

#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

// How a player on the machine whose home folder is `home` starts a program: HOME is that folder
// and so is the working folder.
ChildOptions PlayerOptions(const std::string& home, int timeoutMs);
// Runs `installer` so. `wrapper`, a command that runs the program it is given last, comes first;
// `env` is added to the run's environment.
ChildResult RunAsPlayer(const std::string& home, const std::string& installer, int timeoutMs,
                        const std::vector<std::string>& wrapper = {},
                        const std::map<std::string, std::string>& env = {});

class InstallerFixture : public ::testing::Test {
  protected:
    void SetUp() override;

    std::string Home() const { return dir_ / "home"; }
    std::string InstallDir() const { return Home() + "/Felto"; }
    std::string Installed(const std::string& relPath) const { return InstallDir() + "/" + relPath; }
    std::string Incoming(const std::string& name) const {
        return InstallDir() + "/incoming/" + name;
    }
    std::string ServerRoot() const { return tree_.root(); }
    ServerTree& Tree() { return tree_; }
    std::string InstallerLog() const { return ReadFile(Installed("FeltoInstaller.log")); }

    // The native program (installer_) run by this machine's player.
    ChildResult RunNative(int timeoutMs, const std::vector<std::string>& wrapper = {},
                          const std::map<std::string, std::string>& env = {}) const {
        return RunAsPlayer(Home(), installer_, timeoutMs, wrapper, env);
    }
    // The native program started by this machine's player (through `wrapper`, when given) and
    // left running (killed, if it has not ended, when the handle goes).
    std::unique_ptr<RunningChild> StartNative(const std::vector<std::string>& wrapper = {}) const {
        std::vector<std::string> argv = wrapper;
        argv.push_back(installer_);
        return std::make_unique<RunningChild>(argv, PlayerOptions(Home(), 0));
    }
    // Every one of `files` installed with exactly its bytes.
    void ExpectInstalled(const std::vector<GameFile>& files) const;

    std::string installer_ = FELTO_INSTALLER_BINARY;
    TempDir dir_;
    ServerTree tree_{dir_ / "www"};
};
