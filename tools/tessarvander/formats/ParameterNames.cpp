#include "formats/ParameterNames.h"

#include <cctype>

#include "sys/Messages.h"

namespace tool {
namespace {

// Whether `given` names the parameter `name`: the same letters in any case,
// each space of the name written as a space, "_", "-" or nothing
// ("Fractal Type", "fractal_type", "FractalType"). Nothing else matches: a
// name with anything more is another name.
bool Names(const std::string& given, const std::string& name) {
  size_t at = 0;
  for (char c : name) {
    if (c == ' ') {
      if (at < given.size() && (given[at] == ' ' || given[at] == '_' || given[at] == '-')) ++at;
      continue;
    }
    if (at >= given.size() ||
        std::tolower(static_cast<unsigned char>(given[at])) != std::tolower(static_cast<unsigned char>(c)))
      return false;
    ++at;
  }
  return at == given.size();
}

}  // namespace

bool ParameterNames::Resolve(const std::string& name, uint32_t& index, std::string& error) const {
  for (const auto& parameter : parameters) {
    if (Names(name, parameter.name) || std::to_string(parameter.index) == name) {
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

const std::string& ParameterNames::NameOf(uint32_t index) const {
  static const std::string unknown;
  for (const auto& parameter : parameters)
    if (parameter.index == index) return parameter.name;
  return unknown;
}

void PutValue(std::vector<ParameterValue>& values, uint32_t index, float value) {
  for (ParameterValue& existing : values) {
    if (existing.index == index) {
      existing.value = value;
      return;
    }
  }
  values.push_back({index, value});
}

}  // namespace tool
