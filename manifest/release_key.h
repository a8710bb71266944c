#pragma once
// The studio's release key, built into the program (FELTO_RELEASE_KEY).

// The base64 text of the P-256 public key's PEM file; empty in an installer built without a key,
// which then takes manifests unsigned.
const char* ReleaseKey();
