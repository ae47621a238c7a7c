// Fingerprints: a short hash of bytes that tells two frames or two files
// apart. FNV-1a, 64 bits: quick, and not a seal against deliberate change.
#pragma once

#include <cstddef>
#include <string>

namespace cli {

// 16 hex digits.
std::string Fingerprint(const void* data, size_t size);
// The fingerprint of a file's bytes, or "" when it cannot be read.
std::string FileFingerprint(const std::string& path);

}  // namespace cli
