#include "manifest/md5.h"

#include "platform/platform.h"

#include <cstring>

namespace {

// The file is read in pieces this large: big enough that the system call per piece costs
// nothing next to the hashing, small enough to live on any thread's stack.
constexpr std::size_t kReadPiece = 64 * 1024;

inline std::uint32_t Load32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

inline void Store32(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

inline std::uint32_t Rotl(std::uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

// The four auxiliary functions of RFC 1321 in forms with fewer operations; G is written as a
// sum of two disjoint terms so both halves can be computed in parallel.
inline std::uint32_t F(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
    return z ^ (x & (y ^ z));
}
inline std::uint32_t G(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
    return (x & z) + (y & ~z);
}
inline std::uint32_t H(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
    return x ^ y ^ z;
}
inline std::uint32_t I(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
    return y ^ (x | ~z);
}

#define FELTO_MD5_STEP(f, a, b, c, d, x, s, ac)                                                    \
    a += f(b, c, d) + (x) + std::uint32_t(ac);                                                     \
    a = Rotl(a, s) + b;

} // namespace

Md5Context::Md5Context() : state_{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476}, count_{0, 0} {}

void Md5Context::Transform(const unsigned char block[64]) {
    std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    std::uint32_t x[16];
    for (int i = 0; i < 16; ++i)
        x[i] = Load32(block + 4 * i);

    // Round 1
    FELTO_MD5_STEP(F, a, b, c, d, x[0], 7, 0xd76aa478)
    FELTO_MD5_STEP(F, d, a, b, c, x[1], 12, 0xe8c7b756)
    FELTO_MD5_STEP(F, c, d, a, b, x[2], 17, 0x242070db)
    FELTO_MD5_STEP(F, b, c, d, a, x[3], 22, 0xc1bdceee)
    FELTO_MD5_STEP(F, a, b, c, d, x[4], 7, 0xf57c0faf)
    FELTO_MD5_STEP(F, d, a, b, c, x[5], 12, 0x4787c62a)
    FELTO_MD5_STEP(F, c, d, a, b, x[6], 17, 0xa8304613)
    FELTO_MD5_STEP(F, b, c, d, a, x[7], 22, 0xfd469501)
    FELTO_MD5_STEP(F, a, b, c, d, x[8], 7, 0x698098d8)
    FELTO_MD5_STEP(F, d, a, b, c, x[9], 12, 0x8b44f7af)
    FELTO_MD5_STEP(F, c, d, a, b, x[10], 17, 0xffff5bb1)
    FELTO_MD5_STEP(F, b, c, d, a, x[11], 22, 0x895cd7be)
    FELTO_MD5_STEP(F, a, b, c, d, x[12], 7, 0x6b901122)
    FELTO_MD5_STEP(F, d, a, b, c, x[13], 12, 0xfd987193)
    FELTO_MD5_STEP(F, c, d, a, b, x[14], 17, 0xa679438e)
    FELTO_MD5_STEP(F, b, c, d, a, x[15], 22, 0x49b40821)

    // Round 2
    FELTO_MD5_STEP(G, a, b, c, d, x[1], 5, 0xf61e2562)
    FELTO_MD5_STEP(G, d, a, b, c, x[6], 9, 0xc040b340)
    FELTO_MD5_STEP(G, c, d, a, b, x[11], 14, 0x265e5a51)
    FELTO_MD5_STEP(G, b, c, d, a, x[0], 20, 0xe9b6c7aa)
    FELTO_MD5_STEP(G, a, b, c, d, x[5], 5, 0xd62f105d)
    FELTO_MD5_STEP(G, d, a, b, c, x[10], 9, 0x02441453)
    FELTO_MD5_STEP(G, c, d, a, b, x[15], 14, 0xd8a1e681)
    FELTO_MD5_STEP(G, b, c, d, a, x[4], 20, 0xe7d3fbc8)
    FELTO_MD5_STEP(G, a, b, c, d, x[9], 5, 0x21e1cde6)
    FELTO_MD5_STEP(G, d, a, b, c, x[14], 9, 0xc33707d6)
    FELTO_MD5_STEP(G, c, d, a, b, x[3], 14, 0xf4d50d87)
    FELTO_MD5_STEP(G, b, c, d, a, x[8], 20, 0x455a14ed)
    FELTO_MD5_STEP(G, a, b, c, d, x[13], 5, 0xa9e3e905)
    FELTO_MD5_STEP(G, d, a, b, c, x[2], 9, 0xfcefa3f8)
    FELTO_MD5_STEP(G, c, d, a, b, x[7], 14, 0x676f02d9)
    FELTO_MD5_STEP(G, b, c, d, a, x[12], 20, 0x8d2a4c8a)

    // Round 3
    FELTO_MD5_STEP(H, a, b, c, d, x[5], 4, 0xfffa3942)
    FELTO_MD5_STEP(H, d, a, b, c, x[8], 11, 0x8771f681)
    FELTO_MD5_STEP(H, c, d, a, b, x[11], 16, 0x6d9d6122)
    FELTO_MD5_STEP(H, b, c, d, a, x[14], 23, 0xfde5380c)
    FELTO_MD5_STEP(H, a, b, c, d, x[1], 4, 0xa4beea44)
    FELTO_MD5_STEP(H, d, a, b, c, x[4], 11, 0x4bdecfa9)
    FELTO_MD5_STEP(H, c, d, a, b, x[7], 16, 0xf6bb4b60)
    FELTO_MD5_STEP(H, b, c, d, a, x[10], 23, 0xbebfbc70)
    FELTO_MD5_STEP(H, a, b, c, d, x[13], 4, 0x289b7ec6)
    FELTO_MD5_STEP(H, d, a, b, c, x[0], 11, 0xeaa127fa)
    FELTO_MD5_STEP(H, c, d, a, b, x[3], 16, 0xd4ef3085)
    FELTO_MD5_STEP(H, b, c, d, a, x[6], 23, 0x04881d05)
    FELTO_MD5_STEP(H, a, b, c, d, x[9], 4, 0xd9d4d039)
    FELTO_MD5_STEP(H, d, a, b, c, x[12], 11, 0xe6db99e5)
    FELTO_MD5_STEP(H, c, d, a, b, x[15], 16, 0x1fa27cf8)
    FELTO_MD5_STEP(H, b, c, d, a, x[2], 23, 0xc4ac5665)

    // Round 4
    FELTO_MD5_STEP(I, a, b, c, d, x[0], 6, 0xf4292244)
    FELTO_MD5_STEP(I, d, a, b, c, x[7], 10, 0x432aff97)
    FELTO_MD5_STEP(I, c, d, a, b, x[14], 15, 0xab9423a7)
    FELTO_MD5_STEP(I, b, c, d, a, x[5], 21, 0xfc93a039)
    FELTO_MD5_STEP(I, a, b, c, d, x[12], 6, 0x655b59c3)
    FELTO_MD5_STEP(I, d, a, b, c, x[3], 10, 0x8f0ccc92)
    FELTO_MD5_STEP(I, c, d, a, b, x[10], 15, 0xffeff47d)
    FELTO_MD5_STEP(I, b, c, d, a, x[1], 21, 0x85845dd1)
    FELTO_MD5_STEP(I, a, b, c, d, x[8], 6, 0x6fa87e4f)
    FELTO_MD5_STEP(I, d, a, b, c, x[15], 10, 0xfe2ce6e0)
    FELTO_MD5_STEP(I, c, d, a, b, x[6], 15, 0xa3014314)
    FELTO_MD5_STEP(I, b, c, d, a, x[13], 21, 0x4e0811a1)
    FELTO_MD5_STEP(I, a, b, c, d, x[4], 6, 0xf7537e82)
    FELTO_MD5_STEP(I, d, a, b, c, x[11], 10, 0xbd3af235)
    FELTO_MD5_STEP(I, c, d, a, b, x[2], 15, 0x2ad7d2bb)
    FELTO_MD5_STEP(I, b, c, d, a, x[9], 21, 0xeb86d391)

    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}

#undef FELTO_MD5_STEP

void Md5Context::Update(const unsigned char* data, std::size_t length) {
    std::size_t index = (count_[0] >> 3) & 0x3f;
    std::uint64_t bits = std::uint64_t(length) << 3;
    std::uint32_t low = count_[0] + static_cast<std::uint32_t>(bits);
    if (low < count_[0])
        ++count_[1];
    count_[0] = low;
    count_[1] += static_cast<std::uint32_t>(bits >> 32);

    std::size_t room = 64 - index;
    std::size_t used = 0;
    if (length >= room) {
        std::memcpy(buffer_ + index, data, room);
        Transform(buffer_);
        for (used = room; used + 64 <= length; used += 64)
            Transform(data + used);
        index = 0;
    }
    std::memcpy(buffer_ + index, data + used, length - used);
}

void Md5Context::Final(unsigned char digest[16]) {
    unsigned char length[8];
    Store32(length, count_[0]);
    Store32(length + 4, count_[1]);

    static const unsigned char kPadding[64] = {0x80};
    std::size_t index = (count_[0] >> 3) & 0x3f;
    std::size_t padding = index < 56 ? 56 - index : 120 - index;
    Update(kPadding, padding);
    Update(length, 8);

    for (int i = 0; i < 4; ++i)
        Store32(digest + 4 * i, state_[i]);
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

std::string FileMd5(const std::string& path) {
    Md5Context context;
    // Binary, so a CR LF pair is hashed as the two bytes it is; shared, so a file another
    // program holds open can still be checked.
    std::FILE* file = platform::OpenShared(path, "rb");
    if (file) {
        unsigned char piece[kReadPiece];
        for (;;) {
            std::size_t got = std::fread(piece, 1, sizeof piece, file);
            if (got > 0)
                context.Update(piece, got);
            // A short piece is the end of the file or a read error; either way the digest covers
            // what could be read.
            if (got < sizeof piece)
                break;
        }
        std::fclose(file);
    }
    unsigned char digest[16];
    context.Final(digest);
    return Md5Hex(digest);
}
