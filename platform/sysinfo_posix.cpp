#include "platform/platform.h"

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

} // namespace platform
