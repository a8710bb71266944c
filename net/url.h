#pragma once
// URL splitting and the small byte-string helpers the HTTP layer is built from.
// White space is 0x09-0x0D and 0x20; a byte of 0x80 or above (a double-byte character of code
// page 936 is stepped over whole) never is.

#include <string>

void TrimLeft(std::string& s);
void TrimRight(std::string& s);
std::string Left(const std::string& s, std::size_t n);
std::string Right(const std::string& s, std::size_t n);
// s becomes its tail from pos; empty when pos >= length - 1 (so one last byte is not kept).
void TailFrom(std::string& s, std::size_t pos);

struct UrlParts {
    std::string host;     // text between "http://" and the next "/"
    std::string urlDir;   // everything through the last "/", scheme and host included
    std::string fileName; // everything after the last "/"
};
UrlParts SplitUrl(std::string url);
