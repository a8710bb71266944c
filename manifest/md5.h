#pragma once
// MD5 (RFC 1321) of a file as 32 lowercase hexadecimal digits, computed by the system.

#include "platform/platform.h"

#include <cstddef>
#include <string>

class Md5Context {
  public:
    Md5Context();
    ~Md5Context();
    Md5Context(const Md5Context&) = delete;
    Md5Context& operator=(const Md5Context&) = delete;

    void Update(const unsigned char* data, std::size_t length);
    // Taken once, after the last Update. False, with the digest zeroed, when the system could
    // not compute it: a digest that is no digest must never match one.
    [[nodiscard]] bool Final(unsigned char digest[16]);

  private:
    platform::Md5State state_;
};

std::string Md5Hex(const unsigned char digest[16]);
// The digest of every byte of a file; the digest of zero bytes when it cannot be opened. An
// empty text, which matches no digest, when the system cannot compute MD5 at all.
std::string FileMd5(const std::string& path);
// As FileMd5, but false when the file cannot be opened or a read fails before its end (then
// platform::LastError() says why when it could not be opened): a file that cannot be read is
// not a file with other bytes.
bool ReadFileMd5(const std::string& path, std::string& digest);
