#include "platform/cng_win32.h"
#include "platform/platform.h"

#include <windows.h>

#include <wincrypt.h>

#include <algorithm>
#include <atomic>
#include <vector>

namespace platform {

namespace {

using namespace cng;

// The CryptoAPI is looked up at run time like CNG, so that the program imports nothing new from
// advapi32 for a service that most systems never use.
using AcquireContextFn = decltype(&CryptAcquireContextA);
using CryptCreateHashFn = decltype(&CryptCreateHash);
using CryptHashDataFn = decltype(&CryptHashData);
using CryptGetHashParamFn = decltype(&CryptGetHashParam);
using CryptDestroyHashFn = decltype(&CryptDestroyHash);

constexpr DWORD kMd5Size = 16;
// The system calls take 32-bit lengths.
constexpr std::size_t kLargestFeed = 1u << 30;

enum class Service { None, Cng, CryptoApi };

// Each service is opened once, when first needed, and kept for the rest of the process: its
// algorithm or provider handle is shared by every computation, on any thread; each computation
// has its own hash object.
struct Provider {
    Service service = Service::None;
    const Cng* cng = nullptr;
    Handle algorithm = nullptr;
    ULONG objectSize = 0;
    HCRYPTPROV context = 0;
    CryptCreateHashFn createHash = nullptr;
    CryptHashDataFn hashData = nullptr;
    CryptGetHashParamFn getHashParam = nullptr;
    CryptDestroyHashFn destroyHash = nullptr;
};

const Provider& CngMd5() {
    static const Provider provider = [] {
        Provider opened;
        const Cng& cng = LoadCng();
        if (!cng.loaded || cng.openAlgorithm(&opened.algorithm, L"MD5", nullptr, 0) != 0)
            return Provider();
        ULONG written = 0;
        if (cng.getProperty(opened.algorithm, L"ObjectLength",
                            reinterpret_cast<PUCHAR>(&opened.objectSize), sizeof opened.objectSize,
                            &written, 0) != 0) {
            cng.closeAlgorithm(opened.algorithm, 0);
            return Provider();
        }
        opened.cng = &cng;
        opened.service = Service::Cng;
        return opened;
    }();
    return provider;
}

const Provider& CryptoApiMd5() {
    static const Provider provider = [] {
        Provider opened;
        HMODULE module = LoadLibraryA("advapi32.dll");
        AcquireContextFn acquire = nullptr;
        if (!module || !FindFunction(module, "CryptAcquireContextA", acquire) ||
            !FindFunction(module, "CryptCreateHash", opened.createHash) ||
            !FindFunction(module, "CryptHashData", opened.hashData) ||
            !FindFunction(module, "CryptGetHashParam", opened.getHashParam) ||
            !FindFunction(module, "CryptDestroyHash", opened.destroyHash))
            return Provider();
        // No key container: hashing needs none, and a player's account may have no profile.
        if (!acquire(&opened.context, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
            return Provider();
        opened.service = Service::CryptoApi;
        return opened;
    }();
    return provider;
}

std::atomic<bool> fallbackForTesting{false};

const Provider& CurrentProvider() {
    if (!fallbackForTesting.load() && CngMd5().service == Service::Cng)
        return CngMd5();
    return CryptoApiMd5();
}

struct Computation {
    const Provider* provider = nullptr;
    Handle cngHash = nullptr;
    std::vector<UCHAR> cngObject; // the caller's memory: Windows before 7 allocates none itself
    HCRYPTHASH cryptHash = 0;
};

Computation* Of(const Md5State& state) {
    return static_cast<Computation*>(state.native);
}

} // namespace

bool StartMd5(Md5State& state) {
    DiscardMd5(state);
    const Provider& provider = CurrentProvider();
    Computation* computation = new Computation;
    computation->provider = &provider;
    state.native = computation;
    bool ok = false;
    if (provider.service == Service::Cng) {
        computation->cngObject.resize(provider.objectSize);
        ok = provider.cng->createHash(provider.algorithm, &computation->cngHash,
                                      computation->cngObject.data(), provider.objectSize, nullptr,
                                      0, 0) == 0;
    } else if (provider.service == Service::CryptoApi) {
        ok = provider.createHash(provider.context, CALG_MD5, 0, 0, &computation->cryptHash) != 0;
    }
    if (!ok)
        DiscardMd5(state);
    return ok;
}

void FeedMd5(Md5State& state, const unsigned char* data, std::size_t length) {
    Computation* computation = Of(state);
    while (computation && length > 0) {
        const Provider& provider = *computation->provider;
        DWORD piece = static_cast<DWORD>(std::min(length, kLargestFeed));
        bool ok = computation->cngHash
                      ? provider.cng->hashData(computation->cngHash, const_cast<PUCHAR>(data),
                                               piece, 0) == 0
                      : provider.hashData(computation->cryptHash, data, piece, 0) != 0;
        if (!ok) {
            DiscardMd5(state);
            return;
        }
        data += piece;
        length -= piece;
    }
}

bool FinishMd5(Md5State& state, unsigned char digest[16]) {
    Computation* computation = Of(state);
    bool ok = false;
    if (computation && computation->cngHash) {
        ok = computation->provider->cng->finishHash(computation->cngHash, digest, kMd5Size, 0) == 0;
    } else if (computation && computation->cryptHash) {
        DWORD size = kMd5Size;
        ok = computation->provider->getHashParam(computation->cryptHash, HP_HASHVAL, digest, &size,
                                                 0) != 0 &&
             size == kMd5Size;
    }
    DiscardMd5(state);
    return ok;
}

void DiscardMd5(Md5State& state) {
    Computation* computation = Of(state);
    if (!computation)
        return;
    if (computation->cngHash)
        computation->provider->cng->destroyHash(computation->cngHash);
    if (computation->cryptHash)
        computation->provider->destroyHash(computation->cryptHash);
    delete computation;
    state.native = nullptr;
}

const char* Md5Provider() {
    switch (CurrentProvider().service) {
    case Service::Cng:
        return "CNG";
    case Service::CryptoApi:
        return "CryptoAPI";
    case Service::None:
        break;
    }
    return "";
}

void UseMd5FallbackForTesting(bool fallback) {
    fallbackForTesting.store(fallback);
}

} // namespace platform
