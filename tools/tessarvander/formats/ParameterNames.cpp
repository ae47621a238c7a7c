#include "formats/ParameterNames.h"

#include <cctype>

#include "sys/Messages.h"

namespace tool {
namespace {

std::string Normalised(const std::string& name) {
  std::string folded;
  for (char c : name)
    if (c != ' ' && c != '-' && c != '_') folded += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return folded;
}

}  // namespace

bool ParameterNames::Resolve(const std::string& name, uint32_t& index, std::string& error) const {
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
