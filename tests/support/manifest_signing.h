#pragma once
// Signs what a test's server serves the way a studio signs by hand, with the openssl command and
// the tests' key pair (tests/data/test-release-key.*.pem, made for the tests only).

#include <cstdint>
#include <optional>
#include <string>

// The tests' key pair: the private key signs, the public key is built into the test installer
// (FeltoInstallerTestKey).
std::string TestPrivateKeyPath();
std::string TestPublicKeyPath();

// What a test signs besides the manifest: its release number (above the test installer's
// lowest, FELTO_TEST_RELEASE_FLOOR, unless a test means otherwise) and its expiry in Unix
// seconds.
struct TestStamp {
    std::uint64_t release = FELTO_TEST_RELEASE_FLOOR + 1;
    std::optional<std::int64_t> expires;
};

// Writes <name>.sig beside both launcher manifests below `serverRoot` as a studio does by hand:
// the head (format line, release, expiry, empty line), then `openssl dgst -sha256 -sign` over
// the head, the manifest's name, one LF and its bytes. Throws when openssl fails.
void SignManifests(const std::string& serverRoot, const TestStamp& stamp = {});
// The same signatures in the format without a head, which keyed installers no longer take.
void SignManifestsWithoutStamp(const std::string& serverRoot);

// True when `signature` (a .sig file) is the tests' key's signature of the manifest file at
// `manifest`, under the manifest's own file name, as `openssl dgst -verify` sees it: the head
// split off the signature file with sed and head -c.
bool OpensslVerifies(const std::string& manifest, const std::string& signature);
