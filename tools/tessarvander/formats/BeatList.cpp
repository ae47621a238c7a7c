#include "formats/BeatList.h"

#include <cmath>
#include <cstdlib>

#include "sys/BoundedFile.h"
#include "sys/Messages.h"
#include "sys/Numbers.h"

namespace tool {

bool ParseBeatList(const std::string& text, const std::string& where, std::vector<double>& beats, std::string& error) {
  beats.clear();
  long lineNumber = 0;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    const size_t last = line.find_first_of(" \t\r,;", first);
    const std::string field = line.substr(first, last == std::string::npos ? std::string::npos : last - first);
    const std::string at = where + " line " + std::to_string(lineNumber);
    char* rest = nullptr;
    const double seconds = IsDecimalNumber(field) ? std::strtod(field.c_str(), &rest) : NAN;
    if (!IsDecimalNumber(field) || *rest != '\0' || !std::isfinite(seconds)) {
      error = at + ": \"" + Printable(field, 40) + "\" is not a time in seconds";
      return false;
    }
    if (seconds < 0.0 || seconds > kLatestBeat) {
      error = at + ": " + field + " s is outside 0 to a week";
      return false;
    }
    if (!beats.empty() && seconds <= beats.back()) {
      error = at + ": " + field + " s is not later than the beat before it";
      return false;
    }
    if (beats.size() == kMaxBeats) {
      error = where + ": more than " + std::to_string(kMaxBeats) + " beats";
      return false;
    }
    beats.push_back(seconds);
  }
  if (beats.empty()) {
    error = where + ": no beats";
    return false;
  }
  return true;
}

bool LoadBeatList(const std::string& path, std::vector<double>& beats, std::string& error) {
  std::string text;
  return ReadBoundedFile(path, kMaxBeatListBytes, "--beats", text, error) &&
         ParseBeatList(text, "--beats " + path, beats, error);
}

}  // namespace tool
