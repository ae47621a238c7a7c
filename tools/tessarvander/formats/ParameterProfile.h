// What the loaded plugin's values mean on screen, for a plugin whose
// parameter table this tool knows: Tessarvander's (identifier "QLMB"). The
// names of its bands ("Julia", "Fire") and its units ("12 branches",
// "6 layers", "8 wedges", "216°") come from the plugin's own table, the one
// its shader is built from. For any other plugin the profile is empty and
// the tool shows the plugin's own texts only: it stays a host for any plugin.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/PluginDescription.h"
#include "formats/ParameterControls.h"

namespace tool {

struct Choice {
  std::string name;
  float value;  // a value well inside the band
};

class ParameterProfile {
 public:
  // The profile of this plugin: Tessarvander's, or an empty one.
  static ParameterProfile For(const PluginDescription& plugin);

  bool Known() const { return known; }
  // "Julia", "12 branches", "216°"; empty when nothing more is known.
  std::string Meaning(uint32_t index, float value) const;
  // The bands of a banded parameter, each with a value that selects it;
  // empty for any other parameter.
  std::vector<Choice> Choices(uint32_t index) const;
  // The band the plugin draws for this value (-1 for a parameter without).
  int ChoiceOf(uint32_t index, float value) const;
  // True for a parameter the plugin eases over frames (and integrates into
  // its travel clock): an instance's picture depends on its history, not
  // only on its value now. False for any parameter of an unknown plugin.
  bool Eases(uint32_t index) const;
  // The known table's parameters as a host reads them, as the names --set
  // and documents resolve against: for what works without loading the
  // plugin (tests, fuzzers).
  static const ParameterNames& TableNames();

 private:
  bool known = false;
};

}  // namespace tool
