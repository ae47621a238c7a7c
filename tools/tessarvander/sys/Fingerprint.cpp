#include "sys/Fingerprint.h"

#include <cstdint>
#include <cstdio>

namespace tool {

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

}  // namespace tool
