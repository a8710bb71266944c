// The Windows program as a file: it imports only functions that Windows XP SP3 has (anything
// newer is looked up by name at run time), the wide-character user interface and not the ANSI
// one, and it stays small enough to download at once. It says what it is in its version resource,
// and the build's signing step gives it a signature that holds until a byte changes.

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wine_prefix_posix.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>
#include <set>
#include <stdexcept>

namespace {

constexpr std::size_t kMaxProgramBytes = 512 * 1024;

// Reviewed: every function here exists in the system DLLs of Windows XP SP3 (for the 64-bit
// build, XP x64). The wide file calls take the paths too long for the ANSI ones. MessageBoxA and
// SHBrowseForFolderA are left out on purpose: the player's texts go through the wide calls only.
// The run-time's clocks (std::chrono, through winpthreads) bring GetProcessTimes, GetThreadTimes,
// GetSystemTimeAdjustment, SetSystemTime and FileTimeToSystemTime with them; the installer itself
// never sets the clock.
const std::map<std::string, std::set<std::string>> kAllowed = {
    {"kernel32.dll",
     {"__C_specific_handler",
      "AddVectoredExceptionHandler",
      "CloseHandle",
      "CopyFileA",
      "CopyFileW",
      "CreateDirectoryA",
      "CreateDirectoryW",
      "CreateEventA",
      "CreateMutexA",
      "CreateProcessA",
      "CreateSemaphoreA",
      "CreateSemaphoreW",
      "CreateThread",
      "DeleteCriticalSection",
      "DeleteFileA",
      "DeleteFileW",
      "DuplicateHandle",
      "EnterCriticalSection",
      "FileTimeToSystemTime",
      "FindClose",
      "FindFirstFileA",
      "FindFirstFileW",
      "FindNextFileA",
      "FindNextFileW",
      "FormatMessageA",
      "FreeLibrary",
      "GetCurrentProcess",
      "GetCurrentProcessId",
      "GetCurrentThread",
      "GetCurrentThreadId",
      "GetDiskFreeSpaceExA",
      "GetDiskFreeSpaceExW",
      "GetFileAttributesA",
      "GetFileAttributesW",
      "GetHandleInformation",
      "GetLastError",
      "GetModuleHandleA",
      "GetModuleHandleW",
      "GetProcAddress",
      "GetProcessAffinityMask",
      "GetProcessTimes",
      "GetStartupInfoA",
      "GetSystemInfo",
      "GetSystemTimeAdjustment",
      "GetSystemTimeAsFileTime",
      "GetThreadContext",
      "GetThreadPriority",
      "GetThreadTimes",
      "GetTickCount",
      "GetVersionExA",
      "GetWindowsDirectoryA",
      "InitializeCriticalSection",
      "IsDBCSLeadByteEx",
      "IsDebuggerPresent",
      "LeaveCriticalSection",
      "LoadLibraryA",
      "LoadLibraryW",
      "LocalFree",
      "LocalLock",
      "LocalUnlock",
      "MoveFileExA",
      "MoveFileExW",
      "MultiByteToWideChar",
      "OpenProcess",
      "OutputDebugStringA",
      "QueryPerformanceCounter",
      "QueryPerformanceFrequency",
      "RaiseException",
      "ReleaseMutex",
      "ReleaseSemaphore",
      "RemoveDirectoryA",
      "RemoveDirectoryW",
      "RemoveVectoredExceptionHandler",
      "ResetEvent",
      "ResumeThread",
      "RtlAddFunctionTable",
      "RtlCaptureContext",
      "RtlLookupFunctionEntry",
      "RtlUnwindEx",
      "RtlVirtualUnwind",
      "SetEvent",
      "SetFileAttributesA",
      "SetFileAttributesW",
      "SetLastError",
      "SetProcessAffinityMask",
      "SetSystemTime",
      "SetThreadContext",
      "SetThreadPriority",
      "SetUnhandledExceptionFilter",
      "Sleep",
      "SuspendThread",
      "TlsAlloc",
      "TlsFree",
      "TlsGetValue",
      "TlsSetValue",
      "TryEnterCriticalSection",
      "VirtualProtect",
      "VirtualQuery",
      "WaitForMultipleObjects",
      "WaitForSingleObject",
      "WideCharToMultiByte"}},
    {"msvcrt.dll",
     {"___lc_codepage_func",
      "___mb_cur_max_func",
      "__C_specific_handler",
      "__doserrno",
      "__getmainargs",
      "__initenv",
      "__iob_func",
      "__lconv_init",
      "__mb_cur_max",
      "__p__acmdln",
      "__p__commode",
      "__p__fmode",
      "__set_app_type",
      "__setusermatherr",
      "_acmdln",
      "_amsg_exit",
      "_beginthreadex",
      "_cexit",
      "_chsize",
      "_close",
      "_commode",
      "_endthreadex",
      "_errno",
      "_filelengthi64",
      "_fileno",
      "_fmode",
      "_fsopen",
      "_initterm",
      "_iob",
      "_localtime64",
      "_onexit",
      "_read",
      "_setjmp",
      "_setjmp3",
      "_sopen",
      "_stat64",
      "_strdup",
      "_time64",
      "_ultoa",
      "_wfsopen",
      "_wsopen",
      "_wstat64",
      "abort",
      "atoi",
      "calloc",
      "exit",
      "fclose",
      "ferror",
      "fflush",
      "fgetpos",
      "fprintf",
      "fputc",
      "fputs",
      "fread",
      "free",
      "fsetpos",
      "fwrite",
      "getc",
      "isalpha",
      "islower",
      "isspace",
      "isupper",
      "localeconv",
      "longjmp",
      "malloc",
      "memchr",
      "memcmp",
      "memcpy",
      "memmove",
      "memset",
      "printf",
      "realloc",
      "remove",
      "setlocale",
      "signal",
      "strchr",
      "strcmp",
      "strerror",
      "strlen",
      "strncmp",
      "strncpy",
      "strstr",
      "time",
      "tolower",
      "ungetc",
      "vfprintf",
      "wcscmp",
      "wcslen"}},
    {"ole32.dll", {"CoCreateInstance", "CoInitialize", "CoTaskMemFree", "CoUninitialize"}},
    {"shell32.dll",
     {"SHBrowseForFolderW", "SHGetPathFromIDListA", "SHGetPathFromIDListW",
      "SHGetSpecialFolderLocation", "ShellExecuteA"}},
    {"user32.dll", {"GetSystemMetrics", "MessageBoxW", "SendMessageA"}},
    {"ws2_32.dll",
     {"WSACleanup", "WSAGetLastError", "WSASetLastError", "WSAStartup", "__WSAFDIsSet",
      "closesocket", "connect", "gethostbyname", "getsockopt", "htons", "ioctlsocket", "recv",
      "select", "send", "setsockopt", "socket"}},
};

// What the progress window adds (FELTO_PROGRESS_WINDOW), all in Windows XP SP3 as well; the
// taskbar's progress (Windows 7) comes through CoCreateInstance, not an import.
const std::map<std::string, std::set<std::string>> kAllowedForTheProgressWindow = {
    {"comctl32.dll", {"InitCommonControlsEx"}},
    {"gdi32.dll", {"GetStockObject"}},
    {"user32.dll",
     {"AdjustWindowRect", "CreateWindowExW", "DefWindowProcW", "DispatchMessageW", "GetWindowLongW",
      "IsDialogMessageW", "LoadCursorW", "MsgWaitForMultipleObjects", "PeekMessageW",
      "RegisterClassW", "SendMessageW", "SetWindowLongW", "SetWindowTextW", "ShowWindow",
      "TranslateMessage", "UpdateWindow"}},
};

std::uint32_t Read32(const std::string& bytes, std::size_t at) {
    if (at + 4 > bytes.size())
        throw std::runtime_error("the file ends inside its headers");
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

std::uint16_t Read16(const std::string& bytes, std::size_t at) {
    if (at + 2 > bytes.size())
        throw std::runtime_error("the file ends inside its headers");
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                      static_cast<unsigned char>(bytes[at + 1]) << 8);
}

// "dll!function" for every function the program imports by name, "dll!#n" by ordinal; DLL
// names in lower case. Throws on a file that is not a well-formed PE program.
std::vector<std::string> ReadImports(const std::string& bytes) {
    std::size_t pe = Read32(bytes, 0x3c);
    if (bytes.compare(0, 2, "MZ") != 0 || bytes.compare(pe, 4, std::string("PE\0\0", 4)) != 0)
        throw std::runtime_error("not a PE program");
    std::size_t sections = Read16(bytes, pe + 6);
    std::size_t optional = pe + 24;
    std::size_t sectionTable = optional + Read16(bytes, pe + 20);
    bool wide = Read16(bytes, optional) == 0x20b; // PE32+: 64-bit thunks
    std::size_t directories = optional + (wide ? 112 : 96);
    std::uint32_t importRva = Read32(bytes, directories + 8);

    auto offsetOf = [&](std::uint32_t rva) -> std::size_t {
        for (std::size_t i = 0; i < sections; ++i) {
            std::size_t header = sectionTable + 40 * i;
            std::uint32_t address = Read32(bytes, header + 12);
            std::uint32_t size = std::max(Read32(bytes, header + 8), Read32(bytes, header + 16));
            if (rva >= address && rva < address + size)
                return rva - address + Read32(bytes, header + 20);
        }
        throw std::runtime_error("an address outside every section");
    };
    auto textAt = [&](std::uint32_t rva) {
        std::size_t at = offsetOf(rva);
        std::size_t end = bytes.find('\0', at);
        if (end == std::string::npos)
            throw std::runtime_error("a name runs past the end of the file");
        return bytes.substr(at, end - at);
    };

    std::vector<std::string> imports;
    for (std::size_t descriptor = offsetOf(importRva);; descriptor += 20) {
        std::uint32_t names = Read32(bytes, descriptor);
        std::uint32_t dllName = Read32(bytes, descriptor + 12);
        std::uint32_t slots = Read32(bytes, descriptor + 16);
        if (dllName == 0)
            break;
        std::string dll = textAt(dllName);
        for (char& c : dll)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (std::size_t thunk = offsetOf(names ? names : slots);; thunk += wide ? 8 : 4) {
            std::uint32_t low = Read32(bytes, thunk);
            std::uint32_t high = wide ? Read32(bytes, thunk + 4) : 0;
            if (low == 0 && high == 0)
                break;
            bool byOrdinal = wide ? (high & 0x80000000u) != 0 : (low & 0x80000000u) != 0;
            imports.push_back(dll + "!" +
                              (byOrdinal ? "#" + std::to_string(low & 0xffff) : textAt(low + 2)));
        }
    }
    return imports;
}

struct ProgramKind {
    const char* file;
    bool progressWindow;
};

class ProgramImportsTest : public ::testing::TestWithParam<ProgramKind> {};

TEST_P(ProgramImportsTest, ImportsOnlyWhatWindowsXpHasAndStaysSmall) {
    if (WindowsBuildDir().empty())
        GTEST_SKIP() << "FELTO_WIN_BUILD_DIR is not set: no Windows build to examine";
    const ProgramKind& kind = GetParam();
    std::string bytes = ReadFile(WindowsBuildDir() + "/" + kind.file);
    ASSERT_FALSE(bytes.empty()) << "no " << kind.file << " in " << WindowsBuildDir();

    // What ships is stripped; the limit leaves room for growth but not for debug sections.
    EXPECT_LT(bytes.size(), kMaxProgramBytes)
        << kind.file << " has " << bytes.size() << " bytes (a Release build is stripped)";

    std::map<std::string, std::set<std::string>> allowed = kAllowed;
    std::set<std::string> expectedDlls = {"kernel32.dll", "msvcrt.dll", "ole32.dll",
                                          "shell32.dll",  "user32.dll", "ws2_32.dll"};
    if (kind.progressWindow) {
        for (const auto& dll : kAllowedForTheProgressWindow) {
            allowed[dll.first].insert(dll.second.begin(), dll.second.end());
            expectedDlls.insert(dll.first);
        }
    }
    std::vector<std::string> imports = ReadImports(bytes);
    std::string unknown;
    std::set<std::string> dlls;
    for (const std::string& import : imports) {
        std::size_t bang = import.find('!');
        std::string dll = import.substr(0, bang);
        dlls.insert(dll);
        auto known = allowed.find(dll);
        if (known == allowed.end() || !known->second.count(import.substr(bang + 1)))
            unknown += " " + import;
    }
    EXPECT_EQ(unknown, "") << "imports outside the reviewed list: check that Windows XP SP3 has "
                              "them (else look them up at run time), then add them to the list";
    // The parse found the program's real imports, not an empty or cut table; the default build
    // carries nothing of the progress window.
    EXPECT_EQ(dlls, expectedDlls);
    EXPECT_GT(imports.size(), 100u);
    EXPECT_EQ(bytes.find("Microsoft.Windows.Common-Controls") != std::string::npos,
              kind.progressWindow)
        << "only the program with the progress window asks for common controls 6";
}

INSTANTIATE_TEST_SUITE_P(Builds, ProgramImportsTest,
                         ::testing::Values(ProgramKind{"FeltoInstaller.exe", false},
                                           ProgramKind{"FeltoInstallerProgress.exe", true}),
                         [](const ::testing::TestParamInfo<ProgramKind>& info) {
                             return info.param.progressWindow ? "WithProgressWindow" : "Default";
                         });

TEST(ProgramFileTest, SaysWhatItIsInItsVersionResource) {
    if (WindowsBuildDir().empty())
        GTEST_SKIP() << "FELTO_WIN_BUILD_DIR is not set: no Windows build to examine";
    const std::string bytes = ReadFile(WindowsBuildDir() + "/FeltoInstaller.exe");
    ASSERT_FALSE(bytes.empty());
    // The fixed part of the resource starts with its signature 0xFEEF04BD.
    EXPECT_NE(bytes.find(std::string("\xbd\x04\xef\xfe", 4)), std::string::npos);
    for (const char* text :
         {"ProductName", "FeltoInstaller", "FileDescription", "FileVersion", "CompanyName"})
        EXPECT_NE(bytes.find(FromUtf8(text, "UTF-16LE")), std::string::npos) << text;
}

int RunTool(const std::vector<std::string>& argv, const std::string& folder) {
    ChildOptions options;
    options.workingDir = folder;
    ChildResult result = RunChild(argv, options);
    EXPECT_TRUE(result.finished) << argv[0];
    return result.finished ? result.exitStatus : -1;
}

// A throw-away certificate authority and a code-signing certificate it issued, as a studio's
// PKCS#12 file with a password.
void MakeSigningKey(const TempDir& dir) {
    WriteFile(dir / "password", "felto-test\n");
    WriteFile(dir / "signer.ext", "basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                                  "extendedKeyUsage=codeSigning\n");
    const std::vector<std::vector<std::string>> steps = {
        {"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out",
         "ca.pem", "-days", "2", "-subj", "/CN=Felto Test CA", "-addext",
         "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign"},
        {"openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", "signer.key", "-out",
         "signer.csr", "-subj", "/CN=Felto Test Studio"},
        {"openssl", "x509", "-req", "-in", "signer.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
         "-CAcreateserial", "-out", "signer.pem", "-days", "2", "-extfile", "signer.ext"},
        {"openssl", "pkcs12", "-export", "-inkey", "signer.key", "-in", "signer.pem", "-certfile",
         "ca.pem", "-out", "signer.pfx", "-passout", "file:password"}};
    for (const std::vector<std::string>& step : steps)
        ASSERT_EQ(RunTool(step, dir.path()), 0) << step[1];
}

TEST(ProgramFileTest, SigningStepMakesASignatureThatFailsOnAnyChangedByte) {
    if (WindowsBuildDir().empty())
        GTEST_SKIP() << "FELTO_WIN_BUILD_DIR is not set: no Windows build to examine";
    const std::string program = ReadFile(WindowsBuildDir() + "/FeltoInstaller.exe");
    ASSERT_FALSE(program.empty());
    TempDir dir;
    ASSERT_NO_FATAL_FAILURE(MakeSigningKey(dir));
    const std::vector<std::string> verify = {"osslsigncode", "verify", "-CAfile",
                                             "ca.pem",       "-in",    "FeltoInstaller.exe"};
    WriteFile(dir / "FeltoInstaller.exe", program);
    EXPECT_NE(RunTool(verify, dir.path()), 0) << "the default build is signed";

    ASSERT_EQ(RunTool({std::string(FELTO_SOURCE_DIR) + "/cmake/codesign.sh", "FeltoInstaller.exe",
                       "signer.pfx", "password"},
                      dir.path()),
              0);
    EXPECT_FALSE(FileExists(dir / "FeltoInstaller.exe.signed"));
    EXPECT_EQ(RunTool(verify, dir.path()), 0);

    std::string signedProgram = ReadFile(dir / "FeltoInstaller.exe");
    ASSERT_GT(signedProgram.size(), program.size());
    signedProgram[program.size() / 2] ^= 0x01; // inside the code, outside the signature
    WriteFile(dir / "FeltoInstaller.exe", signedProgram);
    EXPECT_NE(RunTool(verify, dir.path()), 0) << "a changed byte went unnoticed";
}

} // namespace
