#pragma once
// The one place that knows the operating system. Every function here has a Win32 backend
// (*_win32.cpp, calling the Windows interface named beside it) and a POSIX backend
// (*_posix.cpp, the nearest sound equivalent).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace platform {

// ---- Files and folders (files_*.cpp) ----
// Paths may mix "\" and "/" on every system: the POSIX backend reads "\" as "/".

enum class PathKind { Missing, File, Directory };

// GetFileAttributesA: what stands at a path. Missing also when it cannot be examined.
PathKind QueryPath(const std::string& path);
// CreateDirectoryA with default security: one folder, parent must exist.
bool MakeFolder(const std::string& path);
// CopyFileA(from, to, FALSE): an existing target is overwritten in place (a failed copy may
// leave it half written). On failure LastError() says why.
bool CopyFileOver(const std::string& from, const std::string& to);
// DeleteFileA.
bool RemoveFile(const std::string& path);
// SetFileAttributesA without FILE_ATTRIBUTE_READONLY / chmod u+w, when the file has it (an
// archiver restores the attribute a packed member carries). False when nothing needed clearing
// or it could not be cleared.
bool ClearReadOnly(const std::string& path);
// A failure for lack of room on the volume (ERROR_DISK_FULL, ERROR_HANDLE_DISK_FULL / ENOSPC,
// EDQUOT).
bool IsOutOfSpace(int error);
// MoveFileExA(MOVEFILE_REPLACE_EXISTING) / rename: puts a finished file in place of another in
// one step, so the target is always either the old file or the new one.
bool MoveFileOver(const std::string& from, const std::string& to);
// GetLastError() / errno of the last failed file call on this thread.
int LastError();
// FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM) / strerror: the system's text for an error number.
std::string SystemErrorText(int code);
// _stat64: size of a file in bytes; false when it cannot be examined.
bool FileSize(const std::string& path, std::int64_t& size);
// Cut or extend a file to a size.
bool ResizeFile(const std::string& path, std::int64_t size);
// fopen with no sharing restriction (_fsopen _SH_DENYNO on Windows), so other programs may read
// and write the file meanwhile. On failure LastError() says why.
std::FILE* OpenShared(const std::string& path, const char* mode);
// Seek a stream to a 64-bit offset from its start.
bool SeekTo(std::FILE* file, std::int64_t offset);
// GetDiskFreeSpaceExA / statvfs: bytes this user may still write on the folder's volume.
bool FreeDiskSpace(const std::string& folder, std::int64_t& bytes);

enum class ItemKind { File, Folder, Link };
struct FolderItem {
    std::string name;
    ItemKind kind = ItemKind::File; // Link: a symbolic link or junction, never followed
};
// FindFirstFileA / FindNextFileA; opendir / readdir: the items of a folder, without "." and "..".
bool ListFolder(const std::string& folder, std::vector<FolderItem>& items);
// RemoveDirectoryA / rmdir: an empty folder, or a link to a folder (its target is untouched).
bool RemoveFolder(const std::string& path);
// A path that names its root: a drive letter ("D:") on Windows, a leading "/" elsewhere.
bool IsAbsolutePath(const std::string& path);
// The separator the system's own tools expect between folder and file: "\\" / "/".
const char* NativeSeparator();
// The install folder offered first: D:\Felto on Windows, $HOME/Felto elsewhere.
std::string DefaultInstallDir();

// ---- Single instance (instance_*.cpp) ----

enum class InstanceLock { Taken, HeldElsewhere, CannotCreate };
// The lock file's name in the install folder where the system needs one (POSIX).
constexpr const char* kInstanceLockFileName = ".FeltoUpdater.lock";
// CreateMutexA(NULL, FALSE, "FeltoUpdater") + GetLastError(): Taken, with the handle, while this
// process is the only installer running; HeldElsewhere when the name exists or the call failed.
// On POSIX an flock on kInstanceLockFileName in `installDir`, so every path to one folder meets
// the same lock, dropped by the system when the process dies; CannotCreate, with the error
// number, when that file cannot be opened or locked for another reason than another holder.
InstanceLock AcquireInstanceLock(const std::string& installDir, void*& handle, int& error);
// ReleaseMutex + CloseHandle.
void ReleaseInstanceLock(void* handle);

