#include "manifest/digest_text.h"

std::string NormalDigest(const std::string& text) {
    if (text.size() != 32)
        return text;
    std::string lower = text;
    for (char& c : lower) {
        if (c >= 'A' && c <= 'F')
            c = static_cast<char>(c - 'A' + 'a');
        else if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return text;
    }
    return lower;
}

bool SameDigest(const std::string& a, const std::string& b) {
    return NormalDigest(a) == NormalDigest(b);
}
