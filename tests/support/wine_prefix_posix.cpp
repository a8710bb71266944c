#include "tests/support/wine_prefix_posix.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iconv.h>
#include <stdexcept>
#include <sys/file.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr int kBootTimeoutMs = 300000;
constexpr int kStopTimeoutMs = 20000;

std::string FindTool(const std::vector<std::string>& candidates) {
    for (const std::string& candidate : candidates) {
        if (candidate.find('/') != std::string::npos) {
            if (::access(candidate.c_str(), X_OK) == 0)
                return candidate;
            continue;
        }
        const char* path = std::getenv("PATH");
        std::string dirs = path ? path : "/usr/bin:/bin";
        for (std::size_t start = 0; start <= dirs.size();) {
            std::size_t end = dirs.find(':', start);
            if (end == std::string::npos)
                end = dirs.size();
            std::string full = dirs.substr(start, end - start) + "/" + candidate;
            if (::access(full.c_str(), X_OK) == 0)
                return full;
            start = end + 1;
        }
    }
    return std::string();
}

// A loader that is there but cannot execute (a 32-bit Wine on a kernel without 32-bit
// support) must count as missing.
bool Runnable(const std::string& loader) {
    if (loader.empty())
        return false;
    ChildOptions options;
    options.timeoutMs = 30000;
    ChildResult result = RunChild({loader, "--version"}, options);
    return result.finished && result.exitStatus == 0;
}

std::string WineVersion(const std::string& loader) {
    ChildOptions options;
    options.timeoutMs = 30000;
    std::string version;
    // --version prints on standard output, which RunChild drops; ask through a shell.
    TempDir dir;
    RunChild({"/bin/sh", "-c", "\"$0\" --version > \"$1\"", loader, dir / "version"}, options);
    return ReadFile(dir / "version");
}

// The machine field of a Windows program's PE header: 0x14c 32-bit, 0x8664 64-bit.
unsigned PeMachine(const std::string& program) {
    std::string bytes = ReadFile(program);
    if (bytes.size() < 0x40 || bytes.compare(0, 2, "MZ") != 0)
        return 0;
    std::uint32_t offset = 0;
    std::memcpy(&offset, bytes.data() + 0x3c, sizeof offset);
    if (offset + 6 > bytes.size() || bytes.compare(offset, 4, std::string("PE\0\0", 4)) != 0)
        return 0;
    return static_cast<unsigned char>(bytes[offset + 4]) |
           static_cast<unsigned char>(bytes[offset + 5]) << 8;
}

std::map<std::string, std::string> WineEnvironment(const std::string& prefix,
                                                   const std::string& home) {
    return {{"WINEPREFIX", prefix},
            {"WINEDEBUG", "-all"},
            // Nothing here needs Mono or Gecko, and their installers would ask.
            {"WINEDLLOVERRIDES", "mscoree,mshtml="},
            {"HOME", home}};
}

class FileLock {
  public:
    explicit FileLock(const std::string& path)
        : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
        if (fd_ < 0 || ::flock(fd_, LOCK_EX) != 0)
            throw std::runtime_error("cannot lock " + path);
    }
    ~FileLock() { ::close(fd_); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

  private:
    int fd_;
};

// Making a prefix takes seconds and about 700 MB, so it is made once per build and every test
// gets a copy of it whose large files are hard links.
std::string PrefixTemplate(const std::string& bootLoader, const std::string& wineserver) {
    std::string path = std::string(FELTO_BINARY_DIR) + "/wine-template";
    FileLock lock(path + ".lock");
    std::string version = WineVersion(bootLoader);
    std::string marker = path + "/.felto-ready";
    if (FileExists(marker) && ReadFile(marker) == version)
        return path;

    std::error_code ignored;
    fs::remove_all(path, ignored);
    fs::create_directories(path);
    fs::create_directories(path + "-home");
    ChildOptions options;
    options.env = WineEnvironment(path, path + "-home");
    options.timeoutMs = kBootTimeoutMs;
    ChildResult boot = RunChild({bootLoader, "wineboot", "-i"}, options);
    if (!boot.finished || boot.exitStatus != 0)
        throw std::runtime_error("wineboot failed: " + boot.stdErr);
    // The registry reaches the disk when the server ends.
    ChildResult wait = RunChild({wineserver, "-w"}, options);
    if (!wait.finished)
        throw std::runtime_error("the Wine server of the new prefix did not end");
    WriteFile(marker, version);
    return path;
}

