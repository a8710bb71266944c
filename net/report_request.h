#pragma once
// One GET of a report, sent and forgotten: no retry, no body kept, nothing logged. Its caller
// bounds how long it waits.

#include <string>

// Sends "GET <target> HTTP/1.1" to the server of `base` ("http://host[:port]"; without a port,
// the settings' port) and reads the answer's status line within `limitMs` for each step.
// The status (404 from a static server is the usual answer), or 0 when none was read.
int SendReportRequest(const std::string& base, const std::string& target, int limitMs);
