// URL splitting and the byte-string helpers against what they promise, on any bytes a manifest
// line could carry.

#include "fuzz/fuzz_support.h"
#include "net/url.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

bool IsWhite(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

std::string ReferenceTrim(const std::string& s) {
    std::size_t first = 0;
    while (first < s.size() && IsWhite(s[first]))
        ++first;
    std::size_t last = s.size();
    while (last > first && IsWhite(s[last - 1]))
        --last;
    return s.substr(first, last - first);
}

void CheckHelpers(const std::string& text, std::size_t n) {
    std::string left = text, right = text;
    TrimLeft(left);
    TrimRight(right);
    std::string both = left;
    TrimRight(both);
    FUZZ_CHECK(both == ReferenceTrim(text), text);
    FUZZ_CHECK(left.empty() || !IsWhite(left.front()), text);
    FUZZ_CHECK(text.size() >= left.size() &&
                   text.compare(text.size() - left.size(), left.size(), left) == 0,
               text);
    FUZZ_CHECK(right.empty() || !IsWhite(right.back()), text);
    FUZZ_CHECK(text.compare(0, right.size(), right) == 0, text);

    std::string l = Left(text, n), r = Right(text, n);
    std::size_t expected = n < text.size() ? n : text.size();
    FUZZ_CHECK(l.size() == expected && text.compare(0, l.size(), l) == 0, text);
    FUZZ_CHECK(r.size() == expected && text.compare(text.size() - r.size(), r.size(), r) == 0,
               text);

    std::string tail = text;
    TailFrom(tail, n);
    if (!text.empty() && n < text.size() - 1)
        FUZZ_CHECK(tail == text.substr(n), text);
    else
        FUZZ_CHECK(tail.empty(), text);
}

void CheckSplit(const std::string& url) {
    UrlParts parts = SplitUrl(url);
    std::string trimmed = ReferenceTrim(url);
    // The two halves of the request target are the whole URL, cut at its last slash.
    FUZZ_CHECK(parts.urlDir + parts.fileName == trimmed, url);
    FUZZ_CHECK(parts.fileName.find('/') == std::string::npos, url);
    FUZZ_CHECK(parts.urlDir.empty() || parts.urlDir.back() == '/', url);
    FUZZ_CHECK(parts.urlDir.empty() == (trimmed.find('/') == std::string::npos), url);
    // The host is a piece of the URL without any slash: what is connected to and named in Host.
    FUZZ_CHECK(parts.host.find('/') == std::string::npos, url);
    FUZZ_CHECK(trimmed.find(parts.host) != std::string::npos, url);
    std::size_t scheme = trimmed.find("http://");
    if (scheme != std::string::npos && scheme + 8 < trimmed.size()) {
        std::string rest = trimmed.substr(scheme + 7);
        FUZZ_CHECK(parts.host == rest.substr(0, rest.find('/')), url);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    QuietLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first byte picks the count for Left, Right and TailFrom; the rest is the text.
    std::size_t n = size > 0 ? data[0] : 0;
    std::string text(reinterpret_cast<const char*>(data) + (size > 0 ? 1 : 0),
                     size > 0 ? size - 1 : 0);
    CheckHelpers(text, n % (text.size() + 3));
    CheckSplit(text);
    CheckSplit("http://127.0.0.1/" + text);
    return 0;
}
