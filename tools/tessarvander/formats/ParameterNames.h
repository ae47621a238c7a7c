// The plugin's parameters by name: the one place that turns what a user or
// a file calls a parameter into its index. A parameter is named by its
// name, in any case and with or without spaces, dashes or underscores
// ("Fractal Type", fractal-type, fractaltype), or by its index.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/PluginDescription.h"

namespace tool {

// One parameter's value, by index: what every source of changes produces
// and the frame loop sends.
struct ParameterValue {
  uint32_t index;
  float value;
};

class ParameterNames {
 public:
  explicit ParameterNames(std::vector<ParameterDescription> parameters)
      : parameters(std::move(parameters)) {}

  // Finds a parameter by name or index; false with the list of valid names.
  bool Resolve(const std::string& name, uint32_t& index, std::string& error) const;
  // The name the plugin gives the parameter with this index ("" for none).
  const std::string& NameOf(uint32_t index) const;
  const std::vector<ParameterDescription>& Parameters() const { return parameters; }

 private:
  std::vector<ParameterDescription> parameters;
};

// Puts a value into a list of values, replacing any for the same index.
void PutValue(std::vector<ParameterValue>& values, uint32_t index, float value);

}  // namespace tool
