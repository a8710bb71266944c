#pragma once
// Signs what a test's server serves the way a studio signs by hand, with the openssl command and
// the tests' key pair (tests/data/test-release-key.*.pem, made for the tests only).

#include <string>

// The tests' key pair: the private key signs, the public key is built into the test installer
// (FeltoInstallerTestKey).
std::string TestPrivateKeyPath();
std::string TestPublicKeyPath();

// Writes <name>.sig beside both launcher manifests below `serverRoot`: `openssl dgst -sha256
// -sign` over the manifest's name, one LF and its bytes. Throws when openssl fails.
void SignManifests(const std::string& serverRoot);

// True when `signature` (a .sig file) is the tests' key's signature of the manifest file at
// `manifest`, under the manifest's own file name, as `openssl dgst -verify` sees it.
bool OpensslVerifies(const std::string& manifest, const std::string& signature);
