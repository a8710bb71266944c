#pragma once
// The studio's release key and the lowest release it may install, built into the program
// (FELTO_RELEASE_KEY, FELTO_MIN_RELEASE).

#include <cstdint>

// The base64 text of the P-256 public key's PEM file; empty in an installer built without a key,
// which then takes manifests unsigned.
const char* ReleaseKey();

// The lowest release number a signed manifest may carry, even on a first install.
std::uint64_t ReleaseFloor();
