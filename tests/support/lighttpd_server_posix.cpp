#include "tests/support/lighttpd_server.h"

#include <filesystem>

// The access log goes through a pipe: lighttpd writes a log file only in large blocks, so a test
// would not see the requests it has just made.
std::vector<std::string> LighttpdServer::Configure(const std::string& prefix,
                                                   const std::string& root, int port) {
    const std::string text = R"(server.document-root = "@ROOT@"
server.bind = "127.0.0.1"
server.port = @PORT@
server.errorlog = "@PREFIX@/error.log"
server.modules = ("mod_access", "mod_accesslog")
$HTTP["url"] =~ "/\." { url.access-deny = ("") }
accesslog.filename = "|/bin/cat >>@PREFIX@/access.log"
accesslog.format = "%r \"%{Range}i\" %>s %b"
)";
    const std::string config =
        Fill(text, {{"@PREFIX@", prefix}, {"@ROOT@", root}, {"@PORT@", std::to_string(port)}});
    WriteFile(prefix + "/lighttpd.conf", config);
    const std::string binary =
        std::filesystem::exists("/usr/sbin/lighttpd") ? "/usr/sbin/lighttpd" : "lighttpd";
    return {binary, "-D", "-f", prefix + "/lighttpd.conf"};
}
