#include "access_log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <zlib.h>

namespace publish {

namespace {

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool AllDigits(const std::string& text, std::size_t from, std::size_t count) {
    if (from + count > text.size())
        return false;
    for (std::size_t i = from; i < from + count; ++i)
        if (text[i] < '0' || text[i] > '9')
            return false;
    return true;
}

// "08/Dec/2026:11:36:01 +0000" to "2026-12-08".
bool ParseTime(const std::string& time, std::string& date) {
    if (time.size() != 26 || !AllDigits(time, 0, 2) || time[2] != '/' || time[6] != '/' ||
        !AllDigits(time, 7, 4) || time[11] != ':' || !AllDigits(time, 12, 2) ||
        !AllDigits(time, 15, 2) || !AllDigits(time, 18, 2) || time[20] != ' ' ||
        (time[21] != '+' && time[21] != '-') || !AllDigits(time, 22, 4))
        return false;
    for (int month = 0; month < 12; ++month) {
        if (time.compare(3, 3, kMonths[month]) == 0) {
            char text[11];
            std::snprintf(text, sizeof text, "%s-%02d-%s", time.substr(7, 4).c_str(), month + 1,
                          time.substr(0, 2).c_str());
            date = text;
            return true;
        }
    }
    return false;
}

// A quoted field at `at` (which must be '"'); nginx and Apache escape a quote inside as \".
bool QuotedField(const std::string& line, std::size_t& at, std::string& field) {
    if (at >= line.size() || line[at] != '"')
        return false;
    field.clear();
    for (++at; at < line.size(); ++at) {
        if (line[at] == '\\' && at + 1 < line.size()) {
            field += line[++at];
        } else if (line[at] == '"') {
            ++at;
            return true;
        } else {
            field += line[at];
        }
    }
    return false;
}

} // namespace

bool ParseCombinedLine(const std::string& line, AccessLine& parsed) {
    // host, ident, user: three fields without blanks.
    std::size_t at = 0;
    for (int i = 0; i < 3; ++i) {
        std::size_t blank = line.find(' ', at);
        if (blank == std::string::npos || blank == at)
            return false;
        at = blank + 1;
    }
    if (at >= line.size() || line[at] != '[')
        return false;
    std::size_t close = line.find(']', at);
    if (close == std::string::npos || !ParseTime(line.substr(at + 1, close - at - 1), parsed.date))
        return false;
    at = close + 1;
    if (at >= line.size() || line[at] != ' ')
        return false;
    ++at;
    std::string request;
    if (!QuotedField(line, at, request))
        return false;
    // METHOD target VERSION; a request the server could not read is logged as it came ("-",
    // or bytes that are no request line): a foreign request, never a report.
    std::size_t first = request.find(' ');
    std::size_t last = request.rfind(' ');
    parsed.target = first == std::string::npos || last == first
                        ? std::string()
                        : request.substr(first + 1, last - first - 1);
    // " status bytes "
    if (at + 5 > line.size() || line[at] != ' ' || !AllDigits(line, at + 1, 3))
        return false;
    parsed.status = std::atoi(line.substr(at + 1, 3).c_str());
    at += 4;
    if (at >= line.size() || line[at] != ' ')
        return false;
    std::size_t bytesEnd = line.find(' ', at + 1);
    if (bytesEnd == std::string::npos)
        return false;
    const std::string bytes = line.substr(at + 1, bytesEnd - at - 1);
    if (bytes != "-" && (bytes.empty() || !AllDigits(bytes, 0, bytes.size())))
        return false;
    at = bytesEnd + 1;
    std::string referer, agent;
    if (!QuotedField(line, at, referer) || at >= line.size() || line[at] != ' ')
        return false;
    ++at;
    // Apache may add fields after the agent (combinedio and the like): they are not ours.
    return QuotedField(line, at, agent);
}

bool ReadLogLines(const std::string& path, const std::function<void(const std::string&)>& each,
                  std::string& error) {
    // zlib reads a plain file as it is and a gzip file unpacked.
    gzFile file = gzopen(path.c_str(), "rb");
    if (!file) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    std::string line;
    char buffer[65536];
    int read = 0;
    while ((read = gzread(file, buffer, sizeof buffer)) > 0) {
        for (int i = 0; i < read; ++i) {
            if (buffer[i] == '\n') {
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                each(line);
                line.clear();
            } else {
                line += buffer[i];
            }
        }
    }
    bool ok = read == 0;
    if (!ok) {
        int code = 0;
        const char* text = gzerror(file, &code);
        error = path + ": " + (code == Z_ERRNO ? std::strerror(errno) : text);
    }
    if (!line.empty())
        each(line);
    gzclose(file);
    return ok;
}

} // namespace publish
