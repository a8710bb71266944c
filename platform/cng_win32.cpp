#include "platform/cng_win32.h"

namespace platform {
namespace cng {

const Cng& LoadCng() {
    static const Cng cng = [] {
        Cng found;
        HMODULE module = LoadLibraryA("bcrypt.dll");
        found.loaded = module &&
                       FindFunction(module, "BCryptOpenAlgorithmProvider", found.openAlgorithm) &&
                       FindFunction(module, "BCryptCloseAlgorithmProvider", found.closeAlgorithm) &&
                       FindFunction(module, "BCryptGetProperty", found.getProperty) &&
                       FindFunction(module, "BCryptCreateHash", found.createHash) &&
                       FindFunction(module, "BCryptHashData", found.hashData) &&
                       FindFunction(module, "BCryptFinishHash", found.finishHash) &&
                       FindFunction(module, "BCryptDestroyHash", found.destroyHash) &&
                       FindFunction(module, "BCryptImportKeyPair", found.importKeyPair) &&
                       FindFunction(module, "BCryptVerifySignature", found.verifySignature) &&
                       FindFunction(module, "BCryptDestroyKey", found.destroyKey);
        return found;
    }();
    return cng;
}

} // namespace cng
} // namespace platform
