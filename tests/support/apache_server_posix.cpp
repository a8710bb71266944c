#include "tests/support/apache_server.h"

#include <filesystem>
#include <pwd.h>
#include <unistd.h>

namespace {

const char kModules[] = "/usr/lib/apache2/modules";

// The initial user namespace maps every user id to itself.
bool InInitialUserNamespace() {
    return ReadFile("/proc/self/uid_map").find("4294967295") != std::string::npos;
}

} // namespace

std::string ApacheServer::WhyItCannotRun() {
    if (!std::filesystem::exists("/usr/sbin/apache2"))
        return "Apache httpd (apache2) is not installed";
    if (::geteuid() != 0 || !InInitialUserNamespace())
        return "Apache switches to its own user, which needs real root outside a user namespace";
    if (!::getpwnam("www-data"))
        return "there is no user www-data for Apache to serve as";
    return std::string();
}

std::vector<std::string> ApacheServer::Configure(const std::string& prefix, const std::string& root,
                                                 int port) {
    // What a studio's virtual host says (see the README), around the test's own files and port.
    const std::string text = R"(ServerRoot "@PREFIX@"
DefaultRuntimeDir "@PREFIX@"
PidFile "@PREFIX@/apache.pid"
Mutex file:@PREFIX@ default
LoadModule mpm_event_module @MODULES@/mod_mpm_event.so
LoadModule authz_core_module @MODULES@/mod_authz_core.so
LoadModule env_module @MODULES@/mod_env.so
User www-data
Group www-data
ServerName 127.0.0.1
Listen 127.0.0.1:@PORT@
ErrorLog "@PREFIX@/error.log"
LogFormat "%r \"%{Range}i\" %>s %B" felto
CustomLog "@PREFIX@/access.log" felto
LogFormat "%h %l %u %t \"%r\" %>s %b \"%{Referer}i\" \"%{User-Agent}i\"" combined
CustomLog "@PREFIX@/combined.log" combined
DocumentRoot "@ROOT@"
<Directory "@ROOT@">
    Options None
    AllowOverride None
    Require all granted
</Directory>
<LocationMatch "/\.">
    Require all denied
</LocationMatch>
SetEnv no-gzip 1
)";
    const std::string config = Fill(text, {{"@PREFIX@", prefix},
                                           {"@ROOT@", root},
                                           {"@MODULES@", kModules},
                                           {"@PORT@", std::to_string(port)}});
    WriteFile(prefix + "/apache2.conf", config);
    return {"/usr/sbin/apache2", "-f", prefix + "/apache2.conf", "-DFOREGROUND"};
}
