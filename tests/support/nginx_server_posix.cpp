#include "tests/support/nginx_server.h"

#include <arpa/inet.h>
#include <filesystem>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kStartTimeoutMs = 10000;

// A port nobody listens on right now. Another program may take it before nginx does, so Start
// tries again with a fresh one when nginx cannot bind.
int FreeLoopbackPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool Accepts(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

std::string NginxBinary() {
    return std::filesystem::exists("/usr/sbin/nginx") ? "/usr/sbin/nginx" : "nginx";
}

} // namespace

NginxServer::~NginxServer() {
    Stop();
}

bool NginxServer::Start(const std::string& root, int port) {
    Stop();
    if (port != 0)
        return StartOn(root, port);
    for (int attempt = 0; attempt < 5; ++attempt) {
        int candidate = FreeLoopbackPort();
        if (candidate != 0 && StartOn(root, candidate))
            return true;
    }
    return false;
}

bool NginxServer::StartOn(const std::string& root, int port) {
    prefix_ = std::make_unique<TempDir>();
    const std::string& prefix = prefix_->path();
    std::filesystem::create_directories(prefix + "/temp");
    // "user root" keeps the temp folders owned by the running user: as root of a user
    // namespace nginx could not hand them to "nobody", who does not exist there.
    std::string config = "daemon off;\n"
                         "master_process off;\n"
                         "worker_processes 1;\n"
                         "user root;\n"
                         "pid " +
                         prefix +
                         "/nginx.pid;\n"
                         "lock_file " +
                         prefix +
                         "/nginx.lock;\n"
                         "error_log " +
                         prefix +
                         "/error.log;\n"
                         "events { worker_connections 256; }\n"
                         "http {\n"
                         "  log_format felto '$request \"$http_range\" $status $body_bytes_sent';\n"
                         "  access_log " +
                         prefix +
                         "/access.log felto;\n"
                         "  client_body_temp_path " +
                         prefix +
                         "/temp/body;\n"
                         "  proxy_temp_path " +
                         prefix +
                         "/temp/proxy;\n"
                         "  fastcgi_temp_path " +
                         prefix +
                         "/temp/fastcgi;\n"
                         "  uwsgi_temp_path " +
                         prefix +
                         "/temp/uwsgi;\n"
                         "  scgi_temp_path " +
                         prefix +
                         "/temp/scgi;\n"
                         "  types { }\n"
                         "  default_type application/octet-stream;\n"
                         "  sendfile on;\n"
                         "  server {\n"
                         "    listen 127.0.0.1:" +
                         std::to_string(port) +
                         ";\n"
                         "    root " +
                         root +
                         ";\n"
                         "    " +
                         extraConfig_ +
                         "\n"
                         "  }\n"
                         "}\n";
    WriteFile(prefix + "/nginx.conf", config);

    ChildOptions options;
    options.workingDir = prefix;
    process_ = std::make_unique<RunningChild>(
        std::vector<std::string>{NginxBinary(), "-p", prefix + "/", "-c", prefix + "/nginx.conf",
                                 "-e", prefix + "/error.log"},
        options);
    bool exited = false;
    bool up = WaitUntil(kStartTimeoutMs, [&] {
        ChildResult result;
        exited = process_->Wait(0, result);
        return exited || Accepts(port);
    });
    if (!up || exited) {
        process_.reset(); // kills it when still running
        return false;
    }
    port_ = port;
    return true;
}

void NginxServer::Stop() {
    process_.reset();
    port_ = 0;
}

std::string NginxServer::AccessLog() const {
    return prefix_ ? ReadFile(prefix_->path() + "/access.log") : std::string();
}

std::string NginxServer::ErrorLog() const {
    return prefix_ ? ReadFile(prefix_->path() + "/error.log") : std::string();
}
