#include "platform/platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace platform {

namespace {
thread_local int t_lastError = 0;

bool Fail() {
    t_lastError = errno;
    return false;
}

// Paths come from Windows habits and manifests written for Windows: "\" separates folders
// there, so it does here too, and making folders agrees with copying files into them.
std::string Native(const std::string& path) {
    std::string native = path;
    for (char& c : native)
        if (c == '\\')
            c = '/';
    return native;
}
} // namespace

PathKind QueryPath(const std::string& path) {
    struct stat info;
    if (path.empty() || ::stat(Native(path).c_str(), &info) != 0)
        return PathKind::Missing;
    return S_ISDIR(info.st_mode) ? PathKind::Directory : PathKind::File;
}

bool MakeFolder(const std::string& path) {
    return ::mkdir(Native(path).c_str(), 0755) == 0 || Fail();
}

bool CopyFileOver(const std::string& from, const std::string& to) {
    int in = ::open(Native(from).c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return Fail();
    struct stat info;
    if (::fstat(in, &info) != 0 || S_ISDIR(info.st_mode)) {
        int error = S_ISDIR(info.st_mode) ? EISDIR : errno;
        ::close(in);
        errno = error;
        return Fail();
    }
    int out =
        ::open(Native(to).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, info.st_mode & 0777);
    if (out < 0) {
        int error = errno;
        ::close(in);
        errno = error;
        return Fail();
    }
    char buffer[1 << 16];
    bool ok = true;
    int error = 0;
    while (ok) {
        ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ok = false;
            error = errno;
        }
        for (ssize_t done = 0; ok && done < n;) {
            ssize_t w = ::write(out, buffer + done, n - done);
            if (w >= 0) {
                done += w;
            } else if (errno != EINTR) {
                ok = false;
                error = errno;
            }
        }
    }
    ::close(in);
    if (::close(out) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        errno = error;
        return Fail();
    }
    return true;
}

bool RemoveFile(const std::string& path) {
    return ::unlink(Native(path).c_str()) == 0 || Fail();
}

bool ClearReadOnly(const std::string& path) {
    struct stat info;
    if (::stat(Native(path).c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
        (info.st_mode & S_IWUSR))
        return false;
    return ::chmod(Native(path).c_str(), (info.st_mode & 07777) | S_IWUSR) == 0 || Fail();
}

bool IsOutOfSpace(int error) {
    return error == ENOSPC || error == EDQUOT;
}

bool MoveFileOver(const std::string& from, const std::string& to) {
    return ::rename(Native(from).c_str(), Native(to).c_str()) == 0 || Fail();
}

int LastError() {
    return t_lastError;
}

std::string SystemErrorText(int code) {
    return std::strerror(code);
}

bool FileSize(const std::string& path, std::int64_t& size) {
    struct stat info;
    if (::stat(Native(path).c_str(), &info) != 0)
        return Fail();
    size = info.st_size;
    return true;
}

bool ResizeFile(const std::string& path, std::int64_t size) {
    return ::truncate(Native(path).c_str(), size) == 0 || Fail();
}

std::FILE* OpenShared(const std::string& path, const char* mode) {
    std::FILE* file = std::fopen(Native(path).c_str(), mode);
    if (file)
        ::fcntl(fileno(file), F_SETFD, FD_CLOEXEC);
    else
        Fail();
    return file;
}

bool SeekTo(std::FILE* file, std::int64_t offset) {
    return ::fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool FreeDiskSpace(const std::string& folder, std::int64_t& bytes) {
    struct statvfs info;
    if (::statvfs(folder.c_str(), &info) != 0)
        return Fail();
    bytes = static_cast<std::int64_t>(info.f_bavail) * static_cast<std::int64_t>(info.f_frsize);
    return true;
}

bool ListFolder(const std::string& folder, std::vector<FolderItem>& items) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return Fail();
    items.clear();
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat info;
        FolderItem item;
        item.name = name;
        if (::lstat((folder + "/" + name).c_str(), &info) == 0)
            item.kind = S_ISLNK(info.st_mode)   ? ItemKind::Link
                        : S_ISDIR(info.st_mode) ? ItemKind::Folder
                                                : ItemKind::File;
        items.push_back(item);
    }
    ::closedir(dir);
    return true;
}

bool RemoveFolder(const std::string& path) {
    return ::rmdir(path.c_str()) == 0 || Fail();
}

const char* NativeSeparator() {
    return "/";
}

bool IsAbsolutePath(const std::string& path) {
    return !path.empty() && path[0] == '/';
}

std::string DefaultInstallDir() {
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/Felto";
}

} // namespace platform
