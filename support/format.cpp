#include "support/format.h"

#include <cstdio>

std::string FormatStringV(const char* format, va_list args) {
    char buffer[kFormatBufferSize] = {};
    int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    if (n < 0)
        return std::string();
    return std::string(buffer, n < kFormatBufferSize ? n : kFormatBufferSize - 1);
}

std::string FormatString(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatStringV(format, args);
    va_end(args);
    return text;
}

void FormatInto(std::string& target, const char* format, ...) {
    va_list args;
    va_start(args, format);
    target = FormatStringV(format, args);
    va_end(args);
}
