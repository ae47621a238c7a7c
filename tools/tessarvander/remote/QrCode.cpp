#include "remote/QrCode.h"

#include <qrencode.h>

namespace tool {
namespace {

// Modules of light around the code, as the standard asks.
constexpr int kQuietZone = 4;
constexpr const char* kWhiteOnBlack = "\x1b[97;40m";
constexpr const char* kPlain = "\x1b[0m";

}  // namespace

std::vector<std::string> QrCodeLines(const std::string& text) {
  std::vector<std::string> lines;
  QRcode* code = QRcode_encodeString8bit(text.c_str(), 0, QR_ECLEVEL_M);
  if (!code) return lines;
  const int size = code->width;
  const auto dark = [&](int x, int y) {
    return x >= 0 && y >= 0 && x < size && y < size && (code->data[y * size + x] & 1) != 0;
  };
  // Light modules are drawn as blocks in bright white on black, whatever
  // the terminal's own colours; each character is a module wide and two
  // high.
  for (int y = -kQuietZone; y < size + kQuietZone; y += 2) {
    std::string line = kWhiteOnBlack;
    for (int x = -kQuietZone; x < size + kQuietZone; ++x) {
      const bool top = !dark(x, y), bottom = !dark(x, y + 1);
      line += top && bottom ? "\u2588" : top ? "\u2580" : bottom ? "\u2584" : " ";
    }
    lines.push_back(line + kPlain);
  }
  QRcode_free(code);
  return lines;
}

}  // namespace tool
