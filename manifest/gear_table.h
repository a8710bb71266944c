#pragma once
// The rolling hash's byte values for content-defined chunk boundaries (manifest/chunker.h).

#include <cstdint>

extern const std::uint64_t kGearTable[256];
