// Compiled into each installer program on its own, so that one build can make installers with
// different keys (the tests' installer carries a test key).

#include "manifest/release_key.h"

#ifndef FELTO_RELEASE_KEY_BASE64
#define FELTO_RELEASE_KEY_BASE64 ""
#endif

#ifndef FELTO_MIN_RELEASE_VALUE
#define FELTO_MIN_RELEASE_VALUE 0
#endif

std::uint64_t ReleaseFloor() {
    return FELTO_MIN_RELEASE_VALUE;
}

const char* ReleaseKey() {
    return FELTO_RELEASE_KEY_BASE64;
}
