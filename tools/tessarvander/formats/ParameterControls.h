// The parameter values a render asks for: fixed ones (from a preset, or
// --set NAME=VALUE) and linear ramps over the render (--ramp NAME=FROM:TO);
// for each parameter the last one given wins. Names are resolved by
// ParameterNames.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/ParameterNames.h"

namespace tool {

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
  explicit ParameterControls(ParameterNames names) : names(std::move(names)) {}

  // "NAME=VALUE"; false with a message listing the valid names if NAME is
  // unknown, or naming the bad number.
  bool AddSet(const std::string& text, std::string& error);
  // "NAME=FROM:TO".
  bool AddRamp(const std::string& text, std::string& error);
  // A value already resolved (from a preset).
  void AddFixed(uint32_t index, float value);

  // Every control's value at `progress` (0 at the first frame, 1 at the last).
  void ValuesAt(double progress, std::vector<ParameterValue>& values) const;
  std::vector<ParameterValue> ValuesAt(double progress) const;

  const ParameterNames& Names() const { return names; }

 private:
  bool SplitAssignment(const std::string& text, const char* form, std::string& name, std::string& value,
                       std::string& error) const;
  void Put(const ParameterControl& control);

  ParameterNames names;
  std::vector<ParameterControl> controls;
};

}  // namespace tool
