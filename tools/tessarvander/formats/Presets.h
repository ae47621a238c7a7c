// Presets: a look saved as a small JSON file, a format version and the
// parameters by name.
//
//   {"format": "tessarvander-preset", "version": 1,
//    "parameters": {"Fractal Type": 0.6, "Color Mode": 0.45, "Brightness": 0.9}}
//
// Names are the plugin's, in any case, with spaces, dashes or underscores
// (as --set takes them); a preset may name only some parameters.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "formats/ParameterControls.h"

namespace tool {

// The largest preset file read.
constexpr size_t kMaxPresetBytes = 1 << 20;

// Reads a preset into (index, value) pairs. False with one line naming the
// file, the position (line:column) or the key, and what is wrong.
bool LoadPreset(const std::string& path, const ParameterNames& names, std::vector<ParameterValue>& values,
                std::string& error);

// The same from the text of a preset; `where` starts every message.
bool ParsePreset(const std::string& text, const std::string& where, const ParameterNames& names,
                 std::vector<ParameterValue>& values, std::string& error);

// Reads an object of parameter names and values (a preset's "parameters", a
// take's starting values and changes). `where` starts every message.
bool ReadParameterValues(const nlohmann::json& object, const ParameterNames& names, const std::string& where,
                         std::vector<ParameterValue>& values, std::string& error);

// Writes every value under the plugin's names; the file appears only when
// complete.
bool SavePreset(const std::string& path, const ParameterNames& names,
                const std::vector<ParameterValue>& values, std::string& error);

}  // namespace tool
