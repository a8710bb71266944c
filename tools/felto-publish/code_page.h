#pragma once
// Install paths as the manifest lists them: in code page 936, the code page the Windows installer
// reads them in, converted from the game folder's UTF-8 names.

#include <string>

namespace publish {

// False when `utf8` is no UTF-8 text or names a character code page 936 cannot hold.
bool ToCodePage936(const std::string& utf8, std::string& cp936);

} // namespace publish
