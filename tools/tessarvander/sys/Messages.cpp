#include "sys/Messages.h"

#include <cstdio>

#include "sys/Terminal.h"

namespace tool {

void Warn(const std::string& message) { TerminalLine(true, "tessarvander: " + Printable(message, 2000)); }

namespace {

// Invisible characters that change how the text around them shows: the
// bidirectional embeddings, overrides and isolates (a name shown reversed),
// zero-width spaces and joiners, the soft hyphen, byte-order marks, the
// interlinear annotations and the tag characters.
bool FormatControl(unsigned code) {
  return code == 0xad || code == 0x61c || code == 0x180e || (code >= 0x200b && code <= 0x200f) ||
         (code >= 0x202a && code <= 0x202e) || (code >= 0x2060 && code <= 0x2069) || code == 0xfeff ||
         (code >= 0xfff9 && code <= 0xfffb) || (code >= 0xe0000 && code <= 0xe007f);
}

// The length of the UTF-8 sequence at `at` that is a printable character
// (not a C1 control, no overlong or surrogate form), or 0.
size_t PrintableSequence(const std::string& text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  size_t length = 0;
  unsigned code = 0;
  if (lead >= 0xc2 && lead <= 0xdf) length = 2, code = lead & 0x1f;
  else if (lead >= 0xe0 && lead <= 0xef) length = 3, code = lead & 0x0f;
  else if (lead >= 0xf0 && lead <= 0xf4) length = 4, code = lead & 0x07;
  else return 0;
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xc0) != 0x80) return 0;
    code = (code << 6) | (byte(at + i) & 0x3f);
  }
  const unsigned smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < smallest[length] || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return 0;
  if (code <= 0x9f) return 0;  // C1 controls: a terminal may take them for escapes
  if (FormatControl(code)) return 0;
  return length;
}

}  // namespace

std::string Printable(const std::string& text, size_t limit) {
  std::string shown;
  for (size_t i = 0; i < text.size() && shown.size() < limit;) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7f) {
      shown += static_cast<char>(c);
      ++i;
    } else if (const size_t length = c >= 0x80 ? PrintableSequence(text, i) : 0) {
      shown.append(text, i, length);
      i += length;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      shown += escaped;
      ++i;
    }
  }
  if (shown.size() >= limit && text.size() > limit) shown += "...";
  return shown;
}

}  // namespace tool
