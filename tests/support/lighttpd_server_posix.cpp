#include "tests/support/lighttpd_server.h"

#include <filesystem>

// The access log goes through a pipe: lighttpd writes a log file only in large blocks, so a test
// would not see the requests it has just made.
std::vector<std::string> LighttpdServer::Configure(const std::string& prefix,
                                                   const std::string& root, int port) {
    std::string config = "server.document-root = \"" + root + "\"\n" +
                         "server.bind = \"127.0.0.1\"\n" + "server.port = " + std::to_string(port) +
                         "\n" + "server.errorlog = \"" + prefix + "/error.log\"\n" +
                         "server.modules = (\"mod_accesslog\")\n" +
                         "accesslog.filename = \"|/bin/cat >>" + prefix + "/access.log\"\n" +
                         "accesslog.format = \"%r \\\"%{Range}i\\\" %>s %b\"\n";
    WriteFile(prefix + "/lighttpd.conf", config);
    const std::string binary =
        std::filesystem::exists("/usr/sbin/lighttpd") ? "/usr/sbin/lighttpd" : "lighttpd";
    return {binary, "-D", "-f", prefix + "/lighttpd.conf"};
}
