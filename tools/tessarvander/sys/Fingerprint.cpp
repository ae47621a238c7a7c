#include "sys/Fingerprint.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

namespace cli {

std::string Fingerprint(const void* data, size_t size) {
  uint64_t hash = 14695981039346656037ull;
  const auto* byte = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < size; ++i) {
    hash ^= byte[i];
    hash *= 1099511628211ull;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

std::string FileFingerprint(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return "";
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  return Fingerprint(bytes.data(), bytes.size());
}

}  // namespace cli
