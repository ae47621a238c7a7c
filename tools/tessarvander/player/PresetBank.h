// A bank of looks: the presets of a folder in name order, recalled by number
// (keys 1 to 9 and 0, OSC /tessarvander/preset/recall) or stepped through with
// [ and ]. Read whole when the player starts, so a recall never touches the
// disk on stage. A look found during the show is stored into a slot at once
// (Shift+1 to 0, OSC /tessarvander/preset/store) under a name the performer
// gives ("slot N" by default); the keys' ten slots are always there, those
// the folder did not fill empty. Every look holds every parameter: recalled,
// it sets them all. The bank is saved whole as a new folder, never over a
// file.
#pragma once

#include <string>
#include <vector>

#include "formats/Actions.h"
#include "formats/ParameterControls.h"

namespace tool {

// A look's name without the number that orders the bank: "julia-fire" for
// "02-julia-fire" (or "02_julia-fire"); other names as they are.
std::string Unnumbered(const std::string& name);

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

  // How many of the folder's looks named only some parameters (the others
  // took the plugin's defaults).
  size_t Partial() const { return partial; }

  // Stores a look into slot `index` (from 0, below kBankSlots) under a name
  // (SlotName's: "slot N" when none is given); Rename names it afterwards.
  void Store(size_t index, const std::vector<ParameterValue>& values, const std::string& name = "");
  void Rename(size_t index, const std::string& name);
  // A name fit for a file of the saved bank, from anything a performer or a
  // controller sent: letters, digits, spaces, - _ and ., at most
  // kLongestName; "slot N" for nothing left.
  static constexpr size_t kLongestName = 48;
  static std::string SlotName(const std::string& wanted, size_t index);
  // Every parameter of the plugin: its default, or the value `named` gives.
  static std::vector<ParameterValue> Complete(const std::vector<ParameterValue>& named, const ParameterNames& names);
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
  size_t partial = 0;
};

}  // namespace tool
