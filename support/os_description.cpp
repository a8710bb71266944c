#include "support/os_description.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {

constexpr std::size_t kTextCapacity = 256;

// Bounded append: the text stays NUL-terminated and is cut at kTextCapacity - 1 bytes.
void Append(char* text, const char* more) {
    std::size_t used = std::strlen(text);
    if (used >= kTextCapacity - 1)
        return;
    std::size_t room = kTextCapacity - 1 - used;
    std::size_t n = std::strlen(more);
    if (n > room)
        n = room;
    std::memcpy(text + used, more, n);
    text[used + n] = '\0';
}

const char* EditionByProductType(unsigned type) {
    switch (type) {
    case 1: return "Ultimate Edition";
    case 2: return "Home Basic Edition";
    case 3: return "Home Premium Edition";
    case 4: return "Enterprise Edition";
    case 6: return "Business Edition";
    case 7: return "Standard Edition";
    case 8: return "Datacenter Edition";
    case 9: return "Small Business Server";
    case 10: return "Enterprise Edition";
    case 11: return "Starter Edition";
    case 12: return "Datacenter Edition (core installation)";
    case 13: return "Standard Edition (core installation)";
    case 14: return "Enterprise Edition (core installation)";
    case 15: return "Enterprise Edition for Itanium-based Systems";
    case 17: return "Web Server Edition";
    case 18: return "Cluster Server Edition";
    case 25: return "Small Business Server Premium Edition";
    default: return "";
    }
}

constexpr unsigned kSuiteEnterprise = 0x2;
constexpr unsigned kSuiteDatacenter = 0x80;
constexpr unsigned kSuitePersonal = 0x200;
constexpr unsigned kSuiteBlade = 0x400;
constexpr unsigned kSuiteStorageServer = 0x2000;
constexpr unsigned kSuiteComputeServer = 0x4000;
constexpr unsigned kArchX86 = 0, kArchItanium = 6, kArchX64 = 9;

struct SuiteName {
    unsigned suite;
    const char* name;
};

// The name of the first suite the mask holds, in the order given; `otherwise` without one.
void AppendBySuite(char* text, unsigned suiteMask, std::initializer_list<SuiteName> names,
                   const char* otherwise) {
    for (const SuiteName& candidate : names) {
        if (suiteMask & candidate.suite) {
            Append(text, candidate.name);
            return;
        }
    }
    Append(text, otherwise);
}

void AppendServer2003Edition(const platform::OsVersionRecord& r, char* text, bool& is64Bit) {
    if (r.architecture == kArchItanium) {
        AppendBySuite(text, r.suiteMask,
                      {{kSuiteDatacenter, "Datacenter Edition for Itanium-based Systems"},
                       {kSuiteEnterprise, "Enterprise Edition for Itanium-based Systems"}},
                      "");
        is64Bit = true;
    } else if (r.architecture == kArchX64) {
        AppendBySuite(text, r.suiteMask,
                      {{kSuiteDatacenter, "Datacenter x64 Edition"},
                       {kSuiteEnterprise, "Enterprise x64 Edition"}},
                      "Standard x64 Edition");
        is64Bit = true;
    } else {
        AppendBySuite(text, r.suiteMask,
                      {{kSuiteComputeServer, "Compute Cluster Edition"},
                       {kSuiteDatacenter, "Datacenter Edition"},
                       {kSuiteEnterprise, "Enterprise Edition"},
                       {kSuiteBlade, "Web Edition"}},
                      "Standard Edition");
    }
}

} // namespace

bool DescribeWindowsVersion(const platform::OsVersionRecord& r, char* text, bool& is64Bit) {
    is64Bit = false;
    if (r.platformId != 2 || r.major < 5)
        return false;
    const bool workstation = r.productType == 1;
    text[0] = '\0';
    Append(text, "Microsoft ");

    if (r.major == 6) {
        if (r.minor == 0)
            Append(text, workstation ? "Windows Vista " : "Windows Server 2008 ");
        else if (r.minor == 1)
            Append(text, workstation ? "Windows 7 " : "Windows Server 2008 R2 ");
        if (r.hasProductInfo)
            Append(text, EditionByProductType(r.productInfoType));
    } else if (r.major == 5 && r.minor == 2) {
        if (r.serverR2)
            Append(text, "Windows Server 2003 R2, ");
        else if (r.suiteMask & kSuiteStorageServer)
            Append(text, "Windows Storage Server 2003");
        else if (workstation && r.architecture == kArchX64) {
            Append(text, "Windows XP Professional x64 Edition");
            is64Bit = true;
        } else
            Append(text, "Windows Server 2003, ");
        if (!workstation)
            AppendServer2003Edition(r, text, is64Bit);
    } else if (r.major == 5 && r.minor == 1) {
        Append(text, "Windows XP ");
        Append(text, (r.suiteMask & kSuitePersonal) ? "Home Edition" : "Professional");
    } else if (r.major == 5 && r.minor == 0) {
        Append(text, "Windows 2000 ");
        if (workstation)
            Append(text, "Professional");
        else
            AppendBySuite(
                text, r.suiteMask,
                {{kSuiteDatacenter, "Datacenter Server"}, {kSuiteEnterprise, "Advanced Server"}},
                "Server");
    }

    if (!r.servicePack.empty()) {
        Append(text, " ");
        Append(text, r.servicePack.c_str());
    }
    char build[80];
    std::snprintf(build, sizeof build, " (build %u)", r.build);
    Append(text, build);

    if (r.major >= 6) {
        if (r.architecture == kArchX64) {
            Append(text, ", 64-bit");
            is64Bit = true;
        } else if (r.architecture == kArchX86) {
            Append(text, ", 32-bit");
        }
    }
    return true;
}

bool DescribeOperatingSystem(char* text, bool& is64Bit) {
    is64Bit = false;
    platform::OsVersionRecord record;
    if (!platform::ReadOsVersion(record))
        return false;
    if (record.isWindows)
        return DescribeWindowsVersion(record, text, is64Bit);
    text[0] = '\0';
    Append(text, record.otherDescription.c_str());
    is64Bit = record.other64Bit;
    return true;
}
