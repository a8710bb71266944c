#pragma once
// The program's texts (code page 936) and paths (the system's code page) as the wide-character
// calls take them, shared by the Win32 user interface and file backends.

#include <string>
#include <vector>

namespace platform {

// NUL-terminated UTF-16; the system's code page where code page 936 cannot be turned.
std::vector<wchar_t> PlayerText(const std::string& text);

// `text` read in `codePage`, NUL-terminated; just the NUL when it is empty or cannot be turned.
// A vector, not a wide string: the library's wide strings would add a tenth to the program's size.
std::vector<wchar_t> WideFromCodePage(const std::string& text, unsigned codePage);

} // namespace platform
