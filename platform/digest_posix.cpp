#include "platform/platform.h"

#include <algorithm>
#include <openssl/evp.h>

namespace platform {

namespace {

EVP_MD_CTX* Context(const Md5State& state) {
    return static_cast<EVP_MD_CTX*>(state.native);
}

} // namespace

bool StartMd5(Md5State& state) {
    DiscardMd5(state);
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    // A libcrypto restricted to approved algorithms refuses MD5 here.
    if (!context || EVP_DigestInit_ex(context, EVP_md5(), nullptr) != 1) {
        EVP_MD_CTX_free(context);
        return false;
    }
    state.native = context;
    return true;
}

void FeedMd5(Md5State& state, const unsigned char* data, std::size_t length) {
    if (state.native && length > 0 && EVP_DigestUpdate(Context(state), data, length) != 1)
        DiscardMd5(state);
}

bool FinishMd5(Md5State& state, unsigned char digest[16]) {
    unsigned int size = 0;
    unsigned char out[EVP_MAX_MD_SIZE];
    bool ok = state.native && EVP_DigestFinal_ex(Context(state), out, &size) == 1 && size == 16;
    if (ok)
        std::copy(out, out + 16, digest);
    DiscardMd5(state);
    return ok;
}

void DiscardMd5(Md5State& state) {
    EVP_MD_CTX_free(Context(state));
    state.native = nullptr;
}

const char* Md5Provider() {
    static const bool available = [] {
        Md5State probe;
        bool ok = StartMd5(probe);
        DiscardMd5(probe);
        return ok;
    }();
    return available ? "libcrypto" : "";
}

void UseMd5FallbackForTesting(bool) {}

} // namespace platform
