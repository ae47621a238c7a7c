// Command-line parsing for the subcommands: options in GNU style
// (--name value, --name=value, -o value), repeatable, and strict value
// parsers whose errors name the option and the bad text.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace cli {

struct OptionSpec {
  const char* name;      // without the dashes
  const char* shortName;  // one letter or null
  bool takesValue;
};

struct ParsedOptions {
  std::vector<std::pair<std::string, std::string>> options;  // in command-line order
  std::vector<std::string> positionals;

  bool Has(const std::string& name) const;
  // The last value given for the option, or `fallback`.
  std::string Value(const std::string& name, const std::string& fallback = "") const;
  std::vector<std::string> Values(const std::string& name) const;
};

// False with a message for an unknown option or a missing value.
bool ParseOptions(const std::vector<std::string>& arguments, const std::vector<OptionSpec>& specs,
                  ParsedOptions& parsed, std::string& error);

// Strict parsers: the whole text must be the number. `what` names the option
// in the error message.
bool ParseFloat(const std::string& text, const std::string& what, float& value, std::string& error);
bool ParseDouble(const std::string& text, const std::string& what, double& value, std::string& error);
bool ParseInt(const std::string& text, const std::string& what, long minimum, long maximum, long& value,
              std::string& error);
// "WIDTHxHEIGHT", both at least 1.
bool ParseSize(const std::string& text, const std::string& what, int& width, int& height, std::string& error);
// Comma-separated floats.
bool ParseFloatList(const std::string& text, const std::string& what, std::vector<float>& values,
                    std::string& error);

}  // namespace cli
