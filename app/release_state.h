#pragma once
// The highest signed release this installation accepted, remembered in the download folder so
// that no one on the way can hand it an older release again.

#include <cstdint>
#include <string>

struct RememberedRelease {
    std::string key; // the release key (base64) the release was accepted under
    std::uint64_t release = 0;
    std::string manifestName;
    std::string manifestMd5; // of the manifest's bytes
};

// The state file's text: "felto-release-state 1", then one "<field> <value>" line each for key,
// release, manifest and md5.
std::string ReleaseStateText(const RememberedRelease& state);
// False for anything but such a text.
bool ParseReleaseState(const std::string& text, RememberedRelease& state);

enum class ReleaseVerdict { Accepted, BelowFloor, Rollback, Replay };
// Whether `offered` may be installed after `remembered` (null: nothing remembered). A state of
// another key does not count: a new installer with a new key starts afresh. The same number
// counts only for the same manifest bytes; the other manifest of the same publish (32/64 bit)
// shares the number.
ReleaseVerdict JudgeRelease(const RememberedRelease* remembered, const RememberedRelease& offered,
                            std::uint64_t floor);

// The state at `path`; false when there is none or it cannot be read or parsed (logged), which
// counts as nothing remembered: a damaged file must never lock a player out.
bool LoadReleaseState(const std::string& path, RememberedRelease& state);
// Writes `temporaryPath` and moves it over `path` in one step; false (logged) when it could not.
bool SaveReleaseState(const std::string& path, const std::string& temporaryPath,
                      const RememberedRelease& state);
