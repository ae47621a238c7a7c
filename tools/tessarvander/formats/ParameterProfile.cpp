#include "formats/ParameterProfile.h"

#include "ParameterTable.h"

namespace tool {

ParameterProfile ParameterProfile::For(const hostkit::PluginDescription& plugin) {
  ParameterProfile profile;
  profile.known = plugin.uniqueId == tessarvander::kPluginId;
  return profile;
}

std::string ParameterProfile::Meaning(uint32_t index, float value) const {
  if (!known || index >= tessarvander::kParameterCount) return "";
  return tessarvander::Meaning(tessarvander::kParameterRows[index], value);
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

const ParameterNames& ParameterProfile::TableNames() {
  static const ParameterNames names = [] {
    std::vector<hostkit::ParameterDescription> parameters;
    for (const tessarvander::ParameterRow& row : tessarvander::kParameterRows)
      parameters.push_back({row.index, row.name, FF_TYPE_STANDARD, row.defaultValue, 0.0f, 1.0f});
    return ParameterNames(parameters);
  }();
  return names;
}

}  // namespace tool
