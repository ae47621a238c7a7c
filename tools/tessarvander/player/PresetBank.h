// A bank of looks: the presets of a folder in name order, recalled by number
// (keys 1 to 9 and 0, OSC /tessarvander/preset/recall) or stepped through with
// [ and ]. Read whole when the player starts, so a recall never touches the
// disk on stage. A look found during the show is stored into a slot at once
// (Shift+1 to 0, OSC /tessarvander/preset/store), keeping the slot's name; the
// keys' ten slots are always there, those the folder did not fill empty. The
// bank is saved whole as a new folder, never over a file.
#pragma once

#include <string>
#include <vector>

#include "formats/Actions.h"
#include "formats/ParameterControls.h"

namespace tool {

class PresetBank {
 public:
  // Every *.json file of the folder, each a preset. False with one line:
  // no folder, no presets, more than kBankSlots, or a preset that cannot be
  // read (named with its reason).
  bool Load(const std::string& folder, const ParameterNames& names, std::string& error);

  size_t Size() const { return presets.size(); }
  const std::string& Folder() const { return folder; }
  // "03-ember" for 03-ember.json; "empty" for a slot without a look.
  const std::string& Name(size_t index) const { return presets[index].name; }
  bool Empty(size_t index) const { return presets[index].values.empty(); }
  const std::vector<ParameterValue>& Values(size_t index) const { return presets[index].values; }

  // Stores a look into slot `index` (from 0, below kBankSlots): the slot
  // keeps its name, an empty one is named after its number.
  void Store(size_t index, const std::vector<ParameterValue>& values);
  // Writes every look, in order, into a new folder in `parent`; the folder
  // it wrote in `written`. False with one line; nothing is ever replaced.
  bool Save(const std::string& parent, const ParameterNames& names, std::string& written, std::string& error);

  // The look after or before the last one recalled, wrapping round, past
  // the empty slots.
  size_t Next() const;
  size_t Previous() const;
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
