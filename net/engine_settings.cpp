#include "net/engine_settings.h"

#ifndef FELTO_SERVER_URL
#define FELTO_SERVER_URL "http://127.0.0.1"
#endif
#ifndef FELTO_SERVER_PORT
#define FELTO_SERVER_PORT 80
#endif
// The pace that spares the server: one download at a time, a second's rest after each.
#ifndef FELTO_DOWNLOAD_PAUSE_MS
#define FELTO_DOWNLOAD_PAUSE_MS 1000
#endif
#ifndef FELTO_COPY_PAUSE_MS
#define FELTO_COPY_PAUSE_MS 100
#endif
#ifndef FELTO_PARALLEL_DOWNLOADS
#define FELTO_PARALLEL_DOWNLOADS 1
#endif
// Bases separated by blanks; configure checks each one.
#ifndef FELTO_FALLBACK_SERVERS
#define FELTO_FALLBACK_SERVERS ""
#endif
#ifndef FELTO_REPORT_PATH
#define FELTO_REPORT_PATH ""
#endif
#ifndef FELTO_VERSION_TEXT
#define FELTO_VERSION_TEXT "1.0.0.0"
#endif
#ifndef FELTO_LEAN_TRANSFER
#define FELTO_LEAN_TRANSFER 0
#endif
#ifndef FELTO_CHUNKED_UPDATES
#define FELTO_CHUNKED_UPDATES 0
#endif
static_assert(FELTO_DOWNLOAD_PAUSE_MS >= 0 && FELTO_COPY_PAUSE_MS >= 0,
              "pauses are milliseconds, 0 or more");
#define FELTO_NO_RESTS                                                                             \
    (FELTO_LEAN_TRANSFER != 0 && FELTO_DOWNLOAD_PAUSE_MS == 0 && FELTO_COPY_PAUSE_MS == 0)
static_assert(FELTO_PARALLEL_DOWNLOADS >= 1 && FELTO_PARALLEL_DOWNLOADS <= 8,
              "from 1 to 8 parallel downloads");

const std::string strServerUrl = FELTO_SERVER_URL;

namespace {
// Split by hand: a string stream would bring the stream library's locales into the program.
std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::size_t at = 0;
    while ((at = text.find_first_not_of(' ', at)) != std::string::npos) {
        std::size_t end = text.find(' ', at);
        words.push_back(text.substr(at, end - at));
        at = end;
    }
    return words;
}

EngineSettings g_settings = {
    FELTO_SERVER_PORT,
    30000, // connect: a reachable server answers in well under a second
    30000, // receive: long enough for a busy server, short enough that a player is not stuck
    3000,  // pause before a repeated attempt
    FELTO_DOWNLOAD_PAUSE_MS,
    FELTO_COPY_PAUSE_MS,
    FELTO_PARALLEL_DOWNLOADS,
    30000, // response head: a server taking longer is not going to deliver a file either
    30000, // body window: three attempts of it still end a run within about two minutes
    1024,  //   bytes in it: even a poor link brings that many in a second
    Words(FELTO_FALLBACK_SERVERS),
    FELTO_REPORT_PATH,
    2000, // the report: a player never waits longer for it
    FELTO_VERSION_TEXT,
    FELTO_LEAN_TRANSFER != 0,
    FELTO_NO_RESTS ? 0 : 100,
    FELTO_NO_RESTS ? 0 : 200,
    FELTO_CHUNKED_UPDATES != 0,
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
