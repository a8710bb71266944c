#pragma once
// Release signatures with libcrypto: "<manifest name>.sig" beside each manifest, a text head with
// the release number and the expiry, then ECDSA P-256 with SHA-256 over the head, the manifest's
// name, one LF and its bytes, DER-encoded as `openssl dgst -sha256 -sign` writes it. An installer
// built with the matching public key takes nothing else.

#include "manifest/manifest_signature.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

typedef struct evp_pkey_st EVP_PKEY;

namespace publish {

class SigningKey {
  public:
    // The studio's private key (PEM, as `openssl ecparam -genkey` or `openssl genpkey` write it).
    // Throws PublishError when the file cannot be read or holds no P-256 private key.
    static SigningKey ReadPrivate(const std::filesystem::path& pem);
    // A key to check with: the public key (PEM, `openssl ec -pubout`) or the private key.
    static SigningKey ReadPublic(const std::filesystem::path& pem);

    // The signature file of a manifest with `stamp`; throws PublishError when libcrypto fails.
    std::string Sign(const ReleaseStamp& stamp, const std::string& manifestName,
                     const std::string& manifestBytes) const;
    // True when `signatureFile` is this key's signature file of the manifest under that name;
    // `stamp` is then what it vouches for. A file of the old format (no head) does not verify.
    bool Verifies(const std::string& manifestName, const std::string& manifestBytes,
                  const std::string& signatureFile, ReleaseStamp* stamp = nullptr) const;
    // "key " and the first 16 hex digits of the SHA-256 of the public key's base64 text (its PEM
    // lines joined), as the installer's configure names its release key.
    std::string Fingerprint() const;

  private:
    explicit SigningKey(std::shared_ptr<EVP_PKEY> key) : key_(std::move(key)) {}
    std::shared_ptr<EVP_PKEY> key_;
};

// What is wrong with signing by `key` for installers built like this felto-publish: empty when
// this build carries no release key or that very key; else why they would refuse the signatures.
std::string KeyMismatch(const SigningKey& key);

// The signature file's name for a manifest's name.
std::string SignatureName(const std::string& manifestName);

// The release stamp of a new publish into downloadDir: the higher of one more than the highest
// release number signed there and the current Unix time, so that no two publishes share one and
// no other record is needed; an expiry `expiresInDays` days from now, if given.
ReleaseStamp NextStamp(const std::filesystem::path& downloadDir,
                       std::optional<std::uint64_t> expiresInDays);

// The stamp of downloadDir/<manifestName>.sig; none when it is missing or not of this format.
std::optional<ReleaseStamp> ReadStamp(const std::filesystem::path& downloadDir,
                                      const std::string& manifestName);

// Writes the signature of the manifest text that is about to be (or already is) in
// downloadDir/<manifestName>. An existing signature of this format that already signs this text
// is kept when the manifest does not change, so a republish that changes nothing writes nothing
// (`resign` renews it). Returns true when it wrote.
bool WriteSignature(const SigningKey& key, const std::filesystem::path& downloadDir,
                    const std::string& manifestName, const std::string& manifestText,
                    bool manifestChanged, const ReleaseStamp& stamp);

// Reads back the manifest and its signature as a server will serve them and throws PublishError
// unless the signature verifies.
void CheckWrittenSignature(const SigningKey& key, const std::filesystem::path& downloadDir,
                           const std::string& manifestName);

} // namespace publish
