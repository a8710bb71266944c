#include "tests/faults/fault_fixture.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/mount.h>
#include <sys/statvfs.h>

namespace fs = std::filesystem;

namespace {

bool g_privateMounts = false;

constexpr std::size_t kBigSize = 600000; // above 409,600: three segments

} // namespace

std::vector<GameFile> FaultFixture::Game(unsigned version) const {
    std::vector<GameFile> files = LauncherBasics();
    if (program_ == Program::Wine)
        files = {{"plantform/x86/7z.exe", archiver32_, false},
                 {"plantform/x64/7z.exe", archiver64_, false},
                 {"Felto.exe", game_, false}};
    files.push_back({"launcher/config.ini", "[launcher]\r\nserver=felto\r\n", false});
    files.push_back({"launcher/small.dat", MakeBytes(5000 + version * 1000, version), false});
    files.push_back(
        {"launcher/big.pak", MakeBytes(kBigSize + version * 20000, 10 + version), false});
    files.push_back({"launcher/packed.dll", MakeBytes(30000 + version * 1000, 20 + version), true});
    return files;
}

namespace {

int ReportedCode(const std::string& stdErr) {
    std::size_t at = stdErr.find("error,code:");
    return at == std::string::npos ? -1 : std::atoi(stdErr.c_str() + at + 11);
}

} // namespace

std::string Describe(const Outcome& outcome) {
    if (!outcome.finished)
        return "hang (killed)";
    if (outcome.code == 0)
        return "complete install";
    if (outcome.code < 0)
        return "ended without a report";
    return "error " + std::to_string(outcome.code);
}

const char* ProgramName(Program program) {
    return program == Program::Wine ? "exe/Wine" : "native";
}

std::string WindowsArchiver(const std::string& kind) {
    const char* folder = std::getenv("FELTO_7ZIP_BIN");
    return std::string(folder && *folder ? folder : "/opt/felto-7zip-bin/node_modules/7zip-bin") +
           "/win/" + kind + "/7za.exe";
}

void FaultFixture::SetUp() {
    InstallerFixture::SetUp();
    if (program_ == Program::Wine) {
        const std::string build = WindowsBuildDir();
        if (build.empty())
            GTEST_SKIP() << "FELTO_WIN_BUILD_DIR is not set: no Windows build to run under Wine";
        archiver32_ = ReadFile(WindowsArchiver("ia32"));
        archiver64_ = ReadFile(WindowsArchiver("x64"));
        game_ = ReadFile(build + "/wine-stand-ins/Felto.exe");
        ASSERT_FALSE(archiver32_.empty() || archiver64_.empty())
            << WindowsArchiver("ia32") << " is missing: run scripts/install-deps.sh or set "
            << "FELTO_7ZIP_BIN";
        ASSERT_FALSE(game_.empty()) << "no game stand-in in " << build;
        try {
            wine_ = std::make_unique<WinePrefix>(build + "/FeltoInstaller.exe");
        } catch (const std::exception& error) {
            FAIL() << error.what();
        }
        wine_->MapDriveD(Home());
    }
    before_ = Paths();
}

void FaultFixture::TearDown() {
    // Wine first: its processes may hold files of the install folder.
    if (wine_) {
        EXPECT_TRUE(wine_->StopWine()) << "Wine processes were still running and had to be killed";
    }
    wine_.reset();
    server_.Stop();
    // Detached, so a game still running in the folder does not keep the folder from going.
    if (smallDisk_)
        ::umount2(InstallDir().c_str(), MNT_DETACH);
}

void SetPrivateMounts(bool available) {
    g_privateMounts = available;
}

bool FaultFixture::MountSmallDisk() {
    fs::create_directories(InstallDir());
    smallDisk_ = g_privateMounts &&
                 ::mount("felto-small-disk", InstallDir().c_str(), "tmpfs", 0, "size=64m") == 0;
    return smallDisk_;
}

void FaultFixture::LeaveFree(std::int64_t bytes) {
    struct statvfs disk;
    ASSERT_TRUE(smallDisk_ && ::statvfs(InstallDir().c_str(), &disk) == 0);
    std::int64_t used = static_cast<std::int64_t>(disk.f_blocks - disk.f_bfree) * disk.f_frsize;
    std::string size = "size=" + std::to_string(used + bytes);
    ASSERT_EQ(::mount("felto-small-disk", InstallDir().c_str(), "tmpfs", MS_REMOUNT, size.c_str()),
              0)
        << std::strerror(errno);
}

std::string FaultFixture::Said(const std::string& utf8) const {
    return program_ == Program::Wine ? ToCp936(utf8) : utf8;
}

std::string FaultFixture::LoggedPath(const std::string& hostPath) const {
    if (program_ == Program::Native || hostPath.compare(0, InstallDir().size(), InstallDir()) != 0)
        return hostPath;
    return "D:\\Felto" + hostPath.substr(InstallDir().size());
}

std::vector<GameFile> FaultFixture::OldGame() const {
    return Game(0);
}

std::vector<GameFile> FaultFixture::NewGame() const {
    return Game(1);
}

