#pragma once
// The servers a download may use: the first (strServerUrl on the settings' port), then the
// fall-back servers of the settings, in turn. Objects are named by their MD5 and checked, so any
// server may serve them; a failed attempt moves on to the next server, and the server that
// served last is where the next download starts.

#include <cstddef>
#include <string>

std::size_t ServerCount();
// The base URL of server `index` (0: strServerUrl), no trailing "/".
std::string ServerBase(std::size_t index);
// The one after `index`, back to the first after the last.
std::size_t NextServer(std::size_t index);
// Where a download that may use any server starts: the one that served last (the first at the
// start of a run).
std::size_t PreferredServer();
void ServerServed(std::size_t index);
// True when the program was built with fall-back servers; only then does the log name the
// server of each attempt.
bool HasFallbackServers();

// "name:port" as a URL's host part may be: the name, and the port when one is given (else
// `port` is left alone). False for a port that is not 1 to 65535.
bool SplitHostPort(const std::string& host, std::string& name, int& port);
