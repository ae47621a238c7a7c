#include "formats/Presets.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "formats/JsonReader.h"
#include "sys/OutputFile.h"
#include "sys/BoundedFile.h"
#include "sys/Messages.h"

namespace tool {
namespace {

constexpr const char* kFormat = "tessarvander-preset";
constexpr int kVersion = 1;

}  // namespace

bool ReadParameterValues(const nlohmann::json& object, const ParameterNames& names, const std::string& where,
                         std::vector<ParameterValue>& values, std::string& error) {
  if (!object.is_object()) {
    error = where + " must be an object of parameter names and values";
    return false;
  }
  for (const auto& [name, value] : object.items()) {
    uint32_t index = 0;
    std::string unknown;
    if (!names.Resolve(name, index, unknown)) {
      error = where + " / \"" + Printable(name) + "\" names no parameter of this plugin";
      return false;
    }
    if (!value.is_number() || !std::isfinite(value.get<double>()) || std::fabs(value.get<double>()) > 3.0e38) {
      error = where + " / \"" + Printable(name) + "\" must be a finite number";
      return false;
    }
    values.push_back({index, value.get<float>()});
  }
  return true;
}

bool LoadPreset(const std::string& path, const ParameterNames& names, std::vector<ParameterValue>& values,
                std::string& error) {
  std::string text;
  return ReadBoundedFile(path, kMaxPresetBytes, "preset", text, error) &&
         ParsePreset(text, "preset " + path, names, values, error);
}

bool ParsePreset(const std::string& text, const std::string& where, const ParameterNames& names,
                 std::vector<ParameterValue>& values, std::string& error) {
  nlohmann::json document;
  if (!ParseJson(text, where, document, error)) return false;
  if (!JsonFormat(document, kFormat, kVersion, "preset", where, error)) return false;
  values.clear();
  return ReadParameterValues(document.value("parameters", nlohmann::json()), names, where + ": key \"parameters\"",
                             values, error);
}

bool SavePreset(const std::string& path, const ParameterNames& names,
                const std::vector<ParameterValue>& values, std::string& error) {
  nlohmann::ordered_json document;
  document["format"] = kFormat;
  document["version"] = kVersion;
  document["parameters"] = nlohmann::ordered_json::object();
  for (const ParameterValue& value : values) document["parameters"][names.NameOf(value.index)] = value.value;
  return WriteWholeFile(path, document.dump(2) + "\n", error);
}

}  // namespace tool
