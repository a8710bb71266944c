#include "app/release_signature.h"

#include "app/field_report.h"
#include "app/installer_state.h"
#include "app/manifest_fetch.h"
#include "app/messages.h"
#include "app/release_state.h"
#include "manifest/manifest_file.h"
#include "manifest/manifest_signature.h"
#include "manifest/md5.h"
#include "manifest/release_key.h"
#include "net/download_worker.h"
#include "net/incoming_folder.h"
#include "support/log.h"

#include <ctime>

namespace {

constexpr int kSignatureRefused = 106;
// The extra value tells the refusals apart from a damaged manifest and from each other.
constexpr int kBadSignature = 1;
constexpr int kRolledBack = 2;
constexpr int kNumberReused = 3;
constexpr int kBelowFloor = 4;
constexpr int kExpired = 5;
// Player clocks are wrong more often than servers: a signature counts this long past its expiry.
constexpr std::int64_t kExpiryGraceSeconds = 3 * 24 * 60 * 60;

std::string ReleaseText(std::uint64_t release) {
    return std::to_string(release);
}

[[noreturn]] void RefuseRelease(const std::string& why, int extra) {
    WriteLog(why);
    FailWith(kSignatureRefused, extra);
}

void CheckSignature(const std::string& key, const FileEntry& manifest, const FileEntry& signature,
                    ReleaseStamp& stamp) {
    switch (CheckManifestSignature(key, manifest.strName, manifest.strIncomingPath,
                                   signature.strIncomingPath, stamp)) {
    case ManifestSignature::Valid:
        WriteLog("signature ok: " + manifest.strName + ", release " + ReleaseText(stamp.release));
        return;
    case ManifestSignature::Mismatch:
        RefuseRelease("the signature does not match: " + manifest.strName, kBadSignature);
    case ManifestSignature::Unreadable:
        RefuseRelease("cannot read the signature or the manifest: " + manifest.strName,
                      kBadSignature);
    case ManifestSignature::Unavailable:
        RefuseRelease("this system cannot check the signature of " + manifest.strName,
                      kBadSignature);
    case ManifestSignature::OldFormat:
        RefuseRelease("the signature of " + manifest.strName +
                          " has the old format without a release number: publish it again "
                          "with the current felto-publish",
                      kBadSignature);
    }
    RefuseRelease("the signature was not checked: " + manifest.strName, kBadSignature);
}

// The clock is read only when the signature has an expiry.
void CheckExpiry(const std::string& manifestName, const ReleaseStamp& stamp) {
    if (!stamp.expires)
        return;
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    if (now <= *stamp.expires)
        return;
    const std::string times = "the signature of " + manifestName + " expired at " +
                              UtcText(*stamp.expires) + ", this computer's clock says " +
                              UtcText(now);
    if (now - *stamp.expires > kExpiryGraceSeconds)
        RefuseRelease(times + ": refused", kExpired);
    WriteLog(times + ": accepted within the 3-day grace");
}

} // namespace

void VerifyManifestSignature() {
    const std::string key = ReleaseKey();
    if (key.empty())
        return;
    InstallerState& state = GetInstallerState();
    const FileEntry& manifest = *state.manifestEntry;
    const std::string url = manifest.strUrl + ".sig";
    WriteLog(url);
    state.signatureEntry = std::make_unique<FileEntry>(MakeFileEntry(url, strInstallDir));
    FileEntry& signature = *state.signatureEntry;
    signature.checkFun = CheckSignatureFile;
    // The signature is the manifest's: it comes from the server the manifest came from.
    signature.nPinnedServer = manifest.nServedBy;
    StartFreshDownload(signature);
    WaitForDownload(signature);
    if (!signature.bOk.load())
        RefuseRelease("no signature on the server: " + url, kBadSignature);

    // Every check passes before the state changes: a refused release must leave no trace.
    ReleaseStamp stamp;
    CheckSignature(key, manifest, signature, stamp);
    RememberedRelease offered;
    offered.key = key;
    offered.release = stamp.release;
    offered.manifestName = manifest.strName;
    offered.manifestMd5 = FileMd5(manifest.strIncomingPath);
    const std::string statePath = IncomingPath(strInstallDir, kReleaseStateName);
    RememberedRelease remembered;
    const bool known = LoadReleaseState(statePath, remembered);
    const std::string offeredText = manifest.strName + " is release " + ReleaseText(stamp.release);
    switch (JudgeRelease(known ? &remembered : nullptr, offered, ReleaseFloor())) {
    case ReleaseVerdict::Accepted:
        break;
    case ReleaseVerdict::BelowFloor:
        RefuseRelease(offeredText + ", below the lowest this installer takes, " +
                          ReleaseText(ReleaseFloor()),
                      kBelowFloor);
    case ReleaseVerdict::Rollback:
        RefuseRelease(offeredText + ", older than release " + ReleaseText(remembered.release) +
                          " installed before",
                      kRolledBack);
    case ReleaseVerdict::Replay:
        RefuseRelease(offeredText + ", installed before with other manifest bytes", kNumberReused);
    }
    CheckExpiry(manifest.strName, stamp);
    NoteReleaseForReport(stamp.release);

    const bool unchanged = known && remembered.key == offered.key &&
                           remembered.release == offered.release &&
                           remembered.manifestName == offered.manifestName;
    if (!unchanged && !offered.manifestMd5.empty())
        SaveReleaseState(statePath, IncomingPath(strInstallDir, kReleaseStateTemporaryName),
                         offered);
}
