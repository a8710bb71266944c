#pragma once
// Release signatures: "<manifest name>.sig" holds a short text head (the release number and the
// expiry), an empty line and the DER ECDSA P-256 / SHA-256 signature (`openssl dgst -sha256
// -sign`) of the head, "<manifest name>" LF and the manifest's bytes. An installer built with the
// studio's public key takes only a manifest that carries such a signature.

#include "net/file_entry.h"

#include <cstdint>
#include <optional>
#include <string>

// What the studio signs besides the manifest: a number that rises with every publish and the
// time (Unix seconds, UTC) after which the signature no longer counts, if any.
struct ReleaseStamp {
    std::uint64_t release = 0;
    std::optional<std::int64_t> expires;
};

// The head of a signature file for `stamp`, empty line included.
std::string SignatureHead(const ReleaseStamp& stamp);

enum class SignatureFileKind { Stamped, OldFormat, Damaged };
// Splits a signature file into its head (as signed), its stamp and its DER signature. OldFormat:
// a bare DER signature, as written before signatures carried a release number.
SignatureFileKind SplitSignatureFile(const std::string& bytes, std::string& head,
                                     ReleaseStamp& stamp, std::string& der);

// A decimal release number: digits only, no sign, no blank, within 64 bits.
bool ParseReleaseNumber(const std::string& text, std::uint64_t& value);

// Unix seconds as "YYYY-MM-DD HH:MM:SS UTC", for logs and reports.
std::string UtcText(std::int64_t seconds);

// A DER ECDSA signature (SEQUENCE of INTEGER r, INTEGER s) as r and s of 32 big-endian bytes
// each. False for anything else, P-256 integers that do not fit included.
bool DerSignatureToRaw(const std::string& der, std::string& raw);

// The base64 text of a P-256 public key's PEM file (header, footer and line ends removed) as its
// uncompressed point: 0x04, X, Y. False for another key type or a damaged text.
bool DecodeReleaseKey(const std::string& base64, std::string& point);

// What the signature of a manifest covers: the head binds the release number and the expiry,
// the name keeps a signed 32-bit manifest from standing in for the 64-bit one.
std::string SignedMessage(const std::string& head, const std::string& manifestName,
                          const std::string& manifestBytes);

// checkFun of a signature download: the file is a signature file of either format with a DER
// signature of the right shape, so a cut or garbled download is tried again like any other; an
// old-format file is let through so that the run can say why it is refused.
bool CheckSignatureFile(FileEntry& entry);

enum class ManifestSignature { Valid, Mismatch, Unreadable, Unavailable, OldFormat };

// The manifest at `manifestPath`, named `manifestName` on the server, against the signature file
// and the key (DecodeReleaseKey's input); `stamp` is what a Valid signature vouches for.
// Unavailable when this system cannot check signatures.
ManifestSignature CheckManifestSignature(const std::string& keyBase64,
                                         const std::string& manifestName,
                                         const std::string& manifestPath,
                                         const std::string& signaturePath, ReleaseStamp& stamp);
