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
    // The configuration a studio's virtual host needs, on top of Debian's defaults.
    std::string config = "ServerRoot \"" + prefix + "\"\n" + "DefaultRuntimeDir \"" + prefix +
                         "\"\n" + "PidFile \"" + prefix + "/apache.pid\"\n" +
                         "Mutex file:" + prefix + " default\n" + "LoadModule mpm_event_module " +
                         kModules + "/mod_mpm_event.so\n" + "LoadModule authz_core_module " +
                         kModules + "/mod_authz_core.so\n" +
                         "User www-data\n"
                         "Group www-data\n"
                         "ServerName 127.0.0.1\n"
                         "Listen 127.0.0.1:" +
                         std::to_string(port) + "\n" + "ErrorLog \"" + prefix +
                         "/error.log\"\n"
                         "LogFormat \"%r \\\"%{Range}i\\\" %>s %B\" felto\n"
                         "CustomLog \"" +
                         prefix + "/access.log\" felto\n" + "DocumentRoot \"" + root + "\"\n" +
                         "<Directory \"" + root + "\">\n" +
                         "  Options None\n"
                         "  AllowOverride None\n"
                         "  Require all granted\n"
                         "</Directory>\n";
    WriteFile(prefix + "/apache2.conf", config);
    return {"/usr/sbin/apache2", "-f", prefix + "/apache2.conf", "-DFOREGROUND"};
}
