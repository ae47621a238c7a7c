#include "ParameterChoices.h"

namespace cli {
namespace {

// Fractal Type selects int(value * 3.99): four bands of a quarter each.
std::vector<Choice> FractalTypes() {
  const char* names[] = {"Ferrofluid", "Julia", "Kaleidoscope", "Mandelbrot"};
  std::vector<Choice> choices;
  for (int band = 0; band < 4; ++band) choices.push_back({names[band], (static_cast<float>(band) + 0.5f) / 4.0f});
  return choices;
}

// Color Mode selects int(value * 9.99): palette m from m / 9.99 on.
std::vector<Choice> Palettes() {
  const char* names[] = {"Manual",       "Ice Blue", "Fire",         "Rainbow Radial", "Rainbow Depth",
                         "Nebula",       "Gold/Bronze", "Matrix Green", "Synthwave",      "Monochrome"};
  std::vector<Choice> choices;
  for (int band = 0; band < 10; ++band) choices.push_back({names[band], (static_cast<float>(band) + 0.5f) / 9.99f});
  return choices;
}

}  // namespace

const std::vector<Choice>& ChoicesOf(const std::string& parameterName) {
  static const std::vector<Choice> fractalTypes = FractalTypes();
  static const std::vector<Choice> palettes = Palettes();
  static const std::vector<Choice> none;
  if (parameterName == "Fractal Type") return fractalTypes;
  if (parameterName == "Color Mode") return palettes;
  return none;
}

}  // namespace cli