std::string FaultFixture::ArchiverRunning(const std::string& hostScript) {
    if (program_ == Program::Native)
        return hostScript;
    const std::string script = hostScripts_ / "host-archiver.sh";
    WriteFile(script, hostScript);
    fs::permissions(script, fs::perms::owner_all);
    runEnv_["FELTO_TEST_7Z_HOST"] = script;
    return ReadFile(WindowsBuildDir() + "/wine-stand-ins/7z.exe");
}

const GameFile& FaultFixture::Find(const std::vector<GameFile>& files, const std::string& relPath) {
    for (const GameFile& file : files)
        if (file.path == relPath)
            return file;
    throw std::runtime_error("no game file " + relPath);
}

void FaultFixture::InstallPrevious(const std::vector<GameFile>& files) {
    previous_ = files;
    std::string body;
    for (const GameFile& file : files) {
        fs::create_directories(fs::path(Installed(file.path)).parent_path());
        WriteFile(Installed(file.path), file.bytes);
        body += "x/" + Md5Of(file.bytes) + "\t" + file.path + "\t" + Md5Of(file.bytes) + "\n";
    }
    std::string manifest = "#" + std::to_string(body.size()) + "\n" + body;
    fs::create_directories(Installed("incoming"));
    WriteFile(Installed("launcher_manifest_x64.js"), manifest);
    WriteFile(Incoming("launcher_manifest_x64.js"), manifest);
    before_ = Paths();
}

void FaultFixture::Publish(const std::vector<GameFile>& files) {
    published_ = files;
    entries_ = tree_.Publish(files);
    LoadTree();
}

void FaultFixture::PublishManifest(const std::string& body) {
    tree_.WriteManifest(body);
    LoadTree();
}

const PublishedEntry& FaultFixture::Entry(const std::string& relPath) const {
    for (const PublishedEntry& entry : entries_)
        if (entry.relPath == relPath)
            return entry;
    throw std::runtime_error("nothing published for " + relPath);
}

void FaultFixture::LoadTree() {
    server_.ServeFolder(tree_.root());
}

void FaultFixture::StartServer() {
    ASSERT_TRUE(server_.Start(80)) << "the test server cannot take port 80";
}

Outcome FaultFixture::RunInstaller(int timeoutMs, const std::vector<std::string>& wrapper) {
    auto start = std::chrono::steady_clock::now();
    ChildResult result;
    if (program_ == Program::Wine) {
        EXPECT_TRUE(wrapper.empty()) << "a wrapper runs the native program only";
        ChildOptions options = wine_->Options(timeoutMs);
        options.workingDir = Home();
        for (const auto& variable : runEnv_)
            options.env[variable.first] = variable.second;
        // The exe of the same build as the native program the row runs.
        const std::string exe = installer_ == FELTO_LEAN_INSTALLER_BINARY
                                    ? "/FeltoInstallerLean.exe"
                                    : "/FeltoInstaller.exe";
        result = RunChild(wine_->Command(WindowsBuildDir() + exe), options);
    } else {
        result = RunNative(timeoutMs, wrapper, runEnv_);
    }
    Outcome outcome;
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    outcome.finished = result.finished;
    outcome.stdErr = result.stdErr;
    outcome.log = InstallerLog();
    // Standard error has every log entry too, also when the log file could not be written; a
    // windowed Windows program may have none, and then the log tells.
    for (const std::string* story : {&outcome.stdErr, &outcome.log}) {
        if (outcome.code < 0)
            outcome.code = ReportedCode(*story);
        if (outcome.code < 0 && story->find("_StartLauncher") != std::string::npos)
            outcome.code = 0;
    }
    return outcome;
}

void FaultFixture::ExpectComplete(const Outcome& outcome) {
    ExpectInstalled(published_);
    if (HasFatalFailure())
        return;
    EXPECT_EQ(outcome.log.find("error,code:"), std::string::npos) << outcome.log;
    EXPECT_TRUE(WaitUntil(10000, [&] { return FileExists(Installed("game-started.mark")); }))
        << "the game was not started";
}

void FaultFixture::ExpectIntact(Intact intact) {
    for (const GameFile& file : previous_) {
        ASSERT_TRUE(FileExists(Installed(file.path))) << file.path << " was removed";
        std::string bytes = ReadFile(Installed(file.path));
        if (bytes == file.bytes)
            continue;
        bool isNew = false;
        if (intact == Intact::OldOrNew) {
            for (const GameFile& next : published_)
                isNew = isNew || (next.path == file.path && next.bytes == bytes);
        }
        EXPECT_TRUE(isNew) << file.path << " holds bytes of no version (" << bytes.size()
                           << " bytes)";
    }
}

std::set<std::string> FaultFixture::Paths() const {
    std::set<std::string> paths;
    for (const auto& item : fs::recursive_directory_iterator(dir_.path())) {
        std::string path = item.path().generic_string();
        if (path.compare(0, tree_.root().size(), tree_.root()) != 0)
            paths.insert(path);
    }
    return paths;
}

void FaultFixture::ExpectNothingOutside() {
    const std::string inside = InstallDir() + "/";
    for (const std::string& path : Paths()) {
        if (before_.count(path) || path == InstallDir() ||
            path.compare(0, inside.size(), inside) == 0 || path == Home() + "/Desktop" ||
            path == Home() + "/Desktop/Felto.desktop")
            continue;
        ADD_FAILURE() << "written outside the install folder: " << path;
    }
}
