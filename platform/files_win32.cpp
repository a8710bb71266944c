#include "platform/platform.h"
#include "platform/player_text_win32.h"

#include <windows.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <cwchar>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

namespace platform {

namespace {
// The failing call's error, kept per thread: logging between the failure and the question
// must not change the answer.
thread_local int t_lastError = 0;

bool Fail() {
    t_lastError = static_cast<int>(GetLastError());
    return false;
}

// Run-time library calls leave the system's error number in _doserrno.
bool FailCrt() {
    t_lastError = static_cast<int>(_doserrno);
    return false;
}

// NUL-terminated. A vector, not a wide string: the library's wide strings would add a tenth to
// the program's size.
using WideText = std::vector<wchar_t>;

// The ANSI calls take paths of fewer than MAX_PATH (260) characters. Longer ones, which a deep
// game path below a deep chosen folder easily makes, go through the wide calls instead.
bool IsLong(const std::string& path) {
    return path.size() >= MAX_PATH;
}
// CreateDirectoryA leaves room for an 8.3 name below the folder: 12 characters fewer.
bool IsLongFolder(const std::string& path) {
    return path.size() >= MAX_PATH - 12;
}

// The path as the wide calls take it, read in the system's code page as the ANSI calls read it
// (so that a long and a short path to one file name the same file). A long one gets the "\\?\"
// prefix, which lifts the limit on every Windows the program runs on, XP included, and turns off
// the system's own rewriting of the path: "/" is made "\" and doubled separators single here.
WideText Wide(const std::string& path, bool prefixed = false) {
    WideText wide = WideFromCodePage(path, CP_ACP);
    const std::size_t needed = wide.size() - 1;
    if (needed == 0 || (!prefixed && !IsLong(path)))
        return wide;
    bool unc = needed >= 2 && (wide[0] == L'\\' || wide[0] == L'/') &&
               (wide[1] == L'\\' || wide[1] == L'/');
    const wchar_t* prefix = unc ? L"\\\\?\\UNC\\" : L"\\\\?\\";
    WideText longForm(prefix, prefix + std::wcslen(prefix));
    for (std::size_t i = unc ? 2 : 0; wide[i] != L'\0'; ++i) {
        wchar_t c = wide[i] == L'/' ? L'\\' : wide[i];
        if (c == L'\\' && longForm.back() == L'\\')
            continue;
        longForm.push_back(c);
    }
    longForm.push_back(L'\0');
    return longForm;
}

// The stdio mode for the wide open: "r+b" as L"r+b".
WideText WideMode(const char* mode) {
    WideText wide(mode, mode + std::strlen(mode));
    wide.push_back(L'\0');
    return wide;
}

DWORD Attributes(const std::string& path) {
    return IsLong(path) ? GetFileAttributesW(Wide(path).data()) : GetFileAttributesA(path.c_str());
}
} // namespace

PathKind QueryPath(const std::string& path) {
    if (path.empty())
        return PathKind::Missing;
    DWORD attributes = Attributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return PathKind::Missing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Directory : PathKind::File;
}

bool MakeFolder(const std::string& path) {
    if (IsLongFolder(path))
        return CreateDirectoryW(Wide(path, true).data(), nullptr) != 0 || Fail();
    return CreateDirectoryA(path.c_str(), nullptr) != 0 || Fail();
}

bool CopyFileOver(const std::string& from, const std::string& to) {
    if (IsLong(from) || IsLong(to))
        return CopyFileW(Wide(from).data(), Wide(to).data(), FALSE) != 0 || Fail();
    return CopyFileA(from.c_str(), to.c_str(), FALSE) != 0 || Fail();
}

bool RemoveFile(const std::string& path) {
    if (IsLong(path))
        return DeleteFileW(Wide(path).data()) != 0 || Fail();
    return DeleteFileA(path.c_str()) != 0 || Fail();
}

bool ClearReadOnly(const std::string& path) {
    DWORD attributes = Attributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY))
        return false;
    attributes &= ~DWORD(FILE_ATTRIBUTE_READONLY);
    if (IsLong(path))
        return SetFileAttributesW(Wide(path).data(), attributes) != 0 || Fail();
    return SetFileAttributesA(path.c_str(), attributes) != 0 || Fail();
}