// ---- Texts (text_*.cpp) ----

// IsDBCSLeadByteEx(936, byte): the first byte of a two-byte character, whose second byte may be
// "\" without being a separator. Never on POSIX, whose texts are UTF-8.
bool IsLeadByte(unsigned char byte);
// The file-system name of an install path as a manifest lists it (code page 936 bytes): the same
// bytes on Windows, whose ANSI calls take them; turned into UTF-8 elsewhere, so one manifest
// installs the same names on every system. Bytes that are no code-page-936 text stay as they are.
std::string FileNameFromManifest(const std::string& path);

// ---- User interface (ui_*.cpp) ----

// MessageBoxW(NULL, text, caption, MB_OK) with both texts turned from code page 936 into UTF-16
// (MultiByteToWideChar(936, ...)), so that they read the same on a system of any code page;
// waits until the player closes it. On POSIX the caption and text go to standard error.
void ShowMessage(const std::string& text, const std::string& caption);

enum class FolderChoice { Chosen, Cancelled, Unusable };
// SHBrowseForFolderW with the title (code page 936, as ShowMessage), starting at `initial` (a
// path in the system's code page), then SHGetPathFromIDListW. Chosen with the folder as a path in
// the system's code page; Unusable when that path cannot be written in the system's code page
// (the program opens files by byte-string paths, and a stand-in character would name another
// folder); Cancelled when the player cancelled, picked something that is not a folder of the file
// system, or there is no dialog (POSIX).
FolderChoice BrowseForFolder(const std::string& title, const std::string& initial,
                             std::string& folder);
// Every later ShowMessage box is owned by this window (a window handle; nullptr: none), so that
// it comes up in front of it. POSIX: nothing to do.
void SetMessageOwner(void* window);

// What goes before a line written to standard error so that it replaces a progress line shown
// there ("\r" and erase to the end of the line; POSIX only); "" when none is shown.
const char* StandardErrorLinePrefix();
// The progress line is shown on standard error from now on (POSIX); nothing on Windows.
void NoteProgressLineShown();

// ---- Progress display (progress_window_*.cpp) ----
// Windows: a small window of the program's own (title, one status line, a progress bar and a
// Cancel button; texts in code page 936 as ShowMessage), whose progress the taskbar button
// shows too on Windows 7 and later (ITaskbarList3, asked for through COM at run time). POSIX:
// one line on standard error rewritten in place, only when standard error is a terminal.
// False when there is nothing to show it on.
bool OpenProgressWindow(const std::string& title, const std::string& cancelText);
// The status line and the bar, in tenths of a percent; -1: a moving bar, no measure yet.
void ShowProgress(const std::string& status, int permille);
// Runs the window's messages for about `milliseconds`; true when the player asked to cancel
// (the Cancel button, the title bar's close button, Alt+F4). POSIX: waits, never true.
bool RunProgressWindow(unsigned milliseconds);
// MessageBoxW(window, question, caption, MB_YESNO): true on yes. POSIX: false.
bool AskYesNo(const std::string& question, const std::string& caption);

// The root of the drive Windows is on ("C:\", from GetWindowsDirectoryA); "/" elsewhere.
std::string SystemDriveRoot();

// ---- Threads and time (threads_*.cpp) ----

using ThreadRoutine = unsigned (*)(void* arg);

// CreateThread, handle discarded: the thread runs on its own and is never joined.
bool StartDetachedThread(ThreadRoutine routine, void* arg);

struct ThreadHandle {
    void* native = nullptr;
};
// CreateThread, handle kept for WaitAllThreads.
bool StartThread(ThreadRoutine routine, void* arg, ThreadHandle& handle);
// WaitForMultipleObjects(all, INFINITE), then closes the handles.
void WaitAllThreads(std::vector<ThreadHandle>& handles);

