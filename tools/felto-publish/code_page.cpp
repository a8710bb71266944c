#include "code_page.h"

#include <iconv.h>
#include <stdexcept>

namespace publish {

bool ToCodePage936(const std::string& utf8, std::string& cp936) {
    iconv_t convert = ::iconv_open("CP936", "UTF-8");
    if (convert == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error("this system's iconv cannot write code page 936");
    std::string in = utf8;
    std::string out(utf8.size() + 1, '\0'); // never longer than the UTF-8 text
    char* from = in.data();
    char* to = out.data();
    std::size_t fromLeft = in.size(), toLeft = out.size();
    const bool converted =
        ::iconv(convert, &from, &fromLeft, &to, &toLeft) != static_cast<std::size_t>(-1);
    ::iconv_close(convert);
    if (!converted)
        return false;
    out.resize(out.size() - toLeft);
    cp936 = out;
    return true;
}

} // namespace publish
