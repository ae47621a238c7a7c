#include "CommandLine.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace cli {

bool ParsedOptions::Has(const std::string& name) const {
  for (const auto& option : options)
    if (option.first == name) return true;
  return false;
}

std::string ParsedOptions::Value(const std::string& name, const std::string& fallback) const {
  std::string value = fallback;
  for (const auto& option : options)
    if (option.first == name) value = option.second;
  return value;
}

std::vector<std::string> ParsedOptions::Values(const std::string& name) const {
  std::vector<std::string> values;
  for (const auto& option : options)
    if (option.first == name) values.push_back(option.second);
  return values;
}

namespace {

const OptionSpec* FindSpec(const std::vector<OptionSpec>& specs, const std::string& name, bool isShort) {
  for (const OptionSpec& option : specs) {
    if (!isShort && name == option.name) return &option;
    if (isShort && option.shortName && name == option.shortName) return &option;
  }
  return nullptr;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& arguments, const std::vector<OptionSpec>& specs,
                  ParsedOptions& parsed, std::string& error) {
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--") {
      parsed.positionals.insert(parsed.positionals.end(), arguments.begin() + static_cast<long>(i) + 1,
                                arguments.end());
      break;
    }
    const bool isLong = argument.rfind("--", 0) == 0;
    const bool isShort = !isLong && argument.size() == 2 && argument[0] == '-';
    if (!isLong && !isShort) {
      parsed.positionals.push_back(argument);
      continue;
    }
    std::string name = argument.substr(isLong ? 2 : 1);
    std::string value;
    bool hasInlineValue = false;
    const size_t equals = name.find('=');
    if (isLong && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
      hasInlineValue = true;
    }
    const OptionSpec* known = FindSpec(specs, name, isShort);
    if (!known) {
      error = "unknown option " + argument + " (see --help)";
      return false;
    }
    if (!known->takesValue) {
      if (hasInlineValue) {
        error = "option --" + std::string(known->name) + " takes no value";
        return false;
      }
      parsed.options.emplace_back(known->name, "");
      continue;
    }
    if (!hasInlineValue) {
      if (i + 1 >= arguments.size()) {
        error = "option --" + std::string(known->name) + " needs a value";
        return false;
      }
      value = arguments[++i];
    }
    parsed.options.emplace_back(known->name, value);
  }
  return true;
}

bool ParseDouble(const std::string& text, const std::string& what, double& value, std::string& error) {
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  const double parsed = std::strtod(begin, &end);
  if (text.empty() || end != begin + text.size() || errno == ERANGE || !std::isfinite(parsed)) {
    error = what + ": \"" + text + "\" is not a number";
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

bool ParseInt(const std::string& text, const std::string& what, long minimum, long maximum, long& value,
              std::string& error) {
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  const long parsed = std::strtol(begin, &end, 10);
  if (text.empty() || end != begin + text.size() || errno == ERANGE) {
    error = what + ": \"" + text + "\" is not a whole number";
    return false;
  }
  if (parsed < minimum || parsed > maximum) {
    error = what + ": " + text + " is outside " + std::to_string(minimum) + " to " + std::to_string(maximum);
    return false;
  }
  value = parsed;
  return true;
}

bool ParseSize(const std::string& text, const std::string& what, int& width, int& height, std::string& error) {
  const size_t cross = text.find('x');
  long w = 0, h = 0;
  std::string ignored;
  if (cross == std::string::npos || !ParseInt(text.substr(0, cross), what, 0, 1L << 30, w, ignored) ||
      !ParseInt(text.substr(cross + 1), what, 0, 1L << 30, h, ignored)) {
    error = what + ": \"" + text + "\" is not a size like 1280x720";
    return false;
  }
  if (w < 1 || h < 1) {
    error = what + ": " + text + " has a zero side; both must be at least 1";
    return false;
  }
  width = static_cast<int>(w);
  height = static_cast<int>(h);
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

}  // namespace cli
