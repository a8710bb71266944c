#pragma once
// The one rule for the download server's URL, the same the build applies to FELTO_SERVER_URL:
// "http://host" or "http://host:port". The engine takes everything after "http://" up to the
// next "/" as the host name it resolves, so nothing else may stand there.

#include <string>

struct ServerUrl {
    std::string hostUrl; // "http://host": what the installer is built with
    std::string host;
    int port = 0; // the URL's port; 0 when it names none
};

// False with `error` saying what is wrong and how to write it.
bool ParseServerUrl(const std::string& url, ServerUrl& parsed, std::string& error);
