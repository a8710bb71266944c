#include "net/url.h"

namespace {

// A double-byte character of code page 936 never has a byte in this set, so looking at single
// bytes gives the same answer as stepping through whole characters.
const char kWhiteSpace[] = " \t\n\v\f\r";

} // namespace

void TrimLeft(std::string& s) {
    std::size_t first = s.find_first_not_of(kWhiteSpace);
    s.erase(0, first == std::string::npos ? s.size() : first);
}

void TrimRight(std::string& s) {
    std::size_t last = s.find_last_not_of(kWhiteSpace);
    s.erase(last == std::string::npos ? 0 : last + 1);
}

std::string Left(const std::string& s, std::size_t n) {
    return n < s.size() ? s.substr(0, n) : s;
}

std::string Right(const std::string& s, std::size_t n) {
    return n < s.size() ? s.substr(s.size() - n) : s;
}

void TailFrom(std::string& s, std::size_t pos) {
    if (!s.empty() && pos < s.size() - 1)
        s.erase(0, pos);
    else
        s.clear();
}

UrlParts SplitUrl(std::string url) {
    TrimLeft(url);
    TrimRight(url);

    std::string hostWork = url;
    std::size_t scheme = hostWork.find("http://");
    if (scheme != std::string::npos)
        TailFrom(hostWork, scheme + 7);

    UrlParts parts;
    parts.host = Left(hostWork, hostWork.find('/'));
    // Without any "/" the directory is empty and the whole URL is the file name.
    std::size_t lastSlash = url.rfind('/');
    std::size_t dirLength = lastSlash == std::string::npos ? 0 : lastSlash + 1;
    parts.urlDir = Left(url, dirLength);
    parts.fileName = Right(url, url.size() - dirLength);
    return parts;
}
