#include "output/OutputKind.h"

#include <cctype>

namespace tool {
namespace {

// Finds the one "%d" / "%0Nd" / "%Nd" field: its start, its length and its
// width. False when there is none or more than one (a literal "%%" is fine).
bool FindNumberField(const std::string& pattern, size_t& start, size_t& length, int& width, bool& zeroPad) {
  int fields = 0;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%') continue;
    if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
      ++i;
      continue;
    }
    size_t j = i + 1;
    bool zero = j < pattern.size() && pattern[j] == '0';
    if (zero) ++j;
    int digits = 0;
    while (j < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[j])) && digits < 2) {
      digits = digits * 10 + (pattern[j] - '0');
      ++j;
    }
    if (j >= pattern.size() || pattern[j] != 'd') return false;
    start = i;
    length = j + 1 - i;
    width = digits;
    zeroPad = zero;
    ++fields;
    i = j;
  }
  return fields == 1;
}

// Replaces "%%" by "%" in a piece of the pattern without a number field.
std::string Unescaped(const std::string& text) {
  std::string plain;
  for (size_t i = 0; i < text.size(); ++i) {
    plain += text[i];
    if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == '%') ++i;
  }
  return plain;
}

}  // namespace

bool EndsWith(const std::string& text, const std::string& ending) {
  return text.size() >= ending.size() && text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

bool SequenceName(const std::string& pattern, long number, std::string& name) {
  size_t start = 0, length = 0;
  int width = 0;
  bool zeroPad = false;
  if (!FindNumberField(pattern, start, length, width, zeroPad)) return false;
  std::string digits = std::to_string(number);
  while (static_cast<int>(digits.size()) < width) digits.insert(digits.begin(), zeroPad ? '0' : ' ');
  name = Unescaped(pattern.substr(0, start)) + digits + Unescaped(pattern.substr(start + length));
  return true;
}

bool OutputKindOf(const std::string& path, OutputKind& kind, std::string& error) {
  size_t start = 0, length = 0;
  int width = 0;
  bool zeroPad = false;
  if (path.find('%') != std::string::npos) {
    if (!FindNumberField(path, start, length, width, zeroPad)) {
      error = path + ": a sequence pattern needs exactly one frame number field such as %05d";
      return false;
    }
    if (!EndsWith(path, ".png")) {
      error = path + ": a numbered sequence is written as PNG files; end the pattern in .png";
      return false;
    }
    kind = OutputKind::Sequence;
    return true;
  }
  if (EndsWith(path, ".mp4") || EndsWith(path, ".mov") || EndsWith(path, ".mkv")) {
    kind = OutputKind::Video;
    return true;
  }
  if (EndsWith(path, ".png")) {
    kind = OutputKind::Still;
    return true;
  }
  error = path + ": name a .png (a still), a pattern like frames/f_%05d.png (a sequence) or a .mp4 (a video)";
  return false;
}

}  // namespace tool
