#include "platform/cng_win32.h"
#include "platform/platform.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <vector>

namespace platform {

namespace {

using namespace cng;

constexpr ULONG kEcdsaPublicP256Magic = 0x31534345; // "ECS1"
constexpr std::size_t kHalfSize = 32;
constexpr ULONG kSha256Size = 32;
std::atomic<bool> g_unavailableForTesting{false};

class Algorithm {
  public:
    Algorithm(const Cng& cng, LPCWSTR name) : cng_(cng) {
        if (cng_.openAlgorithm(&handle_, name, nullptr, 0) != 0)
            handle_ = nullptr;
    }
    ~Algorithm() {
        if (handle_)
            cng_.closeAlgorithm(handle_, 0);
    }
    Algorithm(const Algorithm&) = delete;
    Algorithm& operator=(const Algorithm&) = delete;
    Handle get() const { return handle_; }

  private:
    const Cng& cng_;
    Handle handle_ = nullptr;
};

PUCHAR Bytes(const std::string& text) {
    return reinterpret_cast<PUCHAR>(const_cast<char*>(text.data()));
}

// The hash object's memory is the caller's: Windows before 7 does not allocate it itself.
bool Sha256(const Cng& cng, const std::string& message, UCHAR (&digest)[kSha256Size]) {
    Algorithm sha256(cng, L"SHA256");
    ULONG objectSize = 0, written = 0;
    if (!sha256.get() ||
        cng.getProperty(sha256.get(), L"ObjectLength", reinterpret_cast<PUCHAR>(&objectSize),
                        sizeof objectSize, &written, 0) != 0)
        return false;
    std::vector<UCHAR> object(objectSize);
    Handle hash = nullptr;
    if (cng.createHash(sha256.get(), &hash, object.data(), objectSize, nullptr, 0, 0) != 0)
        return false;
    bool ok = cng.hashData(hash, Bytes(message), static_cast<ULONG>(message.size()), 0) == 0 &&
              cng.finishHash(hash, digest, kSha256Size, 0) == 0;
    cng.destroyHash(hash);
    return ok;
}

} // namespace

SignatureCheck VerifyP256Signature(const std::string& publicPoint, const std::string& message,
                                   const std::string& rawSignature) {
    if (publicPoint.size() != 1 + 2 * kHalfSize || rawSignature.size() != 2 * kHalfSize)
        return SignatureCheck::Invalid;
    if (g_unavailableForTesting.load())
        return SignatureCheck::Unavailable;
    const Cng& cng = LoadCng();
    if (!cng.loaded)
        return SignatureCheck::Unavailable;
    UCHAR digest[kSha256Size];
    if (!Sha256(cng, message, digest))
        return SignatureCheck::Unavailable;

    // BCRYPT_ECCKEY_BLOB: magic, size of one coordinate, then X and Y.
    std::string blob(2 * sizeof(ULONG), '\0');
    const ULONG header[2] = {kEcdsaPublicP256Magic, static_cast<ULONG>(kHalfSize)};
    std::memcpy(&blob[0], header, sizeof header);
    blob += publicPoint.substr(1);
    Algorithm ecdsa(cng, L"ECDSA_P256");
    Handle key = nullptr;
    if (!ecdsa.get() || cng.importKeyPair(ecdsa.get(), nullptr, L"ECCPUBLICBLOB", &key, Bytes(blob),
                                          static_cast<ULONG>(blob.size()), 0) != 0)
        return SignatureCheck::Unavailable;
    Status verified = cng.verifySignature(key, nullptr, digest, kSha256Size, Bytes(rawSignature),
                                          static_cast<ULONG>(rawSignature.size()), 0);
    cng.destroyKey(key);
    return verified == 0 ? SignatureCheck::Valid : SignatureCheck::Invalid;
}

void MakeSignatureCheckUnavailableForTesting(bool unavailable) {
    g_unavailableForTesting.store(unavailable);
}

} // namespace platform
