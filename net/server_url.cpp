#include "net/server_url.h"

#include <cctype>

namespace {

const char kForm[] = "write it as http://host or http://host:port";

bool Refuse(std::string& error, const std::string& why) {
    error = why + "; " + kForm;
    return false;
}

bool IsHostName(const std::string& host) {
    if (host.empty() || !std::isalnum(static_cast<unsigned char>(host[0])))
        return false;
    for (char c : host) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-')
            return false;
    }
    return true;
}

} // namespace

bool ParseServerUrl(const std::string& url, ServerUrl& parsed, std::string& error) {
    const std::string scheme = "http://";
    if (url.rfind("https://", 0) == 0)
        return Refuse(error, "'" + url + "': the installer speaks plain HTTP only");
    if (url.rfind(scheme, 0) != 0)
        return Refuse(error, "'" + url + "' does not start with http://");
    std::string rest = url.substr(scheme.size());
    if (const std::size_t slash = rest.find('/'); slash != std::string::npos) {
        const std::string path = rest.substr(slash);
        if (path == "/")
            return Refuse(error, "'" + url + "' ends in a slash, and the installer adds its own");
        return Refuse(error, "'" + url + "' holds a path (" + path +
                                 "); it names the host alone, so serve the published tree at "
                                 "the server's root");
    }
    if (rest.find('@') != std::string::npos)
        return Refuse(error, "'" + url + "' holds a user name; the installer sends no credentials");
    std::string port;
    if (const std::size_t colon = rest.find(':'); colon != std::string::npos) {
        port = rest.substr(colon + 1);
        rest.resize(colon);
    }
    if (!IsHostName(rest))
        return Refuse(error, "'" + url + "': '" + rest +
                                 "' is no host name (letters, digits, dots and hyphens)");
    parsed.port = 0;
    if (!port.empty() || url.back() == ':') {
        long value = 0;
        if (port.empty() || port.size() > 5 ||
            port.find_first_not_of("0123456789") != std::string::npos ||
            (value = std::stol(port)) < 1 || value > 65535)
            return Refuse(error, "'" + url + "': '" + port + "' is no port number (1 to 65535)");
        parsed.port = static_cast<int>(value);
    }
    parsed.host = rest;
    parsed.hostUrl = scheme + rest;
    return true;
}
