#include "sys/Digest.h"

#include <fcntl.h>
#include <openssl/rand.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace tool {

bool FileDigest(const std::string& path, std::string& sha256, uint64_t& bytes, std::string& error) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = path + ": cannot be read (" + std::strerror(errno) + ")";
    return false;
  }
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  bool ok = context && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) == 1;
  bytes = 0;
  unsigned char buffer[1 << 16];
  while (ok) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) ok = false;
    if (got <= 0) break;
    bytes += static_cast<uint64_t>(got);
    ok = EVP_DigestUpdate(context.get(), buffer, static_cast<size_t>(got)) == 1;
  }
  close(fd);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  ok = ok && EVP_DigestFinal_ex(context.get(), digest, &length) == 1;
  if (!ok) {
    error = path + ": cannot be read to its end";
    return false;
  }
  sha256.clear();
  char hex[3];
  for (unsigned int i = 0; i < length; ++i) {
    std::snprintf(hex, sizeof hex, "%02x", digest[i]);
    sha256 += hex;
  }
  return true;
}

std::string FileSha256(const std::string& path) {
  std::string sha256, error;
  uint64_t bytes = 0;
  return FileDigest(path, sha256, bytes, error) ? sha256 : "";
}

std::string RandomHex(size_t bytes) {
  std::vector<unsigned char> random(bytes);
  if (RAND_bytes(random.data(), static_cast<int>(random.size())) != 1) return "";
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char byte : random) hex += digits[byte >> 4], hex += digits[byte & 15];
  return hex;
}

}  // namespace tool
