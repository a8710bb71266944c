#pragma once
// The manifest's signature, checked between its download and its use.

// In an installer built with a release key: downloads "<manifest>.sig" like the manifest and ends
// the run with code 106 (extra value 1) unless it is the studio's signature of the downloaded
// manifest. In an installer built without a key it does nothing.
void VerifyManifestSignature();
