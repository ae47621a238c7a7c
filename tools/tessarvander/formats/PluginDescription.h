// What a plugin says of itself when asked: its identity and its parameters.
// The loader fills these from the plugin's answers; everything else in the
// tool reads them, without the plugin interface's own records.
#pragma once

#include <cstdint>
#include <string>

namespace tool {

struct PluginDescription {
  std::string uniqueId;  // four characters
  std::string name;      // up to sixteen
  uint32_t apiMajorVersion = 0;
  uint32_t apiMinorVersion = 0;
  uint32_t pluginType = 0;
  uint32_t pluginMajorVersion = 0;
  uint32_t pluginMinorVersion = 0;
  std::string description;
  std::string about;
};

// A parameter's type as plugins answer it: a float on the host's 0 to 1
// scale, the only kind the tool plays with.
constexpr uint32_t kFloatParameter = 10;

struct ParameterDescription {
  uint32_t index = 0;
  std::string name;
  uint32_t type = 0;  // kFloatParameter, or a kind the tool leaves alone
  float defaultValue = 0.0f;
  float minimum = 0.0f;
  float maximum = 1.0f;
};

}  // namespace tool
