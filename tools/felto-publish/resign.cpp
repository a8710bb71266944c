#include "resign.h"

#include "file_io.h"
#include "manifest/manifest_file.h"
#include "options.h"
#include "output_lock.h"
#include "signing.h"

#include <cstdio>

namespace fs = std::filesystem;

namespace publish {

ExitStatus Resign(const ResignOptions& options) {
    std::optional<SigningKey> key;
    try {
        key = SigningKey::ReadPrivate(options.signKey);
        std::printf("signing with %s\n", key->Fingerprint().c_str());
        const std::string mismatch = KeyMismatch(*key);
        if (!mismatch.empty() && options.keyMismatchOk) {
            std::fprintf(stderr, "felto-publish resign: warning: %s\n", mismatch.c_str());
        } else if (!mismatch.empty()) {
            std::fprintf(stderr, "felto-publish resign: refused: %s: %s\n", options.signKey.c_str(),
                         mismatch.c_str());
            return kRefused;
        }
    } catch (const PublishError& e) {
        std::fprintf(stderr, "felto-publish resign: %s\n", e.what());
        return kRefused;
    }
    const fs::path downloadDir = options.output / fs::path(strManifestUrl).parent_path();
    std::error_code ec;
    if (!fs::is_directory(downloadDir, ec)) {
        std::fprintf(stderr, "felto-publish resign: %s is no published tree\n",
                     options.output.c_str());
        return kRefused;
    }
    OutputLock lock(options.output);
    std::string manifests[2];
    const std::string names[2] = {fs::path(strManifestUrl).filename().string(),
                                  fs::path(strManifestUrlX64).filename().string()};
    for (int i = 0; i < 2; ++i) {
        if (!ReadWholeFile(downloadDir / names[i], manifests[i])) {
            std::fprintf(stderr, "felto-publish resign: %s is missing\n",
                         (downloadDir / names[i]).c_str());
            return kRefused;
        }
    }
    const ReleaseStamp stamp = NextStamp(downloadDir, options.expiresInDays);
    for (int i = 0; i < 2; ++i) {
        WriteFileAtomically(downloadDir / SignatureName(names[i]),
                            key->Sign(stamp, names[i], manifests[i]));
        CheckWrittenSignature(*key, downloadDir, names[i]);
    }
    std::printf("re-signed %s and %s as release %llu, %s\n", names[0].c_str(), names[1].c_str(),
                static_cast<unsigned long long>(stamp.release),
                stamp.expires ? ("expiring " + UtcText(*stamp.expires)).c_str() : "no expiry");
    return kPublished;
}

int ResignCommand(const std::vector<std::string>& args) {
    ResignOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        std::uint64_t days = 0;
        if (arg == "--output" && hasValue && options.output.empty()) {
            options.output = args[++i];
        } else if (arg == "--sign-key" && hasValue) {
            options.signKey = args[++i];
        } else if (arg == "--key-mismatch-ok") {
            options.keyMismatchOk = true;
        } else if (arg == "--expires-in" && hasValue && ParseExpiryDays(args[i + 1], days)) {
            options.expiresInDays = days;
            ++i;
        } else if (const auto status =
                       OtherSubcommandWord("resign", arg, !options.output.empty())) {
            return *status;
        } else {
            options.output = arg;
        }
    }
    if (options.output.empty() || options.signKey.empty()) {
        std::fprintf(stderr,
                     "felto-publish resign: the published folder and --sign-key are "
                     "needed\n%s",
                     UsageText());
        return kBadCommandLine;
    }
    return Resign(options);
}

} // namespace publish
