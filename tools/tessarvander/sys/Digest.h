// SHA-256 of a file, through OpenSSL's libcrypto: a seal on a rendered part,
// so that a join can tell the very file that was rendered from any other;
// and random names and tokens from the same library.
#pragma once

#include <cstdint>
#include <string>

namespace tool {

// The digest as 64 hex digits and the file's size. False with one line.
bool FileDigest(const std::string& path, std::string& sha256, uint64_t& bytes, std::string& error);
// The digest alone, or "" when the file cannot be read.
std::string FileSha256(const std::string& path);
// `bytes` random bytes from the system's generator, as hex digits; "" if
// none can be had.
std::string RandomHex(size_t bytes);

}  // namespace tool