void SleepMs(unsigned milliseconds);

// An auto-reset event (CreateEventA, SetEvent, WaitForSingleObject with a time-out): one thread
// raises it, another wakes.
struct WakeEvent {
    void* native = nullptr;
};
bool OpenWakeEvent(WakeEvent& event);
void RaiseWakeEvent(WakeEvent& event);
// Returns once the event is raised (and lowers it again), or after `milliseconds`.
void WaitWakeEvent(WakeEvent& event, unsigned milliseconds);
// CloseHandle; only when no thread can raise or wait on it any more.
void CloseWakeEvent(WakeEvent& event);

// _time64 + _localtime64_s. False with the error number when local time cannot be had.
bool LocalTimeNow(std::tm& out, int& error);

// ---- Sockets (sockets_*.cpp) ----

using Socket = std::intptr_t;
constexpr Socket kInvalidSocket = -1;

enum class SocketStartup { Ok, Failed, WrongVersion };
// WSAStartup(0x0101) / nothing to do on POSIX (but SIGPIPE is ignored there).
SocketStartup StartSockets();
// WSACleanup.
void StopSockets();

// socket(AF_INET, SOCK_STREAM, 0).
Socket OpenTcpSocket();
// gethostbyname: first IPv4 address of a host (network byte order).
bool ResolveHost(const std::string& host, std::uint32_t& address);
// connect to address:port, giving up after timeoutMs (0 = wait as long as the system waits).
bool ConnectTo(Socket socket, std::uint32_t address, int port, int timeoutMs);
// Receive time-out for every later receive on the socket (0 = none).
void SetReceiveTimeout(Socket socket, int timeoutMs);
// One send call; the count sent, or -1 on failure.
long SendSome(Socket socket, const char* data, std::size_t length);
// One recv call; the count received, 0 when the peer closed, -1 on failure or time-out. `peek`:
// the bytes stay in the socket for the next receive (MSG_PEEK).
long ReceiveSome(Socket socket, char* buffer, std::size_t length, bool peek = false);
// Whether a receive would return at once (select / poll with no wait): on a connection kept idle
// between requests, that means the server closed it or sent what no request asked for.
bool HasPendingInput(Socket socket);
// closesocket.
void CloseSocket(Socket socket);
// WSAGetLastError / errno.
int LastSocketError();

// ---- Programs (programs_*.cpp) ----

struct ProgramHandle {
    std::intptr_t native = 0; // the process handle / the child's process id
};
// Start a program without a window, so that its end can be waited for. Windows:
// CreateProcessA(NULL, commandLine) with SW_HIDE, the command line read as WinExec reads it;
// POSIX: the argument vector, after making argv[0] executable. The result follows WinExec:
// above 31 when the program was started, else the system's error number (2 for a missing file),
// or 11 where that number is not below 32.
unsigned StartHidden(const std::string& commandLine, const std::vector<std::string>& argv,
                     ProgramHandle& program);
// WaitForSingleObject(program, timeoutMs) / waitpid: true once the program has ended.
bool WaitForProgram(ProgramHandle& program, unsigned timeoutMs);
// CloseHandle; the program, if it still runs, runs on.
void ReleaseProgram(ProgramHandle& program);
// ShellExecuteA(NULL, "open", program, NULL, workingDir, SW_SHOWNORMAL); POSIX starts the
// program directly in workingDir after making it executable. Above 32 when it was started.
long OpenProgram(const std::string& program, const std::string& workingDir);

// ---- Desktop shortcut (shortcut_*.cpp) ----

