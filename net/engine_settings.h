#pragma once
// The download engine's fixed values. They are constants of the program; tests shorten them
// through the one seam below, never by waiting the real time. The studio's pace (the two pauses
// and the parallel downloads) is chosen when the program is built.

#include <string>
#include <vector>

// Base URL of the download server (FELTO_SERVER_URL), no trailing "/". A studio builds its
// installer for its own server; the port is in the settings below.
extern const std::string strServerUrl;

struct EngineSettings {
    int port;                 // the download server's port (FELTO_SERVER_PORT)
    int connectTimeoutMs;     // a connect that takes longer counts as failed
    int receiveTimeoutMs;     // a receive that stalls longer counts as a failed receive
    int retryPauseMs;         // pause before each repeated download attempt
    int afterDownloadPauseMs; // pause after each successful repair download
    int copyPauseMs;          // pause before each fetched file is copied into place
    int parallelDownloads;    // listed objects fetched at the same time (1 to 8)
    // A trickling server keeps every receive inside its time-out; these end such a connection.
    int headTimeoutMs; // the whole response head must arrive within this after the request
    int slowWindowMs;  // the body must bring at least slowWindowBytes in every such window
    int slowWindowBytes;
    // Servers tried after the first, in turn, when an attempt fails (FELTO_FALLBACK_SERVERS):
    // "http://host[:port]" bases; a base without a port is reached on `port`, as the first is.
    // Empty: every attempt goes to the one server, and the log never names it.
    std::vector<std::string> fallbackServers;
    // Below the manifest's server, the path a run's outcome is reported to (FELTO_REPORT_PATH);
    // empty: nothing is sent.
    std::string reportPath;
    int reportLimitMs;            // the whole report, name look-up to answer
    std::string installerVersion; // FELTO_VERSION, as the report names it
    // The studio's lean transfer (FELTO_LEAN_TRANSFER): objects sized by the manifest, closed
    // ranges over connections kept open. Off, the engine sends and logs what it always has.
    bool leanTransfer;
    // The install's own rests: before it starts, and before it unpacks what it fetched. None in a
    // lean build whose studio asked for no pauses at all.
    int startPauseMs;
    int unpackPauseMs;
    // A listed file with a chunk list is brought up to date from the chunks its installed copy
    // lacks (FELTO_CHUNKED_UPDATES); the whole object is fetched only when that fails.
    bool chunkedUpdates;
};

const EngineSettings& GetEngineSettings();

// For the studio's tools (felto-publish check), which ask a server of their choosing as an
// installer built for it would; the installer itself never calls it.
void UseServerPortInTools(int port);

// Test seam: replaces the settings for the rest of the process.
void OverrideEngineSettingsForTesting(const EngineSettings& settings);
