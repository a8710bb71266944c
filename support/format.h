#pragma once
// printf-style text building used by every part of the installer. Results are cut at 4095
// bytes; nothing overruns and nothing stops the process.

#include <cstdarg>
#include <string>

#if defined(__clang__)
#define FELTO_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define FELTO_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#endif

constexpr int kFormatBufferSize = 4096;

std::string FormatString(const char* format, ...) FELTO_PRINTF(1, 2);
void FormatInto(std::string& target, const char* format, ...) FELTO_PRINTF(2, 3);
std::string FormatStringV(const char* format, va_list args);
