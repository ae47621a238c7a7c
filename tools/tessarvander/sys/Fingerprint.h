// Fingerprints: a short hash of bytes that tells two frames apart. FNV-1a,
// 64 bits: quick, and not a seal against deliberate change (files are sealed
// with Digest.h).
#pragma once

#include <cstddef>
#include <string>

namespace tool {

// 16 hex digits.
std::string Fingerprint(const void* data, size_t size);

}  // namespace tool
