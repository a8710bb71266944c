#include "platform/platform.h"

#include <cerrno>
#include <iconv.h>

namespace platform {

// In UTF-8 no byte of a multi-byte character is below 0x80, so "\\" and "/" are always
// separators.
bool IsLeadByte(unsigned char) {
    return false;
}

std::string FileNameFromManifest(const std::string& path) {
    iconv_t convert = ::iconv_open("UTF-8", "CP936");
    if (convert == reinterpret_cast<iconv_t>(-1))
        return path;
    std::string in = path;
    std::string out(path.size() * 3 + 1, '\0'); // a byte becomes at most three
    char* from = in.data();
    char* to = out.data();
    std::size_t fromLeft = in.size(), toLeft = out.size();
    const bool converted =
        ::iconv(convert, &from, &fromLeft, &to, &toLeft) != static_cast<size_t>(-1);
    ::iconv_close(convert);
    if (!converted)
        return path;
    out.resize(out.size() - toLeft);
    return out;
}

} // namespace platform
