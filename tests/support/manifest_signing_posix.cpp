#include "tests/support/manifest_signing.h"

#include "tests/support/child_process.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

// The shell command sees "$1" the manifest, "$2" the key, "$3" `file` and "$4" `head`; what it
// signs or verifies is "$4", the manifest's name, LF and its bytes.
ChildResult OverHeadNameAndBytes(const std::string& manifest, const std::string& key,
                                 const std::string& command, const std::string& file,
                                 const std::string& head) {
    ChildOptions options;
    options.timeoutMs = 30000;
    return RunChild({"/bin/sh", "-c",
                     "(printf '%s' \"$4\"; printf '%s\\n' \"$(basename \"$1\")\"; cat \"$1\") | "
                     "openssl dgst -sha256 " +
                         command,
                     "sign", manifest, key, file, head},
                    options);
}

std::string HeadOf(const TestStamp& stamp) {
    return "felto-release-signature 1\nrelease " + std::to_string(stamp.release) + "\nexpires " +
           (stamp.expires ? std::to_string(*stamp.expires) : "none") + "\n\n";
}

void Sign(const std::string& serverRoot, const std::optional<TestStamp>& stamp) {
    for (const char* name : {"launcher_manifest.js", "launcher_manifest_x64.js"}) {
        const std::string manifest = serverRoot + "/microclient/download/" + name;
        const std::string head = stamp ? HeadOf(*stamp) : "";
        // The head goes in front of the DER signature that openssl appends.
        ChildResult run = OverHeadNameAndBytes(
            manifest, TestPrivateKeyPath(),
            "-sign \"$2\" -out \"$3.der\" && { printf '%s' \"$4\"; cat \"$3.der\"; } > \"$3\" && "
            "rm \"$3.der\"",
            manifest + ".sig", head);
        if (!run.finished || run.exitStatus != 0)
            throw std::runtime_error("openssl could not sign " + manifest + ": " + run.stdErr);
    }
}

} // namespace

std::string TestPrivateKeyPath() {
    return std::string(FELTO_SOURCE_DIR) + "/tests/data/test-release-key.private.pem";
}

std::string TestPublicKeyPath() {
    return std::string(FELTO_SOURCE_DIR) + "/tests/data/test-release-key.public.pem";
}

void SignManifests(const std::string& serverRoot, const TestStamp& stamp) {
    Sign(serverRoot, stamp);
}

void SignManifestsWithoutStamp(const std::string& serverRoot) {
    Sign(serverRoot, std::nullopt);
}

bool OpensslVerifies(const std::string& manifest, const std::string& signature) {
    std::string bytes;
    {
        std::ifstream in(signature, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    const std::size_t headEnd = bytes.find("\n\n");
    if (headEnd == std::string::npos)
        return false;
    const std::string der = signature + ".der";
    std::ofstream(der, std::ios::binary) << bytes.substr(headEnd + 2);
    ChildResult run =
        OverHeadNameAndBytes(manifest, TestPublicKeyPath(), "-verify \"$2\" -signature \"$3\"", der,
                             bytes.substr(0, headEnd + 2));
    std::remove(der.c_str());
    return run.finished && run.exitStatus == 0;
}
