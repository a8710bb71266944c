#pragma once
// What the tests look for in the texts a run leaves: logs, standard error, access logs.

#include <string>
#include <vector>

// How many times `what` stands in `text`, overlapping ones included.
int CountOf(const std::string& text, const std::string& what);

// The messages of a log, in order: each entry without its timestamp, the blank after it and the
// line ends that close it (LF LF, or CR LF CR LF in a log the Windows program wrote).
std::vector<std::string> LogMessages(const std::string& log);
// The position of the first message that begins with `start`, at or after `from`; -1 when none.
int FindMessage(const std::vector<std::string>& messages, const std::string& start, int from = 0);
