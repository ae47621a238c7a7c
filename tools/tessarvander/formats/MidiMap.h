// What each control of a MIDI controller does: a knob or fader moves a
// parameter, a pad triggers an action. Mappings are made by learning (the
// panel's "learn", then the control moved) or read from the map file, and
// the file is written again at every change, so a crash loses nothing.
//
// A mapping remembers the channel and the controller or note. Controllers
// are absolute (0-127) or endless encoders sending steps (two's complement,
// or around 64); controller 0-31 followed by controller 32-63 is a 14-bit
// pair, taken as one value of 0-16383 once its fine half is seen. Notes are
// momentary (1 while held) or toggle (each press flips).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/Actions.h"
#include "formats/MidiMessages.h"
#include "formats/ParameterControls.h"

namespace tool {

struct MidiTarget;

// Every action a control can fire but "recall" and "cue" (which need a look), in
// the panel's order, with the name the map file uses ("still", "blackout",
// "nudge-earlier", ...).
std::vector<MidiTarget> LearnableActions();

enum class MidiMode { Absolute, Relative, RelativeOffset, Momentary, Toggle };
const char* MidiModeName(MidiMode mode);
// The modes of a note, or of a controller.
std::vector<MidiMode> MidiModesFor(bool note);

// What a control drives: a parameter, or an action (with the preset, for
// RecallPreset).
struct MidiTarget {
  bool isAction = false;
  uint32_t parameter = 0;
  PlayerAction action = PlayerAction::Tap;
  int number = 0;  // recall: the preset from 0; a nudge: its direction
  bool operator==(const MidiTarget& other) const;
};

// "zoom" (any parameter name or index), "tap", "recall 3"; false with one
// line naming what is wrong.
bool ParseMidiTarget(const std::string& text, const ParameterNames& names, MidiTarget& target, std::string& error);

struct MidiMapping {
  bool note = false;   // a note, else a controller
  uint8_t channel = 0;
  uint8_t number = 0;
  bool fine = false;   // a 14-bit controller pair
  MidiMode mode = MidiMode::Absolute;
  MidiTarget target;
  // While playing.
  int coarse = 0;      // the pair's last coarse half
  bool on = false;     // a toggle's state
};

// What the events of one frame asked for.
struct MidiResult {
  std::vector<ParameterValue> edits;
  // The actions fired, in order; `on` is false for a held action let go.
  std::vector<PlayerRequest> actions;
  bool mapChanged = false;  // learned or refined: save the map
  std::string learned;      // "Zoom: controller 74 on channel 1", after a learn
};

class MidiMap {
 public:
  static constexpr size_t kMaxMappings = 512;

  explicit MidiMap(const ParameterNames& names) : names(names) {}

  // The next controller or note moved is mapped to `target`; replaces what
  // drove the target and what the control drove before.
  void Learn(const MidiTarget& target);
  void CancelLearning() { learning = false; }
  bool Learning() const { return learning; }
  const MidiTarget& LearningTarget() const { return learnTarget; }

  // One event, with the parameters' values as they stand (relative encoders
  // and toggles move from them).
  void Handle(const MidiEvent& event, const std::vector<float>& values, MidiResult& result);

  const std::vector<MidiMapping>& Mappings() const { return mappings; }
  void Clear(size_t mapping);
  void SetMode(size_t mapping, MidiMode mode);
  // "controller 74 on channel 1 (14-bit, relative)", "note 36 on channel 10 (toggle)".
  std::string Describe(const MidiMapping& mapping) const;
  std::string TargetName(const MidiTarget& target) const;

  // The map file: read with the bounded reader, every entry checked; written
  // under a temporary name, then put in place.
  bool Load(const std::string& path, std::string& error);
  bool Save(const std::string& path, std::string& error) const;
  std::string ToJson() const;
  bool FromJson(const std::string& text, const std::string& where, std::string& error);

 private:
  void Apply(MidiMapping& mapping, const MidiEvent& event, const std::vector<float>& values, MidiResult& result);

  const ParameterNames& names;
  std::vector<MidiMapping> mappings;
  bool learning = false;
  MidiTarget learnTarget;
};

}  // namespace tool
