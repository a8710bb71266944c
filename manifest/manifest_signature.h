#pragma once
// Release signatures: the studio signs "<manifest name>" LF "<manifest bytes>" with ECDSA P-256
// and SHA-256 (`openssl dgst -sha256 -sign`), and an installer built with the studio's public key
// takes only a manifest that carries such a signature in "<manifest name>.sig".

#include "net/file_entry.h"

#include <string>

// A DER ECDSA signature (SEQUENCE of INTEGER r, INTEGER s) as r and s of 32 big-endian bytes
// each. False for anything else, P-256 integers that do not fit included.
bool DerSignatureToRaw(const std::string& der, std::string& raw);

// The base64 text of a P-256 public key's PEM file (header, footer and line ends removed) as its
// uncompressed point: 0x04, X, Y. False for another key type or a damaged text.
bool DecodeReleaseKey(const std::string& base64, std::string& point);

// What the signature of a manifest covers: binding its name keeps a signed 32-bit manifest from
// standing in for the 64-bit one.
std::string SignedMessage(const std::string& manifestName, const std::string& manifestBytes);

// checkFun of a signature download: the file holds a DER signature of the right shape, so a cut
// or garbled download is tried again like any other.
bool CheckSignatureFile(FileEntry& entry);

enum class ManifestSignature { Valid, Mismatch, Unreadable, Unavailable };

// The manifest at `manifestPath`, named `manifestName` on the server, against the signature file
// and the key (DecodeReleaseKey's input). Unavailable when this system cannot check signatures.
ManifestSignature CheckManifestSignature(const std::string& keyBase64,
                                         const std::string& manifestName,
                                         const std::string& manifestPath,
                                         const std::string& signaturePath);