void CopyPrefix(const std::string& from, const std::string& to) {
    ChildOptions options;
    options.timeoutMs = 120000;
    ChildResult copy = RunChild({"cp", "-al", from, to}, options);
    if (!copy.finished || copy.exitStatus != 0)
        throw std::runtime_error("cannot copy the Wine prefix: " + copy.stdErr);
    // Wine rewrites the registry and small files of its own; those must not be the template's.
    // The libraries, the bulk of it, are only read.
    for (auto it = fs::recursive_directory_iterator(to); it != fs::recursive_directory_iterator();
         ++it) {
        const fs::path& file = it->path();
        if (!fs::is_regular_file(fs::symlink_status(file)))
            continue;
        if (fs::file_size(file) > 256 * 1024 && file.extension() != ".reg")
            continue;
        fs::path temp = file.string() + ".felto-copy";
        fs::copy_file(file, temp);
        fs::rename(temp, file);
    }
    // The user's folders point into the home folder; the test's own folders take their place,
    // so a shortcut lands inside the prefix.
    for (const fs::directory_entry& user : fs::directory_iterator(to + "/drive_c/users")) {
        if (!user.is_directory())
            continue;
        for (const fs::directory_entry& folder : fs::directory_iterator(user.path())) {
            if (folder.is_symlink()) {
                fs::remove(folder.path());
                fs::create_directory(folder.path());
            }
        }
    }
}

} // namespace

std::string WindowsBuildDir() {
    const char* dir = std::getenv("FELTO_WIN_BUILD_DIR");
    return dir ? dir : "";
}

WinePrefix::WinePrefix(const std::string& sample) {
    // Message boxes must not wait for a player; no Wine of the caller's may be picked up.
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    ::unsetenv("WINELOADER");
    ::unsetenv("WINEARCH");

    std::string wine32 = FindTool({"/usr/lib/wine/wine", "wine"});
    std::string wine64 = FindTool({"/usr/lib/wine/wine64", "wine64"});
    wineserver_ = FindTool({"/usr/lib/wine/wineserver", "wineserver"});
    if (wineserver_.empty())
        throw std::runtime_error("wineserver not found: install wine (scripts/install-deps.sh)");
    unsigned machine = PeMachine(sample);
    if (machine == 0x14c) {
        loader_ = wine32;
        if (!Runnable(loader_))
            throw std::runtime_error(
                "this machine cannot run 32-bit Windows programs (no 32-bit Wine, or a kernel "
                "without 32-bit support): point FELTO_WIN_BUILD_DIR at a build made with "
                "cmake/mingw-x86_64.cmake");
    } else if (machine == 0x8664) {
        loader_ = wine64;
        if (!Runnable(loader_))
            throw std::runtime_error("no 64-bit Wine (package wine64) to run " + sample);
    } else {
        throw std::runtime_error(sample + " is not a Windows program");
    }
    // A 64-bit prefix runs both kinds where the host can.
    std::string bootLoader = Runnable(wine64) ? wine64 : loader_;

    prefix_ = dir_ / "prefix";
    CopyPrefix(PrefixTemplate(bootLoader, wineserver_), prefix_);
    fs::create_directories(dir_ / "home");
    fs::create_directories(dir_ / "d");
    MapDriveD(dir_ / "d");
}

void WinePrefix::MapDriveD(const std::string& folder) {
    const std::string link = prefix_ + "/dosdevices/d:";
    std::error_code ignored;
    fs::remove(link, ignored);
    fs::create_symlink(folder, link);
    driveD_ = folder;
}

WinePrefix::~WinePrefix() {
    StopWine();
    // The drive links point outside the prefix (z: is /); nothing may follow them while the
    // folder is removed.
    std::error_code ignored;
    for (const fs::directory_entry& link : fs::directory_iterator(prefix_ + "/dosdevices", ignored))
        fs::remove(link.path(), ignored);
    fs::remove_all(prefix_, ignored);
}

std::string WinePrefix::Desktop() const {
    for (const fs::directory_entry& user : fs::directory_iterator(prefix_ + "/drive_c/users")) {
        if (user.path().filename() != "Public" && fs::exists(user.path() / "Desktop"))
            return (user.path() / "Desktop").string();
    }
    return std::string();
}

std::vector<std::string> WinePrefix::Command(const std::string& program,
                                             const std::vector<std::string>& args) const {
    std::vector<std::string> command = {loader_, program};
    command.insert(command.end(), args.begin(), args.end());
    return command;
}

ChildOptions WinePrefix::Options(int timeoutMs) const {
    ChildOptions options;
    options.env = WineEnvironment(prefix_, dir_ / "home");
    options.timeoutMs = timeoutMs;
    return options;
}

void WinePrefix::RelayOnly(const std::string& calls) {
    // Read by the Wine server when it starts, so only before any program of the prefix runs.
    std::ofstream reg(prefix_ + "/user.reg", std::ios::app | std::ios::binary);
    reg << "\n[Software\\\\Wine\\\\Debug] 1700000000\n\"RelayInclude\"=\"" << calls << "\"\n";
    if (!reg.flush())
        throw std::runtime_error("cannot write the registry of " + prefix_);
}

