#include "platform/platform.h"

#include <windows.h>

#include <cctype>
#include <cerrno>
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
} // namespace

PathKind QueryPath(const std::string& path) {
    if (path.empty())
        return PathKind::Missing;
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return PathKind::Missing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Directory : PathKind::File;
}

bool MakeFolder(const std::string& path) {
    return CreateDirectoryA(path.c_str(), nullptr) != 0 || Fail();
}

bool CopyFileOver(const std::string& from, const std::string& to) {
    return CopyFileA(from.c_str(), to.c_str(), FALSE) != 0 || Fail();
}

bool RemoveFile(const std::string& path) {
    return DeleteFileA(path.c_str()) != 0 || Fail();
}

bool ClearReadOnly(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY))
        return false;
    return SetFileAttributesA(path.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY)) != 0 ||
           Fail();
}

bool IsOutOfSpace(int error) {
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

bool MoveFileOver(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0 ||
           Fail();
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
    if (_stat64(path.c_str(), &info) != 0)
        return FailCrt();
    size = info.st_size;
    return true;
}

bool ResizeFile(const std::string& path, std::int64_t size) {
    int fd = -1;
    if (_sopen_s(&fd, path.c_str(), _O_RDWR | _O_BINARY, _SH_DENYNO, _S_IREAD | _S_IWRITE) != 0)
        return FailCrt();
    bool ok = _chsize_s(fd, size) == 0 || FailCrt();
    _close(fd);
    return ok;
}

std::FILE* OpenShared(const std::string& path, const char* mode) {
    std::FILE* file = _fsopen(path.c_str(), mode, _SH_DENYNO);
    if (!file)
        FailCrt();
    return file;
}

bool SeekTo(std::FILE* file, std::int64_t offset) {
    return _fseeki64(file, offset, SEEK_SET) == 0;
}

bool FreeDiskSpace(const std::string& folder, std::int64_t& bytes) {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA(folder.c_str(), &available, nullptr, nullptr))
        return Fail();
    bytes = static_cast<std::int64_t>(available.QuadPart);
    return true;
}

bool ListFolder(const std::string& folder, std::vector<FolderItem>& items) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return Fail();
    items.clear();
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        FolderItem item;
        item.name = name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            item.kind = ItemKind::Link;
        else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            item.kind = ItemKind::Folder;
        items.push_back(item);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return true;
}

bool RemoveFolder(const std::string& path) {
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
