#include "tests/e2e/install_fixture.h"

#include <filesystem>

void InstallFixture::SetUp() {
    std::filesystem::create_directories(Home());
    std::filesystem::create_directories(ServerRoot());
}

void InstallFixture::TearDown() {
    if (server_)
        server_->Stop();
}

void InstallFixture::StartServer() {
    server_ = std::make_unique<NginxServer>();
    ASSERT_TRUE(server_->Start(ServerRoot(), 80)) << "nginx did not start";
}

int InstallFixture::ObjectRequests() {
    std::string log = server_->AccessLog();
    int count = 0;
    for (std::size_t at = log.find("/microclient/objects/"); at != std::string::npos;
         at = log.find("/microclient/objects/", at + 1))
        ++count;
    return count;
}

InstallerRun InstallFixture::RunInstaller(int timeoutMs, const std::vector<std::string>& wrapper) {
    ChildOptions options;
    options.env["HOME"] = Home();
    options.workingDir = Home();
    options.timeoutMs = timeoutMs;
    InstallerRun run;
    std::vector<std::string> argv = wrapper;
    argv.push_back(installer_);
    run.process = RunChild(argv, options);
    run.log = ReadFile(InstallDir() + "/FeltoInstaller.log");
    return run;
}

void InstallFixture::ExpectInstalled(const std::vector<GameFile>& files) {
    for (const GameFile& file : files) {
        ASSERT_TRUE(FileExists(Installed(file.path))) << file.path;
        EXPECT_TRUE(ReadFile(Installed(file.path)) == file.bytes) << file.path << " differs";
    }
}

int CountLines(const std::string& log, const std::string& text) {
    int count = 0;
    for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
        ++count;
    return count;
}
