#include "manifest/manifest_signature.h"

#include "platform/platform.h"
#include "support/log.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr std::size_t kHalfSize = 32;
// A DER P-256 signature is at most 2 + 2 * (2 + 33) bytes; a file much larger is no signature.
constexpr std::size_t kSignatureFileLimit = 256;

// The DER SubjectPublicKeyInfo of a P-256 key up to its point, base64 as in the PEM file: 27
// bytes, so the text of the point starts on a 4-character boundary.
constexpr char kP256KeyInfoBase64[] = "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAE";
constexpr std::size_t kKeyInfoSize = 91;

// One INTEGER at `at`, left-padded to 32 bytes into `out`; moves `at` past it.
bool TakeInteger(const std::string& der, std::size_t& at, std::string& out) {
    if (at + 2 > der.size() || der[at] != 0x02)
        return false;
    std::size_t length = static_cast<unsigned char>(der[at + 1]);
    at += 2;
    // Short form only (a P-256 integer is at most 33 bytes); no empty or negative integer.
    if (length == 0 || length > kHalfSize + 1 || at + length > der.size() ||
        (static_cast<unsigned char>(der[at]) & 0x80))
        return false;
    std::string value = der.substr(at, length);
    at += length;
    std::size_t zeros = value.find_first_not_of('\0');
    value.erase(0, zeros == std::string::npos ? value.size() : zeros);
    if (value.size() > kHalfSize)
        return false;
    out += std::string(kHalfSize - value.size(), '\0') + value;
    return true;
}

bool ReadSmallFile(const std::string& path, std::size_t limit, std::string& bytes) {
    std::FILE* file = platform::OpenShared(path, "rb");
    if (!file)
        return false;
    bytes.clear();
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0 && bytes.size() <= limit)
        bytes.append(buffer, got);
    bool ok = !std::ferror(file) && bytes.size() <= limit;
    std::fclose(file);
    return ok;
}

int Base64Value(char c) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const char* found = c ? std::strchr(kAlphabet, c) : nullptr;
    return found ? static_cast<int>(found - kAlphabet) : -1;
}

bool DecodeBase64(const std::string& text, std::string& bytes) {
    if (text.size() % 4 != 0)
        return false;
    bytes.clear();
    for (std::size_t at = 0; at < text.size(); at += 4) {
        const bool last = at + 4 == text.size();
        const int padding = !last || text[at + 3] != '=' ? 0 : text[at + 2] == '=' ? 2 : 1;
        unsigned group = 0;
        for (int i = 0; i < 4; ++i) {
            int value = i >= 4 - padding ? 0 : Base64Value(text[at + i]);
            if (value < 0)
                return false;
            group = group << 6 | static_cast<unsigned>(value);
        }
        const char decoded[3] = {static_cast<char>(group >> 16), static_cast<char>(group >> 8),
                                 static_cast<char>(group)};
        bytes.append(decoded, 3 - padding);
    }
    return true;
}

} // namespace

bool DerSignatureToRaw(const std::string& der, std::string& raw) {
    raw.clear();
    if (der.size() < 2 || der[0] != 0x30 ||
        static_cast<std::size_t>(static_cast<unsigned char>(der[1])) != der.size() - 2)
        return false;
    std::size_t at = 2;
    if (!TakeInteger(der, at, raw) || !TakeInteger(der, at, raw) || at != der.size()) {
        raw.clear();
        return false;
    }
    return true;
}

bool DecodeReleaseKey(const std::string& base64, std::string& point) {
    std::string info;
    if (base64.compare(0, sizeof kP256KeyInfoBase64 - 1, kP256KeyInfoBase64) != 0 ||
        !DecodeBase64(base64, info) || info.size() != kKeyInfoSize)
        return false;
    point = info.substr(kKeyInfoSize - (1 + 2 * kHalfSize));
    return true;
}

std::string SignedMessage(const std::string& manifestName, const std::string& manifestBytes) {
    return manifestName + "\n" + manifestBytes;
}

bool CheckSignatureFile(FileEntry& entry) {
    std::string der, raw;
    if (ReadSmallFile(entry.strIncomingPath, kSignatureFileLimit, der) &&
        DerSignatureToRaw(der, raw))
        return true;
    WriteLog(FormatString("not a DER ECDSA P-256 signature: %s", entry.strIncomingPath.c_str()));
    return false;
}

ManifestSignature CheckManifestSignature(const std::string& keyBase64,
                                         const std::string& manifestName,
                                         const std::string& manifestPath,
                                         const std::string& signaturePath) {
    std::string point, der, raw, manifest;
    if (!DecodeReleaseKey(keyBase64, point))
        return ManifestSignature::Unavailable;
    if (!ReadSmallFile(signaturePath, kSignatureFileLimit, der) || !DerSignatureToRaw(der, raw) ||
        !ReadSmallFile(manifestPath, std::string().max_size(), manifest))
        return ManifestSignature::Unreadable;
    switch (platform::VerifyP256Signature(point, SignedMessage(manifestName, manifest), raw)) {
    case platform::SignatureCheck::Valid:
        return ManifestSignature::Valid;
    case platform::SignatureCheck::Invalid:
        return ManifestSignature::Mismatch;
    case platform::SignatureCheck::Unavailable:
        break;
    }
    return ManifestSignature::Unavailable;
}
