#include "formats/ParameterControls.h"

#include "sys/Messages.h"
#include "sys/Numbers.h"

namespace tool {
bool ParameterControls::SplitAssignment(const std::string& text, const char* form, std::string& name,
                                        std::string& value, std::string& error) const {
  const size_t equals = text.rfind('=');
  if (equals == std::string::npos || equals == 0) {
    error = "\"" + text + "\" is not of the form " + form;
    return false;
  }
  name = text.substr(0, equals);
  value = text.substr(equals + 1);
  return true;
}

void ParameterControls::Put(const ParameterControl& control) {
  for (ParameterControl& existing : controls) {
    if (existing.index == control.index) {
      existing = control;  // the last one given wins
      return;
    }
  }
  controls.push_back(control);
}

bool ParameterControls::AddSet(const std::string& text, std::string& error) {
  std::string name, value;
  ParameterControl control;
  if (!SplitAssignment(text, "NAME=VALUE", name, value, error) || !names.Resolve(name, control.index, error) ||
      !ParseFloat(value, "--set " + name, control.from, error))
    return false;
  control.name = names.NameOf(control.index);
  control.to = control.from;
  Put(control);
  return true;
}

bool ParameterControls::AddRamp(const std::string& text, std::string& error) {
  std::string name, range;
  ParameterControl control;
  if (!SplitAssignment(text, "NAME=FROM:TO", name, range, error) || !names.Resolve(name, control.index, error))
    return false;
  const size_t colon = range.find(':');
  if (colon == std::string::npos) {
    error = "--ramp " + name + ": \"" + range + "\" is not of the form FROM:TO";
    return false;
  }
  if (!ParseFloat(range.substr(0, colon), "--ramp " + name, control.from, error) ||
      !ParseFloat(range.substr(colon + 1), "--ramp " + name, control.to, error))
    return false;
  control.name = names.NameOf(control.index);
  control.isRamp = true;
  Put(control);
  return true;
}

void ParameterControls::AddFixed(uint32_t index, float value) {
  ParameterControl control;
  control.index = index;
  control.name = names.NameOf(index);
  control.from = control.to = value;
  Put(control);
}

void ParameterControls::ValuesAt(double progress, std::vector<ParameterValue>& values) const {
  values.resize(controls.size());
  for (size_t i = 0; i < controls.size(); ++i) values[i] = {controls[i].index, controls[i].ValueAt(progress)};
}

std::vector<ParameterValue> ParameterControls::ValuesAt(double progress) const {
  std::vector<ParameterValue> values;
  ValuesAt(progress, values);
  return values;
}

}  // namespace tool
