#include "platform/platform.h"

namespace platform {

// In UTF-8 no byte of a multi-byte character is below 0x80, so "\\" and "/" are always
// separators.
bool IsLeadByte(unsigned char) {
    return false;
}

} // namespace platform