// CoInitialize: the shell work below runs only between a successful BeginShellWork and its
// EndShellWork (CoUninitialize). POSIX: nothing to start, always true.
bool BeginShellWork();
void EndShellWork();
// SHGetSpecialFolderLocation(CSIDL_DESKTOPDIRECTORY) + SHGetPathFromIDListA; $HOME/Desktop.
bool DesktopFolder(std::string& folder);
// What follows the desktop folder in the shortcut's path: "\Felto.lnk" / "/Felto.desktop".
const char* ShortcutFileSuffix();
// COM IShellLinkA + IPersistFile::Save; a freedesktop launcher file on POSIX.
bool WriteShortcut(const std::string& shortcutPath, const std::string& target,
                   const std::string& workingDir);

// ---- System description (sysinfo_*.cpp) ----

// The facts a version description is built from. On Windows they come from GetVersionExA,
// GetNativeSystemInfo (or GetSystemInfo), GetProductInfo and GetSystemMetrics(SM_SERVERR2).
struct OsVersionRecord {
    bool isWindows = true;
    unsigned major = 0, minor = 0, build = 0, platformId = 0;
    std::string servicePack;
    unsigned suiteMask = 0;
    unsigned productType = 0;
    unsigned architecture = 0; // 0 x86, 6 Itanium, 9 x64
    bool hasProductInfo = false;
    unsigned productInfoType = 0;
    bool serverR2 = false;
    // Elsewhere: uname's description and whether the machine is 64-bit.
    std::string otherDescription;
    bool other64Bit = false;
};
// False when the version cannot be read (GetVersionExA fails).
bool ReadOsVersion(OsVersionRecord& record);
// The system's own version numbers, for the studio's report: RtlGetVersion (looked up in
// ntdll), which tells Windows 10 and 11 apart where GetVersionExA answers 6.2.9200 to a program
// that declares no newer Windows, else GetVersionExA; the kernel's release numbers elsewhere.
bool ReadOsVersionNumbers(unsigned& major, unsigned& minor, unsigned& build);

// ---- Digests (digest_*.cpp) ----

// One MD5 computation in progress: the system's own object, or nothing once it has failed.
struct Md5State {
    void* native = nullptr;
};
// Starts an MD5 computation. Windows: CNG (bcrypt.dll, loaded when first needed), else the
// CryptoAPI of advapi32 (Windows XP has no bcrypt.dll), both looked up at run time; POSIX:
// OpenSSL's libcrypto. False when the system offers no MD5 at all.
bool StartMd5(Md5State& state);
// Feeds bytes. A failed call ends the computation, so that no digest is taken from it.
void FeedMd5(Md5State& state, const unsigned char* data, std::size_t length);
// The 16 digest bytes; ends the computation. False when any step failed: never a wrong digest.
bool FinishMd5(Md5State& state, unsigned char digest[16]);
// Ends a computation whose digest is not taken.
void DiscardMd5(Md5State& state);
// Which service computes MD5 here: "CNG", "CryptoAPI", "libcrypto", or "" when none can.
const char* Md5Provider();
// Test seam: computations started from now on pass over CNG, as on a system without bcrypt.dll
// (Wine's CryptoAPI needs bcrypt.dll itself, so a test cannot just take it away). Nothing
// changes where there is no second service (POSIX).
void UseMd5FallbackForTesting(bool fallback);

// ---- Signatures (signature_*.cpp) ----

enum class SignatureCheck { Valid, Invalid, Unavailable };
// ECDSA P-256 with SHA-256 over `message`. `publicPoint` is the uncompressed point (0x04, X, Y:
// 65 bytes), `rawSignature` r and s as 32 big-endian bytes each. Windows: CNG (bcrypt.dll,
// loaded when first needed); POSIX: OpenSSL's libcrypto. Unavailable when the system cannot
// check at all (no bcrypt.dll, no P-256 support).
SignatureCheck VerifyP256Signature(const std::string& publicPoint, const std::string& message,
                                   const std::string& rawSignature);
// Test seam: while set, every check answers Unavailable, as on a system without the provider
// (Windows XP) or with one that refuses the key.
void MakeSignatureCheckUnavailableForTesting(bool unavailable);

} // namespace platform
