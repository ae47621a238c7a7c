#include "formats/ParameterProfile.h"

#include <cmath>
#include <cstdio>

#include "ParameterTable.h"

namespace tool {

ParameterProfile ParameterProfile::For(const PluginDescription& plugin) {
  ParameterProfile profile;
  profile.known = plugin.uniqueId == tessarvander::kPluginId;
  return profile;
}

namespace {

// What a value without bands or a unit of its own means on screen: what the
// plugin's scaling makes of it, for the parameters where that reads as a
// quantity.
std::string PlainMeaning(uint32_t index, float value) {
  namespace param = tessarvander::param;
  const float scaled = tessarvander::Scaled(tessarvander::kParameterRows[index].scaling, value);
  char text[48] = "";
  switch (index) {
    case param::Speed: std::snprintf(text, sizeof text, "travel x%.2f", scaled); break;
    case param::Direction:
      if (scaled == 0.0f) std::snprintf(text, sizeof text, "still");
      else std::snprintf(text, sizeof text, "%s %.0f%%", scaled > 0.0f ? "forward" : "backward", std::fabs(100.0 * scaled));
      break;
    case param::Zoom: std::snprintf(text, sizeof text, "scale %.2f", scaled); break;
    case param::Brightness: std::snprintf(text, sizeof text, "gain x%.2f", scaled); break;
    case param::PulseSpeed: std::snprintf(text, sizeof text, "x%.2f", scaled); break;
    case param::Saturation: std::snprintf(text, sizeof text, "%.0f%%", 100.0 * value); break;
    case param::CenterX:
    case param::CenterY: std::snprintf(text, sizeof text, "%+.2f", value - 0.5); break;
    default: break;
  }
  return text;
}

}  // namespace

std::string ParameterProfile::Meaning(uint32_t index, float value) const {
  if (!known || index >= tessarvander::kParameterCount) return "";
  const std::string meaning = tessarvander::Meaning(tessarvander::kParameterRows[index], value);
  return meaning.empty() ? PlainMeaning(index, value) : meaning;
}

std::vector<Choice> ParameterProfile::Choices(uint32_t index) const {
  std::vector<Choice> choices;
  if (!known || index >= tessarvander::kParameterCount) return choices;
  const tessarvander::Bands& bands = tessarvander::kParameterRows[index].bands;
  for (int band = 0; band < bands.count; ++band)
    choices.push_back({bands.names[band], tessarvander::BandCentre(bands, band)});
  return choices;
}

int ParameterProfile::ChoiceOf(uint32_t index, float value) const {
  if (!known || index >= tessarvander::kParameterCount) return -1;
  const tessarvander::Bands& bands = tessarvander::kParameterRows[index].bands;
  return bands.count > 0 ? tessarvander::BandOf(bands, value) : -1;
}

bool ParameterProfile::Eases(uint32_t index) const {
  return known && index < tessarvander::kParameterCount &&
         tessarvander::kParameterRows[index].easing == tessarvander::Easing::Eased;
}

const ParameterNames& ParameterProfile::TableNames() {
  static const ParameterNames names = [] {
    std::vector<ParameterDescription> parameters;
    for (const tessarvander::ParameterRow& row : tessarvander::kParameterRows)
      parameters.push_back({row.index, row.name, kFloatParameter, row.defaultValue, 0.0f, 1.0f});
    return ParameterNames(parameters);
  }();
  return names;
}

}  // namespace tool
