#include "signing.h"

#include "file_io.h"
#include "manifest/manifest_signature.h"
#include "manifest/release_key.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

namespace fs = std::filesystem;

namespace publish {

namespace {

struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using Context = std::unique_ptr<EVP_MD_CTX, ContextFree>;

std::string OpensslError() {
    unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return "unknown libcrypto error";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

bool IsP256(EVP_PKEY* key) {
    char group[64] = {};
    std::size_t length = 0;
    return EVP_PKEY_get_base_id(key) == EVP_PKEY_EC &&
           EVP_PKEY_get_group_name(key, group, sizeof group, &length) == 1 &&
           std::strcmp(group, "prime256v1") == 0;
}

std::shared_ptr<EVP_PKEY> ReadKey(const fs::path& pem, bool privatePart) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(pem.c_str(), "r"), std::fclose);
    if (!file)
        throw PublishError(pem.string() + ": cannot read: " + std::strerror(errno));
    EVP_PKEY* key = privatePart ? PEM_read_PrivateKey(file.get(), nullptr, nullptr, nullptr)
                                : PEM_read_PUBKEY(file.get(), nullptr, nullptr, nullptr);
    if (!key && !privatePart) {
        // A private key file holds the public key too.
        ERR_clear_error();
        std::rewind(file.get());
        key = PEM_read_PrivateKey(file.get(), nullptr, nullptr, nullptr);
    }
    std::shared_ptr<EVP_PKEY> owned(key, EVP_PKEY_free);
    if (!owned || !IsP256(key)) {
        ERR_clear_error();
        throw PublishError(
            pem.string() +
            (privatePart ? ": not an ECDSA P-256 private key" : ": not an ECDSA P-256 key") +
            " in PEM form");
    }
    return owned;
}

std::string FingerprintOfBase64(const std::string& base64) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(base64.data(), base64.size(), digest, &length, EVP_sha256(), nullptr) != 1)
        throw PublishError("libcrypto: " + OpensslError());
    std::string text = "key ";
    for (unsigned int i = 0; i < 8; ++i) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", digest[i]);
        text += hex;
    }
    return text;
}

} // namespace

std::string SigningKey::Fingerprint() const {
    unsigned char* der = nullptr;
    const int length = i2d_PUBKEY(key_.get(), &der);
    if (length <= 0)
        throw PublishError("libcrypto: " + OpensslError());
    std::string base64(4 * ((static_cast<std::size_t>(length) + 2) / 3) + 1, '\0');
    const int written =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(base64.data()), der, length);
    OPENSSL_free(der);
    base64.resize(static_cast<std::size_t>(written));
    return FingerprintOfBase64(base64);
}

std::string KeyMismatch(const SigningKey& key) {
    const std::string built = ReleaseKey();
    if (built.empty())
        return std::string();
    const std::string want = FingerprintOfBase64(built), have = key.Fingerprint();
    if (want == have)
        return std::string();
    return have + " is not the release key this felto-publish was built with (" + want +
           "): installers built alike refuse what it signs (error 106); sign with the private "
           "key of FELTO_RELEASE_KEY, or pass --key-mismatch-ok";
}

SigningKey SigningKey::ReadPrivate(const fs::path& pem) {
    return SigningKey(ReadKey(pem, true));
}

SigningKey SigningKey::ReadPublic(const fs::path& pem) {
    return SigningKey(ReadKey(pem, false));
}

std::string SigningKey::Sign(const ReleaseStamp& stamp, const std::string& manifestName,
                             const std::string& manifestBytes) const {
    const std::string head = SignatureHead(stamp);
    const std::string message = SignedMessage(head, manifestName, manifestBytes);
    const unsigned char* data = reinterpret_cast<const unsigned char*>(message.data());
    Context context(EVP_MD_CTX_new());
    std::size_t length = 0;
    if (!context ||
        EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key_.get()) != 1 ||
        EVP_DigestSign(context.get(), nullptr, &length, data, message.size()) != 1)
        throw PublishError("cannot sign " + manifestName + ": " + OpensslError());
    std::string signature(length, '\0');
    if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(&signature[0]), &length,
                       data, message.size()) != 1)
        throw PublishError("cannot sign " + manifestName + ": " + OpensslError());
    signature.resize(length);
    return head + signature;
}

bool SigningKey::Verifies(const std::string& manifestName, const std::string& manifestBytes,
                          const std::string& signatureFile, ReleaseStamp* stamp) const {
    std::string head, signature;
    ReleaseStamp read;
    if (SplitSignatureFile(signatureFile, head, read, signature) != SignatureFileKind::Stamped)
        return false;
    const std::string message = SignedMessage(head, manifestName, manifestBytes);
    Context context(EVP_MD_CTX_new());
    bool good =
        context &&
        EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key_.get()) == 1 &&
        EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                         signature.size(), reinterpret_cast<const unsigned char*>(message.data()),
                         message.size()) == 1;
    ERR_clear_error();
    if (good && stamp)
        *stamp = read;
    return good;
}

std::string SignatureName(const std::string& manifestName) {
    return manifestName + ".sig";
}

std::optional<ReleaseStamp> ReadStamp(const fs::path& downloadDir,
                                      const std::string& manifestName) {
    std::string bytes, head, der;
    ReleaseStamp stamp;
    if (!ReadWholeFile(downloadDir / SignatureName(manifestName), bytes) ||
        SplitSignatureFile(bytes, head, stamp, der) != SignatureFileKind::Stamped)
        return std::nullopt;
    return stamp;
}

ReleaseStamp NextStamp(const fs::path& downloadDir, std::optional<std::uint64_t> expiresInDays) {
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    ReleaseStamp stamp;
    stamp.release = static_cast<std::uint64_t>(now);
    for (const char* name : {"launcher_manifest.js", "launcher_manifest_x64.js"}) {
        const std::optional<ReleaseStamp> earlier = ReadStamp(downloadDir, name);
        if (!earlier)
            continue;
        if (earlier->release == UINT64_MAX)
            throw PublishError(SignatureName(name) + ": the release number cannot rise further");
        stamp.release = std::max(stamp.release, earlier->release + 1);
    }
    if (expiresInDays)
        stamp.expires = now + static_cast<std::int64_t>(*expiresInDays) * 24 * 60 * 60;
    return stamp;
}

bool WriteSignature(const SigningKey& key, const fs::path& downloadDir,
                    const std::string& manifestName, const std::string& manifestText,
                    bool manifestChanged, const ReleaseStamp& stamp) {
    const fs::path path = downloadDir / SignatureName(manifestName);
    std::string earlier;
    if (!manifestChanged && ReadWholeFile(path, earlier) &&
        key.Verifies(manifestName, manifestText, earlier))
        return false;
    WriteFileAtomically(path, key.Sign(stamp, manifestName, manifestText));
    return true;
}

void CheckWrittenSignature(const SigningKey& key, const fs::path& downloadDir,
                           const std::string& manifestName) {
    std::string manifest, signature;
    const fs::path signaturePath = downloadDir / SignatureName(manifestName);
    if (!ReadWholeFile(downloadDir / manifestName, manifest) ||
        !ReadWholeFile(signaturePath, signature) ||
        !key.Verifies(manifestName, manifest, signature))
        throw PublishError(signaturePath.string() + ": the signature written does not verify");
}

} // namespace publish
