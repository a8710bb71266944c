#include "net/engine_settings.h"

#ifndef FELTO_SERVER_URL
#define FELTO_SERVER_URL "http://127.0.0.1"
#endif
#ifndef FELTO_SERVER_PORT
#define FELTO_SERVER_PORT 80
#endif

const std::string strServerUrl = FELTO_SERVER_URL;

namespace {
EngineSettings g_settings = {
    FELTO_SERVER_PORT,
    30000, // connect: a reachable server answers in well under a second
    30000, // receive: long enough for a busy server, short enough that a player is not stuck
    3000,  // pause before a repeated attempt
    1000,  // pause after each successful repair download
    30000, // response head: a server taking longer is not going to deliver a file either
    30000, // body window: three attempts of it still end a run within about two minutes
    1024,  //   bytes in it: even a poor link brings that many in a second
};
} // namespace

const EngineSettings& GetEngineSettings() {
    return g_settings;
}

void UseServerPortInTools(int port) {
    g_settings.port = port;
}

void OverrideEngineSettingsForTesting(const EngineSettings& settings) {
    g_settings = settings;
}
