#include "manifest/manifest_signature.h"

#include "platform/platform.h"
#include "support/log.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

constexpr std::size_t kHalfSize = 32;
// A DER P-256 signature is at most 2 + 2 * (2 + 33) bytes and the head under 100; a file much
// larger is no signature.
constexpr std::size_t kSignatureFileLimit = 512;

constexpr char kHeadFirstLine[] = "felto-release-signature 1\n";
constexpr char kReleaseField[] = "release ";
constexpr char kExpiresField[] = "expires ";
constexpr char kNoExpiry[] = "none";

// One "<field><value>" LF line at `at`; moves `at` past it.
bool TakeField(const std::string& bytes, std::size_t& at, const char* field, std::string& value) {
    const std::size_t fieldSize = std::strlen(field);
    const std::size_t end = bytes.find('\n', at);
    if (end == std::string::npos || bytes.compare(at, fieldSize, field) != 0)
        return false;
    value = bytes.substr(at + fieldSize, end - at - fieldSize);
    at = end + 1;
    return true;
}

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

bool ParseReleaseNumber(const std::string& text, std::uint64_t& value) {
    if (text.empty() || text.size() > 20 || text.find_first_not_of("0123456789") != text.npos)
        return false;
    value = 0;
    for (char c : text) {
        const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    return true;
}

std::string SignatureHead(const ReleaseStamp& stamp) {
    return std::string(kHeadFirstLine) + kReleaseField + std::to_string(stamp.release) + "\n" +
           kExpiresField + (stamp.expires ? std::to_string(*stamp.expires) : kNoExpiry) + "\n\n";
}

SignatureFileKind SplitSignatureFile(const std::string& bytes, std::string& head,
                                     ReleaseStamp& stamp, std::string& der) {
    std::string raw;
    if (DerSignatureToRaw(bytes, raw)) {
        der = bytes;
        return SignatureFileKind::OldFormat;
    }
    std::size_t at = sizeof kHeadFirstLine - 1;
    std::string release, expires;
    std::uint64_t expiresValue = 0;
    if (bytes.compare(0, at, kHeadFirstLine) != 0 ||
        !TakeField(bytes, at, kReleaseField, release) ||
        !ParseReleaseNumber(release, stamp.release) ||
        !TakeField(bytes, at, kExpiresField, expires) ||
        (expires != kNoExpiry &&
         (!ParseReleaseNumber(expires, expiresValue) || expiresValue > INT64_MAX)) ||
        at >= bytes.size() || bytes[at] != '\n')
        return SignatureFileKind::Damaged;
    stamp.expires.reset();
    if (expires != kNoExpiry)
        stamp.expires = static_cast<std::int64_t>(expiresValue);
    head = bytes.substr(0, at + 1);
    der = bytes.substr(at + 1);
    return DerSignatureToRaw(der, raw) ? SignatureFileKind::Stamped : SignatureFileKind::Damaged;
}

std::string UtcText(std::int64_t seconds) {
    // Days to a civil date in the proleptic Gregorian calendar (H. Hinnant's algorithm), so the
    // text needs no C library time call and reads the same on every system.
    std::int64_t days = seconds / 86400, rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shifted = (5 * dayOfYear + 2) / 153;
    const std::int64_t day = dayOfYear - (153 * shifted + 2) / 5 + 1;
    const std::int64_t month = shifted < 10 ? shifted + 3 : shifted - 9;
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2);
    return FormatString("%04lld-%02lld-%02lld %02lld:%02lld:%02lld UTC",
                        static_cast<long long>(year), static_cast<long long>(month),
                        static_cast<long long>(day), static_cast<long long>(rest / 3600),
                        static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
}

std::string SignedMessage(const std::string& head, const std::string& manifestName,
                          const std::string& manifestBytes) {
    return head + manifestName + "\n" + manifestBytes;
}

bool CheckSignatureFile(FileEntry& entry) {
    std::string bytes, head, der;
    ReleaseStamp stamp;
    if (ReadSmallFile(entry.strIncomingPath, kSignatureFileLimit, bytes) &&
        SplitSignatureFile(bytes, head, stamp, der) != SignatureFileKind::Damaged)
        return true;
    WriteLog(FormatString("not a release signature file: %s", entry.strIncomingPath.c_str()));
    return false;
}

ManifestSignature CheckManifestSignature(const std::string& keyBase64,
                                         const std::string& manifestName,
                                         const std::string& manifestPath,
                                         const std::string& signaturePath, ReleaseStamp& stamp) {
    std::string point, bytes, head, der, raw, manifest;
    if (!DecodeReleaseKey(keyBase64, point))
        return ManifestSignature::Unavailable;
    if (!ReadSmallFile(signaturePath, kSignatureFileLimit, bytes))
        return ManifestSignature::Unreadable;
    switch (SplitSignatureFile(bytes, head, stamp, der)) {
    case SignatureFileKind::Stamped:
        break;
    case SignatureFileKind::OldFormat:
        return ManifestSignature::OldFormat;
    case SignatureFileKind::Damaged:
        return ManifestSignature::Unreadable;
    }
    if (!DerSignatureToRaw(der, raw) ||
        !ReadSmallFile(manifestPath, std::string().max_size(), manifest))
        return ManifestSignature::Unreadable;
    switch (
        platform::VerifyP256Signature(point, SignedMessage(head, manifestName, manifest), raw)) {
    case platform::SignatureCheck::Valid:
        return ManifestSignature::Valid;
    case platform::SignatureCheck::Invalid:
        return ManifestSignature::Mismatch;
    case platform::SignatureCheck::Unavailable:
        break;
    }
    return ManifestSignature::Unavailable;
}
