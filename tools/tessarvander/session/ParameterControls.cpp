#include "session/ParameterControls.h"

#include <cctype>

#include "sys/Messages.h"
#include "sys/Numbers.h"

namespace cli {
namespace {

std::string Normalised(const std::string& name) {
  std::string folded;
  for (char c : name)
    if (c != ' ' && c != '-' && c != '_') folded += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return folded;
}

}  // namespace

bool ParameterControls::Resolve(const std::string& name, uint32_t& index, std::string& error) const {
  const std::string wanted = Normalised(name);
  for (const auto& parameter : parameters) {
    if (Normalised(parameter.name) == wanted || std::to_string(parameter.index) == name) {
      index = parameter.index;
      return true;
    }
  }
  std::string known;
  for (const auto& parameter : parameters) known += (known.empty() ? "" : ", ") + parameter.name;
  error = "unknown parameter \"" + Printable(name, 60) + "\"; the parameters are: " + known + " (or their index 0 to " +
          std::to_string(parameters.empty() ? 0 : parameters.size() - 1) + ")";
  return false;
}

const std::string& ParameterControls::NameOf(uint32_t index) const {
  static const std::string unknown;
  for (const auto& parameter : parameters)
    if (parameter.index == index) return parameter.name;
  return unknown;
}

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
  if (!SplitAssignment(text, "NAME=VALUE", name, value, error) || !Resolve(name, control.index, error) ||
      !ParseFloat(value, "--set " + name, control.from, error))
    return false;
  control.name = NameOf(control.index);
  control.to = control.from;
  Put(control);
  return true;
}

bool ParameterControls::AddRamp(const std::string& text, std::string& error) {
  std::string name, range;
  ParameterControl control;
  if (!SplitAssignment(text, "NAME=FROM:TO", name, range, error) || !Resolve(name, control.index, error))
    return false;
  const size_t colon = range.find(':');
  if (colon == std::string::npos) {
    error = "--ramp " + name + ": \"" + range + "\" is not of the form FROM:TO";
    return false;
  }
  if (!ParseFloat(range.substr(0, colon), "--ramp " + name, control.from, error) ||
      !ParseFloat(range.substr(colon + 1), "--ramp " + name, control.to, error))
    return false;
  control.name = NameOf(control.index);
  control.isRamp = true;
  Put(control);
  return true;
}

void PutValue(std::vector<ParameterControls::Value>& values, uint32_t index, float value) {
  for (ParameterControls::Value& existing : values) {
    if (existing.index == index) {
      existing.value = value;
      return;
    }
  }
  values.push_back({index, value});
}

void ParameterControls::AddFixed(uint32_t index, float value) {
  ParameterControl control;
  control.index = index;
  control.name = NameOf(index);
  control.from = control.to = value;
  Put(control);
}

void ParameterControls::ValuesAt(double progress, std::vector<Value>& values) const {
  values.resize(controls.size());
  for (size_t i = 0; i < controls.size(); ++i) values[i] = {controls[i].index, controls[i].ValueAt(progress)};
}

std::vector<ParameterControls::Value> ParameterControls::ValuesAt(double progress) const {
  std::vector<Value> values;
  ValuesAt(progress, values);
  return values;
}

}  // namespace cli
