#pragma once
// A one-line description of the running system for the log, and whether it is 64-bit.

#include "platform/platform.h"

#include <cstddef>

// Builds the description into `text` (capacity at least 256 bytes; the text is cut at 255).
// False when the system is not described; `text` is then left as passed.
bool DescribeOperatingSystem(char* text, bool& is64Bit);

// The Windows decision tables alone, on a version record.
bool DescribeWindowsVersion(const platform::OsVersionRecord& record, char* text, bool& is64Bit);
