#include "app/release_signature.h"

#include "app/installer_state.h"
#include "app/manifest_fetch.h"
#include "app/messages.h"
#include "manifest/manifest_file.h"
#include "manifest/manifest_signature.h"
#include "manifest/release_key.h"
#include "net/download_worker.h"
#include "platform/platform.h"
#include "support/log.h"

namespace {
constexpr int kSignatureRefused = 106;
constexpr int kSignatureExtra = 1; // tells a refused signature from a damaged manifest
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
    StartFreshDownload(signature);
    WaitForDownload(signature);
    if (!signature.bOk.load()) {
        WriteLog("no signature on the server: " + url);
        FailWith(kSignatureRefused, kSignatureExtra);
    }

    switch (CheckManifestSignature(key, manifest.strName, manifest.strIncomingPath,
                                   signature.strIncomingPath)) {
    case ManifestSignature::Valid:
        WriteLog("signature ok: " + manifest.strName);
        return;
    case ManifestSignature::Mismatch:
        WriteLog("the signature does not match: " + manifest.strName);
        break;
    case ManifestSignature::Unreadable:
        WriteLog("cannot read the signature or the manifest: " + manifest.strName);
        break;
    case ManifestSignature::Unavailable:
        WriteLog("this system cannot check the signature of " + manifest.strName);
        break;
    }
    FailWith(kSignatureRefused, kSignatureExtra);
}
