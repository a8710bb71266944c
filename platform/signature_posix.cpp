#include "platform/platform.h"

#include <atomic>
#include <memory>
#include <openssl/bn.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

namespace platform {

namespace {

// The DER SubjectPublicKeyInfo of a P-256 key up to its point: libcrypto reads keys in this form.
const unsigned char kP256KeyInfoPrefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                                            0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                            0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00};
constexpr std::size_t kPointSize = 65;
constexpr std::size_t kHalfSize = 32;
std::atomic<bool> g_unavailableForTesting{false};

struct Free {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
    void operator()(ECDSA_SIG* signature) const { ECDSA_SIG_free(signature); }
    void operator()(unsigned char* bytes) const { OPENSSL_free(bytes); }
};
template <typename T> using Owned = std::unique_ptr<T, Free>;

Owned<EVP_PKEY> ReadKey(const std::string& publicPoint) {
    std::string info(reinterpret_cast<const char*>(kP256KeyInfoPrefix), sizeof kP256KeyInfoPrefix);
    info += publicPoint;
    const unsigned char* cursor = reinterpret_cast<const unsigned char*>(info.data());
    return Owned<EVP_PKEY>(d2i_PUBKEY(nullptr, &cursor, static_cast<long>(info.size())));
}

// libcrypto verifies DER signatures; the caller holds r and s as they are.
bool ToDer(const std::string& raw, Owned<unsigned char>& der, int& size) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(raw.data());
    Owned<ECDSA_SIG> signature(ECDSA_SIG_new());
    BIGNUM* r = BN_bin2bn(bytes, kHalfSize, nullptr);
    BIGNUM* s = BN_bin2bn(bytes + kHalfSize, kHalfSize, nullptr);
    if (!signature || !r || !s || !ECDSA_SIG_set0(signature.get(), r, s)) {
        BN_free(r);
        BN_free(s);
        return false;
    }
    unsigned char* out = nullptr;
    size = i2d_ECDSA_SIG(signature.get(), &out);
    der.reset(out);
    return size > 0;
}

} // namespace

SignatureCheck VerifyP256Signature(const std::string& publicPoint, const std::string& message,
                                   const std::string& rawSignature) {
    if (publicPoint.size() != kPointSize || rawSignature.size() != 2 * kHalfSize)
        return SignatureCheck::Invalid;
    if (g_unavailableForTesting.load())
        return SignatureCheck::Unavailable;
    Owned<EVP_PKEY> key = ReadKey(publicPoint);
    if (!key)
        return SignatureCheck::Unavailable; // not a point of the curve: no key to check with
    Owned<unsigned char> der;
    int derSize = 0;
    Owned<EVP_MD_CTX> context(EVP_MD_CTX_new());
    if (!ToDer(rawSignature, der, derSize) || !context ||
        EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1)
        return SignatureCheck::Unavailable;
    int result =
        EVP_DigestVerify(context.get(), der.get(), static_cast<std::size_t>(derSize),
                         reinterpret_cast<const unsigned char*>(message.data()), message.size());
    return result == 1 ? SignatureCheck::Valid : SignatureCheck::Invalid;
}

void MakeSignatureCheckUnavailableForTesting(bool unavailable) {
    g_unavailableForTesting.store(unavailable);
}

} // namespace platform
