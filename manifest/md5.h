#pragma once
// MD5 (RFC 1321) of a file as 32 lowercase hexadecimal digits.

#include <cstddef>
#include <cstdint>
#include <string>

class Md5Context {
  public:
    Md5Context();
    void Update(const unsigned char* data, std::size_t length);
    void Final(unsigned char digest[16]);

  private:
    void Transform(const unsigned char block[64]);
    std::uint32_t state_[4];
    std::uint32_t count_[2]; // bits fed, low word first
    unsigned char buffer_[64];
};

std::string Md5Hex(const unsigned char digest[16]);
// The digest of every byte of a file; the digest of zero bytes when it cannot be opened.
std::string FileMd5(const std::string& path);
