#pragma once
// Lines of a web server's access log in the "combined" format that nginx and Apache write by
// default: host ident user [day/Mon/year:hh:mm:ss zone] "METHOD target VERSION" status bytes
// "referer" "agent". Files may be plain or gzip.

#include <functional>
#include <string>

namespace publish {

struct AccessLine {
    std::string date;   // YYYY-MM-DD, as the server's clock had it
    std::string target; // the request target: path and query
    int status = 0;
};

// False when `line` is not a combined-format line.
bool ParseCombinedLine(const std::string& line, AccessLine& parsed);

// Calls `each` for every line of the file (its line end taken off), gzip or not. False, with
// `error`, when the file cannot be read to its end.
bool ReadLogLines(const std::string& path, const std::function<void(const std::string&)>& each,
                  std::string& error);

} // namespace publish
