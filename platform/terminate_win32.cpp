// The run-time library's default answer to an exception that nobody catches prints the
// exception's type to standard error, and to name it, it carries the whole C++ name demangler:
// 46 KiB of a program that must stay under 512 KiB, for a text that a windowed program without
// a console never shows. Defining the handler here keeps the library's version, and with it the
// demangler, out of the program; the outcome is the same abnormal end without the text.
// Linked into each installer program itself (not through felto_core), so that the linker has this
// definition before it searches the C++ library.

#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler() {
    std::abort();
}
} // namespace __gnu_cxx
