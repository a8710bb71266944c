#include "platform/platform.h"

#include <cstdlib>
#include <cstring>
#include <sys/utsname.h>

namespace platform {

bool ReadOsVersion(OsVersionRecord& record) {
    utsname name;
    if (::uname(&name) != 0)
        return false;
    record = OsVersionRecord();
    record.isWindows = false;
    record.otherDescription =
        std::string(name.sysname) + " " + name.release + " (" + name.machine + ")";
    record.other64Bit =
        std::strcmp(name.machine, "x86_64") == 0 || std::strcmp(name.machine, "aarch64") == 0;
    return true;
}

bool ReadOsVersionNumbers(unsigned& major, unsigned& minor, unsigned& build) {
    utsname name;
    if (::uname(&name) != 0)
        return false;
    // "6.1.0-18-amd64": the numbers up to the first other character.
    unsigned numbers[3] = {0, 0, 0};
    const char* at = name.release;
    for (int i = 0; i < 3 && *at >= '0' && *at <= '9'; ++i) {
        char* end = nullptr;
        numbers[i] = static_cast<unsigned>(std::strtoul(at, &end, 10));
        at = end;
        if (*at != '.')
            break;
        ++at;
    }
    major = numbers[0];
    minor = numbers[1];
    build = numbers[2];
    return true;
}

} // namespace platform
