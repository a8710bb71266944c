#include "tests/support/nginx_server.h"

#include <filesystem>

namespace {

std::string NginxBinary() {
    return std::filesystem::exists("/usr/sbin/nginx") ? "/usr/sbin/nginx" : "nginx";
}

} // namespace

std::vector<std::string> NginxServer::Configure(const std::string& prefix, const std::string& root,
                                                int port) {
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
                         "  access_log " +
                         prefix +
                         "/combined.log combined;\n"
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
                         "  gzip off;\n"
                         "  server {\n"
                         "    listen 127.0.0.1:" +
                         std::to_string(port) +
                         ";\n"
                         "    root " +
                         root +
                         ";\n"
                         "    location ~ /\\. { return 404; }\n"
                         "    " +
                         extraConfig_ +
                         "\n"
                         "  }\n"
                         "}\n";
    WriteFile(prefix + "/nginx.conf", config);
    return {NginxBinary(),          "-p", prefix + "/",         "-c",
            prefix + "/nginx.conf", "-e", prefix + "/error.log"};
}
