#pragma once
// What every fuzz target shares: a scratch folder of its own and a log that does not grow.

#include <cstddef>
#include <cstdint>
#include <string>

// A folder for this process's scratch files, made on first use.
const std::string& ScratchDir();
// Points the installer's log into the scratch folder (it is never the player's log).
void QuietLog();
// Empties the log, so a long run does not fill the disk with the same lines.
void ForgetLog();
// The whole file, as bytes.
void WriteBytes(const std::string& path, const std::uint8_t* data, std::size_t size);

// Ends the process with a message naming the broken promise; libFuzzer keeps the input.
[[noreturn]] void Broken(const char* what, const std::string& detail = std::string());
#define FUZZ_CHECK(condition, detail)                                                              \
    do {                                                                                           \
        if (!(condition))                                                                          \
            Broken(#condition, detail);                                                            \
    } while (0)
