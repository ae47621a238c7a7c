#include "formats/JsonReader.h"

#include <cmath>

#include "sys/BoundedFile.h"

namespace tool {
namespace {

// "line 3, column 14" for a byte offset into the text.
std::string PositionOf(const std::string& text, size_t offset) {
  size_t line = 1, column = 1;
  for (size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// The offset where nesting passes the limit, or npos. Brackets inside
// strings do not count.
size_t TooDeepAt(const std::string& text) {
  int depth = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') ++i;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxJsonDepth) return i;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return std::string::npos;
}

}  // namespace

bool ParseJson(const std::string& text, const std::string& where, nlohmann::json& document, std::string& error) {
  const size_t deep = TooDeepAt(text);
  if (deep != std::string::npos) {
    error = where + ": nested deeper than " + std::to_string(kMaxJsonDepth) + " at " + PositionOf(text, deep);
    return false;
  }
  try {
    document = nlohmann::json::parse(text);
  } catch (const nlohmann::json::parse_error& problem) {
    error = where + ": not JSON at " + PositionOf(text, problem.byte > 0 ? problem.byte - 1 : 0);
    return false;
  } catch (const nlohmann::json::exception&) {
    // Only a number too large for a double is refused this way.
    error = where + ": a number is out of range";
    return false;
  }
  return true;
}

bool ReadJsonFile(const std::string& path, size_t limit, const std::string& what, nlohmann::json& document,
                  std::string& error) {
  std::string text;
  return ReadBoundedFile(path, limit, what, text, error) && ParseJson(text, what + " " + path, document, error);
}

bool JsonNumber(const nlohmann::json& object, const char* key, double minimum, double maximum,
                const std::string& where, double& value, std::string& error) {
  const auto found = object.is_object() ? object.find(key) : object.end();
  if (found == object.end() || !found->is_number() || !std::isfinite(found->get<double>()) ||
      found->get<double>() < minimum || found->get<double>() > maximum) {
    char range[96];
    std::snprintf(range, sizeof range, "a number from %g to %g", minimum, maximum);
    error = where + ": key \"" + key + "\" must be " + range;
    return false;
  }
  value = found->get<double>();
  return true;
}

bool JsonWhole(const nlohmann::json& object, const char* key, long minimum, long maximum, const std::string& where,
               long& value, std::string& error) {
  const auto found = object.is_object() ? object.find(key) : object.end();
  // Unsigned values beyond a long, and whole numbers written as 2.0, are
  // refused with the rest.
  const bool whole = found != object.end() && found->is_number_integer() &&
                     !(found->is_number_unsigned() && found->get<unsigned long long>() > 0x7fffffffffffffffull);
  if (!whole || found->get<long long>() < minimum || found->get<long long>() > maximum) {
    error = where + ": key \"" + key + "\" must be a whole number from " + std::to_string(minimum) + " to " +
            std::to_string(maximum);
    return false;
  }
  value = static_cast<long>(found->get<long long>());
  return true;
}

bool JsonText(const nlohmann::json& object, const char* key, const std::string& where, std::string& value,
              std::string& error) {
  const auto found = object.is_object() ? object.find(key) : object.end();
  if (found == object.end() || !found->is_string()) {
    error = where + ": key \"" + key + "\" must be a text";
    return false;
  }
  value = found->get<std::string>();
  return true;
}

bool JsonFormat(const nlohmann::json& document, const char* format, long version, const std::string& what,
                const std::string& where, std::string& error) {
  const auto found = document.is_object() ? document.find("format") : document.end();
  if (found == document.end() || !found->is_string() || found->get<std::string>() != format) {
    error = where + ": not a " + what + " (key \"format\" must be \"" + format + "\")";
    return false;
  }
  long given = 0;
  if (version > 0 && !JsonWhole(document, "version", version, version, where, given, error)) {
    error = where + ": key \"version\" must be " + std::to_string(version);
    return false;
  }
  return true;
}

}  // namespace tool
