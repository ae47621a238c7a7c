#include "sys/Messages.h"

#include <cstdio>

namespace tool {

void Warn(const std::string& message) { std::fprintf(stderr, "tessarvander: %s\n", message.c_str()); }

std::string Printable(const std::string& text, size_t limit) {
  std::string shown;
  for (size_t i = 0; i < text.size() && shown.size() < limit; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7f) {
      shown += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      shown += escaped;
    }
  }
  if (shown.size() >= limit && text.size() > limit) shown += "...";
  return shown;
}

}  // namespace tool
