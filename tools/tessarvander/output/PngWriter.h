// RGBA pixels as a PNG: a file, or bytes.
#pragma once

#include <cstdint>
#include <string>

namespace tool {

struct PngOptions {
  // zlib level 0..9. Level 1 is the default: most of the size win of higher
  // levels at a fraction of their time (see docs/benchmarks.md).
  int compressionLevel = 1;
  // Rows arrive bottom-up from GL; the file is written top-down.
  bool bottomUp = true;
  // Alpha is always 1 for this plugin, so RGB files are a quarter smaller.
  bool dropAlpha = true;
};

// False, with a one-line reason, when the file cannot be written.
bool WritePng(const std::string& path, const uint8_t* rgba, int width, int height, const PngOptions& options,
              std::string& error);
// The PNG's bytes, for a picture sent rather than saved (the remote's
// preview); empty when libpng failed.
std::string EncodePng(const uint8_t* rgba, int width, int height, const PngOptions& options = PngOptions());

}  // namespace tool
