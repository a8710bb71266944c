// The MD5 of any bytes, fed in any pieces, and of a file holding them read in the file reader's
// own pieces, against the same bytes fed at once.

#include "fuzz/fuzz_support.h"
#include "manifest/md5.h"

#include <algorithm>
#include <string>

namespace {

std::string WholeMd5(const std::string& bytes) {
    Md5Context context;
    context.Update(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    unsigned char digest[16];
    if (!context.Final(digest))
        Broken("the system computes an MD5");
    return Md5Hex(digest);
}

std::string PieceWiseMd5(const std::string& bytes, const std::uint8_t* sizes,
                         std::size_t sizeCount) {
    Md5Context context;
    std::size_t at = 0;
    for (std::size_t i = 0; at < bytes.size(); ++i) {
        // Piece sizes around the 64-byte block: empty, a few bytes, whole and odd blocks.
        std::size_t piece = sizeCount ? sizes[i % sizeCount] : 64;
        piece = piece < 200 ? piece : (piece - 200) * 64 + 1;
        // Sizes that are all zero would never end: after enough pieces the rest goes at once.
        if (i > bytes.size() + 16)
            piece = bytes.size() - at;
        piece = std::min(piece, bytes.size() - at);
        context.Update(reinterpret_cast<const unsigned char*>(bytes.data()) + at, piece);
        at += piece;
    }
    unsigned char digest[16];
    if (!context.Final(digest))
        Broken("the system computes an MD5 fed in pieces");
    return Md5Hex(digest);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    QuietLog();
    return 0;
}

// Input: one byte n, n piece sizes, then the message; the message may be repeated to reach past
// the file reader's 64 KiB pieces.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    std::size_t sizeCount = std::min<std::size_t>(data[0] & 0x0f, size - 1);
    std::size_t repeat = data[0] >> 4; // 0-15
    const std::uint8_t* sizes = data + 1;
    std::string message(reinterpret_cast<const char*>(data) + 1 + sizeCount, size - 1 - sizeCount);
    if (repeat > 0 && !message.empty()) {
        // Up to just past the 64 KiB pieces the file is read in.
        std::size_t target = std::min<std::size_t>(repeat * 4700 + message.size(), 70000);
        std::string longer;
        longer.reserve(target);
        while (longer.size() < target)
            longer += message;
        message = longer.substr(0, target);
    }

    const std::string expected = WholeMd5(message);
    FUZZ_CHECK(PieceWiseMd5(message, sizes, sizeCount) == expected, expected);

    const std::string path = ScratchDir() + "/object";
    WriteBytes(path, reinterpret_cast<const std::uint8_t*>(message.data()), message.size());
    std::string fromFile = FileMd5(path);
    FUZZ_CHECK(fromFile == expected, fromFile + " != " + expected);
    FUZZ_CHECK(fromFile.size() == 32 &&
                   fromFile.find_first_not_of("0123456789abcdef") == std::string::npos,
               fromFile);
    return 0;
}
