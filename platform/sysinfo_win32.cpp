#include "platform/platform.h"

#include <windows.h>

#include <cstring>

namespace platform {

namespace {
using GetNativeSystemInfoFn = void(WINAPI*)(LPSYSTEM_INFO);
using GetProductInfoFn = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, PDWORD);

// Looked up by name: neither exists on every Windows this program runs on.
template <typename Fn> Fn Lookup(const char* name) {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (!kernel)
        return nullptr;
    FARPROC proc = GetProcAddress(kernel, name);
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}
} // namespace

bool ReadOsVersion(OsVersionRecord& record) {
    OSVERSIONINFOEXA version;
    std::memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version; // 156
    if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&version)))
        return false;

    SYSTEM_INFO system;
    std::memset(&system, 0, sizeof system);
    // A 32-bit program on 64-bit Windows learns the machine's own architecture only this way.
    if (GetNativeSystemInfoFn native = Lookup<GetNativeSystemInfoFn>("GetNativeSystemInfo"))
        native(&system);
    else
        GetSystemInfo(&system);

    record = OsVersionRecord();
    record.isWindows = true;
    record.major = version.dwMajorVersion;
    record.minor = version.dwMinorVersion;
    record.build = version.dwBuildNumber;
    record.platformId = version.dwPlatformId;
    record.servicePack.assign(version.szCSDVersion,
                              strnlen(version.szCSDVersion, sizeof version.szCSDVersion));
    record.suiteMask = version.wSuiteMask;
    record.productType = version.wProductType;
    record.architecture = system.wProcessorArchitecture;
    if (version.dwMajorVersion == 6) {
        DWORD type = 0;
        GetProductInfoFn productInfo = Lookup<GetProductInfoFn>("GetProductInfo");
        if (productInfo &&
            productInfo(version.dwMajorVersion, version.dwMinorVersion, 0, 0, &type)) {
            record.hasProductInfo = true;
            record.productInfoType = type;
        }
    }
    record.serverR2 = GetSystemMetrics(SM_SERVERR2) != 0;
    return true;
}

bool ReadOsVersionNumbers(unsigned& major, unsigned& minor, unsigned& build) {
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    if (HMODULE ntdll = GetModuleHandleA("ntdll.dll")) {
        FARPROC proc = GetProcAddress(ntdll, "RtlGetVersion");
        auto rtlGetVersion = reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void (*)()>(proc));
        OSVERSIONINFOW version;
        std::memset(&version, 0, sizeof version);
        version.dwOSVersionInfoSize = sizeof version;
        if (rtlGetVersion && rtlGetVersion(&version) == 0) {
            major = version.dwMajorVersion;
            minor = version.dwMinorVersion;
            build = version.dwBuildNumber;
            return true;
        }
    }
    OsVersionRecord record;
    if (!ReadOsVersion(record))
        return false;
    major = record.major;
    minor = record.minor;
    build = record.build;
    return true;
}

} // namespace platform
