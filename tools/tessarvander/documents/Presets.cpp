#include "documents/Presets.h"

#include <cmath>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "output/OutputFile.h"

namespace cli {
namespace {

constexpr const char* kFormat = "tessarvander-preset";
constexpr int kVersion = 1;

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

}  // namespace

bool ReadParameterValues(const nlohmann::json& object, const ParameterControls& names, const std::string& where,
                         std::vector<ParameterControls::Value>& values, std::string& error) {
  if (!object.is_object()) {
    error = where + " must be an object of parameter names and values";
    return false;
  }
  for (const auto& [name, value] : object.items()) {
    uint32_t index = 0;
    std::string unknown;
    if (!names.Resolve(name, index, unknown)) {
      error = where + " / \"" + name + "\" names no parameter of this plugin";
      return false;
    }
    if (!value.is_number() || !std::isfinite(value.get<double>()) || std::fabs(value.get<double>()) > 3.0e38) {
      error = where + " / \"" + name + "\" must be a finite number";
      return false;
    }
    values.push_back({index, value.get<float>()});
  }
  return true;
}

bool LoadPreset(const std::string& path, const ParameterControls& names, std::vector<ParameterControls::Value>& values,
                std::string& error) {
  std::ifstream file(path);
  if (!file) {
    error = "preset " + path + ": cannot be read";
    return false;
  }
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  nlohmann::json document;
  try {
    document = nlohmann::json::parse(text);
  } catch (const nlohmann::json::parse_error& parseError) {
    error = "preset " + path + ": not JSON at " + PositionOf(text, parseError.byte > 0 ? parseError.byte - 1 : 0);
    return false;
  }
  if (!document.is_object() || document.value("format", "") != kFormat) {
    error = "preset " + path + ": key \"format\" must be \"" + kFormat + "\"";
    return false;
  }
  if (!document.contains("version") || !document["version"].is_number_integer() ||
      document["version"].get<int>() != kVersion) {
    error = "preset " + path + ": key \"version\" must be " + std::to_string(kVersion);
    return false;
  }
  values.clear();
  return ReadParameterValues(document.value("parameters", nlohmann::json()), names,
                             "preset " + path + ": key \"parameters\"", values, error);
}

bool SavePreset(const std::string& path, const ParameterControls& names,
                const std::vector<ParameterControls::Value>& values, std::string& error) {
  nlohmann::ordered_json document;
  document["format"] = kFormat;
  document["version"] = kVersion;
  document["parameters"] = nlohmann::ordered_json::object();
  for (const ParameterControls::Value& value : values) document["parameters"][names.NameOf(value.index)] = value.value;
  return WriteWholeFile(path, document.dump(2) + "\n", error);
}

}  // namespace cli
