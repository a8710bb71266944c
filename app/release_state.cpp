#include "app/release_state.h"

#include "manifest/manifest_signature.h"
#include "platform/platform.h"
#include "support/log.h"

#include <cstdio>

namespace {

constexpr char kFirstLine[] = "felto-release-state 1";
// Far more than the four short lines; a larger file is no state of ours.
constexpr long kStateLimit = 4096;

bool ReadState(const std::string& path, std::string& text) {
    std::FILE* file = platform::OpenShared(path, "rb");
    if (!file)
        return false;
    char buffer[kStateLimit + 1];
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, file);
    const bool ok = !std::ferror(file) && got <= static_cast<std::size_t>(kStateLimit);
    std::fclose(file);
    text.assign(buffer, got);
    return ok;
}

} // namespace

std::string ReleaseStateText(const RememberedRelease& state) {
    return std::string(kFirstLine) + "\nkey " + state.key + "\nrelease " +
           std::to_string(state.release) + "\nmanifest " + state.manifestName + "\nmd5 " +
           state.manifestMd5 + "\n";
}

bool ParseReleaseState(const std::string& text, RememberedRelease& state) {
    const char* const fields[] = {"key ", "release ", "manifest ", "md5 "};
    std::string release;
    std::string* const values[] = {&state.key, &release, &state.manifestName, &state.manifestMd5};
    std::size_t at = 0;
    // The next whole line (without its LF) at `at`.
    auto nextLine = [&](std::string& line) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            return false;
        line = text.substr(at, end - at);
        at = end + 1;
        return true;
    };
    std::string line;
    if (!nextLine(line) || line != kFirstLine)
        return false;
    for (int i = 0; i < 4; ++i) {
        const std::string field = fields[i];
        if (!nextLine(line) || line.compare(0, field.size(), field) != 0 ||
            line.size() == field.size())
            return false;
        *values[i] = line.substr(field.size());
    }
    return ParseReleaseNumber(release, state.release) && at == text.size();
}

ReleaseVerdict JudgeRelease(const RememberedRelease* remembered, const RememberedRelease& offered,
                            std::uint64_t floor) {
    if (offered.release < floor)
        return ReleaseVerdict::BelowFloor;
    if (!remembered || remembered->key != offered.key)
        return ReleaseVerdict::Accepted;
    if (offered.release < remembered->release)
        return ReleaseVerdict::Rollback;
    if (offered.release == remembered->release &&
        offered.manifestName == remembered->manifestName &&
        offered.manifestMd5 != remembered->manifestMd5)
        return ReleaseVerdict::Replay;
    return ReleaseVerdict::Accepted;
}

bool LoadReleaseState(const std::string& path, RememberedRelease& state) {
    if (platform::QueryPath(path) == platform::PathKind::Missing)
        return false;
    std::string text;
    if (ReadState(path, text) && ParseReleaseState(text, state))
        return true;
    WriteLog("the release state cannot be read and is ignored (nothing remembered): " + path);
    return false;
}

bool SaveReleaseState(const std::string& path, const std::string& temporary,
                      const RememberedRelease& state) {
    const std::string text = ReleaseStateText(state);
    std::FILE* file = platform::OpenShared(temporary, "wb");
    bool written = file && std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (file)
        written = std::fclose(file) == 0 && written;
    if (written && platform::MoveFileOver(temporary, path))
        return true;
    WriteLogErrno(("cannot save the release state: " + path).c_str());
    platform::RemoveFile(temporary);
    return false;
}
