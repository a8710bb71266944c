#include "platform/platform.h"

#include <windows.h>

namespace platform {

// The program's texts are code page 936 whatever the system's own code page is.
bool IsLeadByte(unsigned char byte) {
    return IsDBCSLeadByteEx(936, byte) != FALSE;
}

std::string FileNameFromManifest(const std::string& path) {
    return path;
}

} // namespace platform
