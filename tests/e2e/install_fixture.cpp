#include "tests/e2e/install_fixture.h"

void InstallFixture::TearDown() {
    if (server_)
        server_->Stop();
}

void InstallFixture::StartServer() {
    server_ = std::make_unique<NginxServer>();
    ASSERT_TRUE(server_->Start(ServerRoot(), 80)) << "nginx did not start";
}

void InstallFixture::InstallFirst(const std::vector<GameFile>& files) {
    Tree().Publish(files);
    StartServer();
    InstallerRun run = RunInstaller();
    ASSERT_EQ(run.process.exitStatus, 0) << run.process.stdErr;
}

int InstallFixture::ObjectRequests() {
    return CountOf(server_->AccessLog(), "/microclient/objects/");
}

InstallerRun InstallFixture::RunInstaller(int timeoutMs, const std::vector<std::string>& wrapper) {
    InstallerRun run;
    run.process = RunNative(timeoutMs, wrapper);
    run.log = InstallerLog();
    return run;
}