void WinePrefix::SetWindowsVersion(const std::string& version) {
    std::ofstream reg(prefix_ + "/user.reg", std::ios::app | std::ios::binary);
    reg << "\n[Software\\\\Wine] 1700000000\n\"Version\"=\"" << version << "\"\n";
    if (!reg.flush())
        throw std::runtime_error("cannot write the registry of " + prefix_);
}

std::vector<int> WinePrefix::WineProcesses() const {
    std::vector<int> found;
    std::string wanted = "WINEPREFIX=" + prefix_;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return found;
    while (dirent* entry = ::readdir(proc)) {
        int pid = std::atoi(entry->d_name);
        if (pid <= 0 || pid == ::getpid())
            continue;
        std::string environment = ReadFile("/proc/" + std::string(entry->d_name) + "/environ");
        for (std::size_t start = 0; start < environment.size();) {
            std::size_t end = environment.find('\0', start);
            if (end == std::string::npos)
                end = environment.size();
            if (environment.compare(start, end - start, wanted) == 0) {
                found.push_back(pid);
                break;
            }
            start = end + 1;
        }
    }
    ::closedir(proc);
    return found;
}

bool WinePrefix::StopWine() {
    ChildOptions options = Options(kStopTimeoutMs);
    RunChild({wineserver_, "-k"}, options);
    if (WaitUntil(kStopTimeoutMs, [&] { return WineProcesses().empty(); }))
        return true;
    for (int pid : WineProcesses())
        ::kill(pid, SIGKILL);
    WaitUntil(kStopTimeoutMs, [&] { return WineProcesses().empty(); });
    return false;
}

PlayerSession::PlayerSession(WinePrefix& wine, const std::string& player, const std::string& answer,
                             const std::string& locale, const std::string& progress,
                             const std::string& screenshot)
    : wine_(wine), locale_(locale) {
    std::string record = "Z:" + records_.path() + "/windows.txt";
    std::replace(record.begin(), record.end(), '/', '\\');
    std::vector<std::string> args = {answer, record};
    if (!progress.empty())
        args.push_back(progress);
    if (!screenshot.empty())
        args.push_back(screenshot);
    player_ = std::make_unique<RunningChild>(wine_.Command(player, args), Options(0));
}

PlayerSession::~PlayerSession() {
    player_.reset();
    // Wine's processes hold the display; they go first.
    wine_.StopWine();
}

ChildOptions PlayerSession::Options(int timeoutMs) const {
    ChildOptions options = wine_.Options(timeoutMs);
    options.env["DISPLAY"] = display_.Name();
    options.env["LC_ALL"] = locale_;
    return options;
}

std::vector<std::string> PlayerSession::Windows() const {
    std::vector<std::string> lines;
    std::string record = ReadFile(records_ / "windows.txt");
    for (std::size_t start = 0; start < record.size();) {
        std::size_t end = record.find('\n', start);
        if (end == std::string::npos)
            end = record.size();
        lines.push_back(record.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

void WineTest::SetUp() {
    buildDir_ = WindowsBuildDir();
    if (buildDir_.empty())
        GTEST_SKIP() << "FELTO_WIN_BUILD_DIR is not set: no Windows build to run under Wine";
    ASSERT_TRUE(FileExists(Installer()))
        << "FELTO_WIN_BUILD_DIR=" << buildDir_ << " holds no FeltoInstaller.exe; build it first";
    try {
        wine_ = std::make_unique<WinePrefix>(Installer());
    } catch (const std::exception& error) {
        FAIL() << error.what();
    }
}

void WineTest::TearDown() {
    if (!wine_)
        return;
    EXPECT_TRUE(wine_->StopWine()) << "Wine processes were still running and had to be killed";
    wine_.reset();
}

std::string WineTest::StandIn(const std::string& name) const {
    std::string path = buildDir_ + "/wine-stand-ins/" + name;
    EXPECT_TRUE(FileExists(path)) << path << " is missing from the Windows build";
    return path;
}

std::string FromUtf8(const std::string& utf8, const char* charset) {
    iconv_t convert = ::iconv_open(charset, "UTF-8");
    if (convert == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error(std::string("iconv knows no ") + charset);
    std::string in = utf8;
    std::string out(in.size() * 4 + 16, '\0');
    char* inPtr = in.data();
    char* outPtr = out.data();
    std::size_t inLeft = in.size(), outLeft = out.size();
    std::size_t rc = ::iconv(convert, &inPtr, &inLeft, &outPtr, &outLeft);
    ::iconv_close(convert);
    if (rc == static_cast<std::size_t>(-1) || inLeft != 0)
        throw std::runtime_error("text has no " + std::string(charset) + " form: " + utf8);
    out.resize(out.size() - outLeft);
    return out;
}

std::string ToCp936(const std::string& utf8) {
    return FromUtf8(utf8, "CP936");
}
