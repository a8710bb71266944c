#include "tests/support/installer_fixture.h"

#include <filesystem>

ChildOptions PlayerOptions(const std::string& home, int timeoutMs) {
    ChildOptions options;
    options.env["HOME"] = home;
    options.workingDir = home;
    options.timeoutMs = timeoutMs;
    return options;
}

ChildResult RunAsPlayer(const std::string& home, const std::string& installer, int timeoutMs,
                        const std::vector<std::string>& wrapper,
                        const std::map<std::string, std::string>& env) {
    ChildOptions options = PlayerOptions(home, timeoutMs);
    for (const auto& variable : env)
        options.env.insert(variable); // HOME stays the player's
    std::vector<std::string> argv = wrapper;
    argv.push_back(installer);
    return RunChild(argv, options);
}

void InstallerFixture::SetUp() {
    std::filesystem::create_directories(Home());
    std::filesystem::create_directories(ServerRoot());
}

void InstallerFixture::ExpectInstalled(const std::vector<GameFile>& files) const {
    for (const GameFile& file : files) {
        ASSERT_TRUE(FileExists(Installed(file.path))) << file.path << " is missing";
        EXPECT_TRUE(ReadFile(Installed(file.path)) == file.bytes) << file.path << " differs";
    }
}
