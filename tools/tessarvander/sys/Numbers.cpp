#include "sys/Numbers.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "sys/Messages.h"

namespace tool {

bool IsDecimalNumber(const std::string& text) {
  size_t at = 0;
  const auto digits = [&] {
    const size_t from = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
    return at - from;
  };
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
  size_t mantissa = digits();
  if (at < text.size() && text[at] == '.') {
    ++at;
    mantissa += digits();
  }
  if (mantissa == 0) return false;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    if (digits() == 0) return false;
  }
  return at == text.size();
}

bool ParseDouble(const std::string& text, const std::string& what, double& value, std::string& error) {
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  // Decimal only: strtod would also read hexadecimal ("0x10" as 16) and names.
  const double parsed = IsDecimalNumber(text) ? std::strtod(begin, &end) : 0.0;
  if (!IsDecimalNumber(text) || end != begin + text.size() || errno == ERANGE || !std::isfinite(parsed)) {
    error = what + ": \"" + Printable(text, 60) + "\" is not a number";
    return false;
  }
  value = parsed;
  return true;
}

bool ParseFloat(const std::string& text, const std::string& what, float& value, std::string& error) {
  double parsed = 0.0;
  if (!ParseDouble(text, what, parsed, error)) return false;
  if (std::fabs(parsed) > 3.0e38) {
    error = what + ": " + text + " is too large for a 32-bit float";
    return false;
  }
  value = static_cast<float>(parsed);
  return true;
}

bool ParseSize(const std::string& text, const std::string& what, FrameSize& size, std::string& error) {
  const size_t cross = text.find('x');
  const auto whole = [](const std::string& digits, long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtol(digits.c_str(), &end, 10);
    return !digits.empty() && end == digits.c_str() + digits.size() && errno != ERANGE && value >= 0 &&
           value <= (1L << 30);
  };
  long width = 0, height = 0;
  if (cross == std::string::npos || !whole(text.substr(0, cross), width) || !whole(text.substr(cross + 1), height)) {
    error = what + "\"" + text + "\" is not a size like 1280x720";
    return false;
  }
  if (width < 1 || height < 1) {
    error = what + text + " has a zero side; both must be at least 1";
    return false;
  }
  size = {static_cast<int>(width), static_cast<int>(height)};
  return true;
}

bool ParseFloatList(const std::string& text, const std::string& what, std::vector<float>& values,
                    std::string& error) {
  values.clear();
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    float value = 0.0f;
    if (!ParseFloat(text.substr(start, comma - start), what, value, error)) return false;
    values.push_back(value);
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
}

std::string ShortestText(float value) {
  char text[32];
  const auto written = std::to_chars(text, text + sizeof text - 1, value);
  return std::string(text, written.ptr);
}

}  // namespace tool
