// A bank of presets: the presets of a folder in name order, recalled by
// number (keys 1 to 9 and 0, OSC /tessarvander/preset/recall) or stepped
// through with [ and ]. Read whole when the player starts, so a recall never
// touches the disk on stage.
#pragma once

#include <string>
#include <vector>

#include "formats/ParameterControls.h"

namespace tool {

class PresetBank {
 public:
  static constexpr size_t kMostPresets = 100;

  // Every *.json file of the folder, each a preset. False with one line:
  // no folder, no presets, more than kMostPresets, or a preset that cannot be
  // read (named with its reason).
  bool Load(const std::string& folder, const ParameterNames& names, std::string& error);

  size_t Size() const { return presets.size(); }
  const std::string& Folder() const { return folder; }
  // "03-ember" for 03-ember.json.
  const std::string& Name(size_t index) const { return presets[index].name; }
  const std::vector<ParameterValue>& Values(size_t index) const { return presets[index].values; }

  // The preset after or before the last one recalled, wrapping round.
  size_t Next() const { return last < 0 ? 0 : (static_cast<size_t>(last) + 1) % presets.size(); }
  size_t Previous() const {
    return last <= 0 ? presets.size() - 1 : static_cast<size_t>(last) - 1;
  }
  void Recalled(size_t index) { last = static_cast<long>(index); }
  long Last() const { return last; }

 private:
  struct Preset {
    std::string name;
    std::vector<ParameterValue> values;
  };
  std::string folder;
  std::vector<Preset> presets;
  long last = -1;
};

}  // namespace tool
