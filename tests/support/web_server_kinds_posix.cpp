// The three servers the tests run the installer against, by name.

#include "tests/support/apache_server.h"
#include "tests/support/lighttpd_server.h"
#include "tests/support/nginx_server.h"

const char* WebServerName(WebServerKind kind) {
    switch (kind) {
    case WebServerKind::Nginx:
        return "nginx";
    case WebServerKind::Apache:
        return "apache";
    case WebServerKind::Lighttpd:
        return "lighttpd";
    }
    return "?";
}

std::unique_ptr<WebServer> MakeWebServer(WebServerKind kind) {
    switch (kind) {
    case WebServerKind::Nginx:
        return std::make_unique<NginxServer>();
    case WebServerKind::Apache:
        return std::make_unique<ApacheServer>();
    case WebServerKind::Lighttpd:
        return std::make_unique<LighttpdServer>();
    }
    return nullptr;
}

std::string WhyWebServerCannotRun(WebServerKind kind) {
    return kind == WebServerKind::Apache ? ApacheServer::WhyItCannotRun() : std::string();
}