bool IsOutOfSpace(int error) {
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

bool MoveFileOver(const std::string& from, const std::string& to) {
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (IsLong(from) || IsLong(to))
        return MoveFileExW(Wide(from).data(), Wide(to).data(), flags) != 0 || Fail();
    return MoveFileExA(from.c_str(), to.c_str(), flags) != 0 || Fail();
}

int LastError() {
    return t_lastError;
}

std::string SystemErrorText(int code) {
    HLOCAL buffer = nullptr;
    DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
    if (length == 0 || !buffer)
        return std::string();
    std::string text(static_cast<const char*>(LocalLock(buffer)), length);
    LocalUnlock(buffer);
    LocalFree(buffer);
    return text;
}

bool FileSize(const std::string& path, std::int64_t& size) {
    struct _stat64 info;
    if ((IsLong(path) ? _wstat64(Wide(path).data(), &info) : _stat64(path.c_str(), &info)) != 0)
        return FailCrt();
    size = info.st_size;
    return true;
}

bool ResizeFile(const std::string& path, std::int64_t size) {
    int fd = -1;
    const int flags = _O_RDWR | _O_BINARY;
    // _wsopen, not _wsopen_s, which the run-time library of Windows XP lacks.
    if (IsLong(path))
        fd = _wsopen(Wide(path).data(), flags, _SH_DENYNO, _S_IREAD | _S_IWRITE);
    else if (_sopen_s(&fd, path.c_str(), flags, _SH_DENYNO, _S_IREAD | _S_IWRITE) != 0)
        fd = -1;
    if (fd < 0)
        return FailCrt();
    bool ok = _chsize_s(fd, size) == 0 || FailCrt();
    _close(fd);
    return ok;
}

std::FILE* OpenShared(const std::string& path, const char* mode) {
    std::FILE* file = IsLong(path) ? _wfsopen(Wide(path).data(), WideMode(mode).data(), _SH_DENYNO)
                                   : _fsopen(path.c_str(), mode, _SH_DENYNO);
    if (!file)
        FailCrt();
    return file;
}

bool SeekTo(std::FILE* file, std::int64_t offset) {
    return _fseeki64(file, offset, SEEK_SET) == 0;
}

bool FreeDiskSpace(const std::string& folder, std::int64_t& bytes) {
    ULARGE_INTEGER available;
    bool asked = IsLong(folder)
                     ? GetDiskFreeSpaceExW(Wide(folder).data(), &available, nullptr, nullptr) != 0
                     : GetDiskFreeSpaceExA(folder.c_str(), &available, nullptr, nullptr) != 0;
    if (!asked)
        return Fail();
    bytes = static_cast<std::int64_t>(available.QuadPart);
    return true;
}

namespace {

FolderItem Item(std::string name, DWORD attributes) {
    FolderItem item;
    item.name = std::move(name);
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        item.kind = ItemKind::Link;
    else if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        item.kind = ItemKind::Folder;
    return item;
}

// A name the wide search found, in the system's code page as the ANSI calls give it.
std::string Narrow(const wchar_t* wide) {
    int needed = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 1)
        return std::string();
    std::string narrow(static_cast<std::size_t>(needed), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide, -1, &narrow[0], needed, nullptr, nullptr);
    narrow.resize(static_cast<std::size_t>(needed - 1));
    return narrow;
}

bool ListLongFolder(const std::string& folder, std::vector<FolderItem>& items) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(Wide(folder + "\\*").data(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return Fail();
    items.clear();
    do {
        std::string name = Narrow(found.cFileName);
        if (!name.empty() && name != "." && name != "..")
            items.push_back(Item(name, found.dwFileAttributes));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return true;
}

} // namespace

bool ListFolder(const std::string& folder, std::vector<FolderItem>& items) {
    if (IsLong(folder + "\\*"))
        return ListLongFolder(folder, items);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return Fail();
    items.clear();
    do {
        std::string name = found.cFileName;
        if (name != "." && name != "..")
            items.push_back(Item(name, found.dwFileAttributes));
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return true;
}

bool RemoveFolder(const std::string& path) {
    if (IsLong(path))
        return RemoveDirectoryW(Wide(path).data()) != 0 || Fail();
    return RemoveDirectoryA(path.c_str()) != 0 || Fail();
}

bool IsAbsolutePath(const std::string& path) {
    return path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
}

const char* NativeSeparator() {
    return "\\";
}

std::string DefaultInstallDir() {
    return "D:\\Felto";
}

} // namespace platform
