// The parameter values a render asks for: fixed ones (from a preset, or
// --set NAME=VALUE) and linear ramps over the render (--ramp NAME=FROM:TO);
// for each parameter the last one given wins. Parameters are named by their
// name, in any case and with or without spaces, dashes or underscores
// ("Fractal Type", fractal-type, fractaltype), or by index.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "PluginLibrary.h"

namespace cli {

struct ParameterControl {
  uint32_t index = 0;
  std::string name;
  float from = 0.0f;
  float to = 0.0f;
  bool isRamp = false;

  // The value at `progress` (0 at the first frame, 1 at the last).
  float ValueAt(double progress) const {
    return static_cast<float>(from + (static_cast<double>(to) - from) * progress);
  }
};

class ParameterControls {
 public:
  explicit ParameterControls(std::vector<hostkit::ParameterDescription> parameters)
      : parameters(std::move(parameters)) {}

  // "NAME=VALUE"; false with a message listing the valid names if NAME is
  // unknown, or naming the bad number.
  bool AddSet(const std::string& text, std::string& error);
  // "NAME=FROM:TO".
  bool AddRamp(const std::string& text, std::string& error);
  // A value already resolved (from a preset).
  void AddFixed(uint32_t index, float value);
  // Finds a parameter by name or index; false with the list of valid names.
  bool Resolve(const std::string& name, uint32_t& index, std::string& error) const;
  // The name the plugin gives the parameter with this index.
  const std::string& NameOf(uint32_t index) const;

  // Every control's value at `progress` (0 at the first frame, 1 at the last).
  struct Value {
    uint32_t index;
    float value;
  };
  void ValuesAt(double progress, std::vector<Value>& values) const;
  std::vector<Value> ValuesAt(double progress) const;

  const std::vector<hostkit::ParameterDescription>& Parameters() const { return parameters; }

 private:
  bool SplitAssignment(const std::string& text, const char* form, std::string& name, std::string& value,
                       std::string& error) const;
  void Put(const ParameterControl& control);

  std::vector<hostkit::ParameterDescription> parameters;
  std::vector<ParameterControl> controls;
};

// Puts a value into a list of values, replacing any for the same index.
void PutValue(std::vector<ParameterControls::Value>& values, uint32_t index, float value);

}  // namespace cli
