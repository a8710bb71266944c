#include "tests/support/manifest_signing.h"

#include "tests/support/child_process.h"

#include <stdexcept>

namespace {

// The command sees "$1" the manifest, "$2" the key and "$3" `file`.
ChildResult OverNameAndBytes(const std::string& manifest, const std::string& key,
                             const std::string& command, const std::string& file) {
    ChildOptions options;
    options.timeoutMs = 30000;
    return RunChild({"/bin/sh", "-c",
                     "(printf '%s\\n' \"$(basename \"$1\")\"; cat \"$1\") | openssl dgst "
                     "-sha256 " +
                         command,
                     "sign", manifest, key, file},
                    options);
}

} // namespace

std::string TestPrivateKeyPath() {
    return std::string(FELTO_SOURCE_DIR) + "/tests/data/test-release-key.private.pem";
}

std::string TestPublicKeyPath() {
    return std::string(FELTO_SOURCE_DIR) + "/tests/data/test-release-key.public.pem";
}

void SignManifests(const std::string& serverRoot) {
    for (const char* name : {"launcher_manifest.js", "launcher_manifest_x64.js"}) {
        const std::string manifest = serverRoot + "/microclient/download/" + name;
        ChildResult run = OverNameAndBytes(manifest, TestPrivateKeyPath(),
                                           "-sign \"$2\" -out \"$3\"", manifest + ".sig");
        if (!run.finished || run.exitStatus != 0)
            throw std::runtime_error("openssl could not sign " + manifest + ": " + run.stdErr);
    }
}

bool OpensslVerifies(const std::string& manifest, const std::string& signature) {
    ChildResult run = OverNameAndBytes(manifest, TestPublicKeyPath(),
                                       "-verify \"$2\" -signature \"$3\"", signature);
    return run.finished && run.exitStatus == 0;
}
