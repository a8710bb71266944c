#include "manifest/md5.h"

#include "support/log.h"

#include <atomic>
#include <cstdio>
#include <cstring>

namespace {

// The file is read in pieces this large: big enough that the system call per piece costs
// nothing next to the hashing, small enough to live on any thread's stack.
constexpr std::size_t kReadPiece = 64 * 1024;

// Every file on every run goes through here: one line says why all of them differ.
void LogMissingMd5Once() {
    static std::atomic<bool> logged{false};
    if (!logged.exchange(true))
        WriteLog("MD5 cannot be computed on this system: no file can be checked");
}

} // namespace

Md5Context::Md5Context() {
    platform::StartMd5(state_);
}

Md5Context::~Md5Context() {
    platform::DiscardMd5(state_);
}

void Md5Context::Update(const unsigned char* data, std::size_t length) {
    platform::FeedMd5(state_, data, length);
}

bool Md5Context::Final(unsigned char digest[16]) {
    if (platform::FinishMd5(state_, digest))
        return true;
    std::memset(digest, 0, 16);
    LogMissingMd5Once();
    return false;
}

std::string Md5Hex(const unsigned char digest[16]) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(32);
    for (int i = 0; i < 16; ++i) {
        text.push_back(kDigits[digest[i] >> 4]);
        text.push_back(kDigits[digest[i] & 0x0f]);
    }
    return text;
}

namespace {

// The digest of what could be read; `whole` false when the file could not be opened or a read
// failed before its end.
std::string DigestOfReadable(const std::string& path, bool& whole) {
    Md5Context context;
    // Binary, so a CR LF pair is hashed as the two bytes it is; shared, so a file another
    // program holds open can still be checked.
    std::FILE* file = platform::OpenShared(path, "rb");
    whole = file != nullptr;
    if (file) {
        unsigned char piece[kReadPiece];
        for (;;) {
            std::size_t got = std::fread(piece, 1, sizeof piece, file);
            if (got > 0)
                context.Update(piece, got);
            if (got < sizeof piece)
                break;
        }
        whole = !std::ferror(file);
        std::fclose(file);
    }
    unsigned char digest[16];
    if (!context.Final(digest))
        return std::string();
    return Md5Hex(digest);
}

} // namespace

std::string FileMd5(const std::string& path) {
    // A short piece is the end of the file or a read error; either way the digest covers what
    // could be read.
    bool whole = false;
    return DigestOfReadable(path, whole);
}

bool ReadFileMd5(const std::string& path, std::string& digest) {
    bool whole = false;
    digest = DigestOfReadable(path, whole);
    return whole;
}
