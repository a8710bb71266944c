#pragma once
// The program's texts (code page 936) as the wide-character calls take them, shared by the
// Win32 user interface files.

#include <string>
#include <vector>

namespace platform {

// NUL-terminated UTF-16; the system's code page where code page 936 cannot be turned.
std::vector<wchar_t> PlayerText(const std::string& text);

} // namespace platform
