// Named choices for the parameters that select among bands: the fractal
// types and the palettes, with the value in the middle of each band. The
// plugin reports only numbers; these names are what its parameters select.
#pragma once

#include <string>
#include <vector>

namespace cli {

struct Choice {
  const char* name;
  float value;
};

// The choices of the parameter with this name, or an empty list.
const std::vector<Choice>& ChoicesOf(const std::string& parameterName);

}  // namespace cli
