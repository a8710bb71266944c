#include "file_io.h"

#include "manifest/md5.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace publish {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

constexpr std::size_t kChunk = 1 << 16;

[[noreturn]] void Fail(const std::string& what, const fs::path& path, int error) {
    throw PublishError(what + " " + path.string() + ": " + std::strerror(error));
}

FilePtr Open(const fs::path& path, const char* mode) {
    FilePtr file(std::fopen(path.c_str(), mode));
    if (!file)
        Fail(mode[0] == 'r' ? "cannot read" : "cannot write", path, errno);
    return file;
}

void Flush(std::FILE* file, const fs::path& path) {
    if (std::fflush(file) != 0 || ::fsync(::fileno(file)) != 0)
        Fail("cannot write", path, errno);
}

// Reads the whole stream, handing every chunk to `sink`, and returns its digest.
template <typename Sink> Digest ReadAll(std::FILE* in, const fs::path& path, Sink sink) {
    std::vector<unsigned char> buffer(kChunk);
    Md5Context context;
    Digest digest;
    for (;;) {
        std::size_t n = std::fread(buffer.data(), 1, buffer.size(), in);
        if (n > 0) {
            context.Update(buffer.data(), n);
            sink(buffer.data(), n);
            digest.size += n;
        }
        if (n < buffer.size()) {
            if (std::ferror(in))
                Fail("cannot read", path, errno ? errno : EIO);
            break;
        }
    }
    unsigned char raw[16];
    if (!context.Final(raw))
        throw PublishError("cannot compute the MD5 of " + path.string());
    digest.md5 = Md5Hex(raw);
    return digest;
}

} // namespace

Digest HashFile(const fs::path& path) {
    FilePtr in = Open(path, "rb");
    return ReadAll(in.get(), path, [](const unsigned char*, std::size_t) {});
}

Digest CopyHashed(const fs::path& from, const fs::path& to) {
    FilePtr in = Open(from, "rb");
    FilePtr out = Open(to, "wb");
    Digest digest = ReadAll(in.get(), from, [&](const unsigned char* data, std::size_t n) {
        if (std::fwrite(data, 1, n, out.get()) != n)
            Fail("cannot write", to, errno);
    });
    Flush(out.get(), to);
    if (std::fclose(out.release()) != 0)
        Fail("cannot write", to, errno);
    return digest;
}

void SyncFile(const fs::path& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        Fail("cannot open", path, errno);
    int rc = ::fsync(fd);
    int error = errno;
    ::close(fd);
    if (rc != 0)
        Fail("cannot write", path, error);
}

void WriteFileAtomically(const fs::path& path, const std::string& bytes) {
    fs::path temp = path.parent_path() / TempName(path.filename().string());
    {
        FilePtr out = Open(temp, "wb");
        if (std::fwrite(bytes.data(), 1, bytes.size(), out.get()) != bytes.size())
            Fail("cannot write", temp, errno);
        Flush(out.get(), temp);
        if (std::fclose(out.release()) != 0)
            Fail("cannot write", temp, errno);
    }
    std::error_code ec;
    fs::rename(temp, path, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        throw PublishError("cannot replace " + path.string() + ": " + ec.message());
    }
}

bool ReadWholeFile(const fs::path& path, std::string& bytes) {
    FilePtr in(std::fopen(path.c_str(), "rb"));
    if (!in) {
        if (errno == ENOENT)
            return false;
        Fail("cannot read", path, errno);
    }
    bytes.clear();
    ReadAll(in.get(), path, [&](const unsigned char* data, std::size_t n) {
        bytes.append(reinterpret_cast<const char*>(data), n);
    });
    return true;
}

std::string TempName(const std::string& hint) {
    static std::atomic<unsigned> counter{0};
    return kTempPrefix + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" + hint;
}

} // namespace publish
