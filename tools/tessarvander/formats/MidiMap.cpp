#include "formats/MidiMap.h"

#include <algorithm>

#include "formats/JsonReader.h"
#include "sys/OutputFile.h"
#include "sys/BoundedFile.h"
#include "sys/Messages.h"
#include "sys/NameTable.h"

namespace tool {
namespace {

constexpr const char* kFormat = "tessarvander-midi-map";
constexpr size_t kMapFileLimit = 256 * 1024;

// The actions a pad or a controller can fire, as the map file names them,
// with the request's number. A held action answers the pad's release too (a
// momentary blackout lets go, a nudge stops pushing); the others fire on a
// press only.
struct MidiActionRow {
  PlayerAction action;
  int number;
  const char* name;
  bool held;
};
constexpr MidiActionRow kActions[] = {{PlayerAction::SaveStill, 0, "still", false},
                                      {PlayerAction::SetBlackout, 0, "blackout", true},
                                      {PlayerAction::Tap, 0, "tap", false},
                                      {PlayerAction::NudgeTempo, 1, "nudge-earlier", true},
                                      {PlayerAction::NudgeTempo, -1, "nudge-later", true},
                                      {PlayerAction::TempoOne, 0, "one", false},
                                      {PlayerAction::HalveTempo, 0, "halve-tempo", false},
                                      {PlayerAction::DoubleTempo, 0, "double-tempo", false},
                                      {PlayerAction::ToggleTempoLock, 0, "lock-tempo", false},
                                      {PlayerAction::ToggleAutopilot, 0, "autopilot", false},
                                      {PlayerAction::RecallPreset, 0, "recall", false},
                                      {PlayerAction::CuePreset, 0, "cue", false},
                                      {PlayerAction::Go, 0, "go", false},
                                      {PlayerAction::NextPreset, 0, "next-preset", false},
                                      {PlayerAction::PreviousPreset, 0, "previous-preset", false},
                                      {PlayerAction::TogglePause, 0, "pause", false}};

// A recall or a cue names its look ("recall 3"): its number is the look's.
bool TakesLook(PlayerAction action) { return action == PlayerAction::RecallPreset || action == PlayerAction::CuePreset; }

// Other rows are told apart by their numbers.
const MidiActionRow* ActionRow(PlayerAction action, int number) {
  for (const MidiActionRow& row : kActions)
    if (row.action == action && (TakesLook(action) || row.number == number)) return &row;
  return nullptr;
}

const MidiActionRow* ActionNamed(const std::string& name) {
  for (const MidiActionRow& row : kActions)
    if (name == row.name) return &row;
  return nullptr;
}

std::string MidiActionList() {
  std::string list;
  for (const MidiActionRow& row : kActions) list += (list.empty() ? "" : ", ") + std::string(row.name);
  return list;
}

constexpr Named<MidiMode> kModes[] = {{MidiMode::Absolute, "absolute"},
                                      {MidiMode::Relative, "relative"},
                                      {MidiMode::RelativeOffset, "relative-offset"},
                                      {MidiMode::Momentary, "momentary"},
                                      {MidiMode::Toggle, "toggle"}};

bool ForNotes(MidiMode mode) { return mode == MidiMode::Momentary || mode == MidiMode::Toggle; }

// An endless encoder's step: two's complement (1 up, 127 down) or around 64.
int Step(MidiMode mode, int value) {
  if (mode == MidiMode::RelativeOffset) return value - 64;
  return value < 64 ? value : value - 128;
}

}  // namespace

bool ParseMidiTarget(const std::string& text, const ParameterNames& names, MidiTarget& target, std::string& error) {
  target = MidiTarget();
  const size_t space = text.find(' ');
  const MidiActionRow* taking = space == std::string::npos ? nullptr : ActionNamed(text.substr(0, space));
  if (taking && TakesLook(taking->action)) {
    const std::string number = text.substr(space + 1);
    if (number.empty() || number.size() > 3 || number.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(number) < 1 || std::stoi(number) > static_cast<int>(kBankSlots)) {
      error = "\"" + Printable(text, 40) + "\": " + taking->name + " takes a preset from 1 to " +
              std::to_string(kBankSlots);
      return false;
    }
    target.isAction = true;
    target.action = taking->action;
    target.number = std::stoi(number) - 1;
    return true;
  }
  const MidiActionRow* row = ActionNamed(text);
  if (row && !TakesLook(row->action)) {
    target.isAction = true;
    target.action = row->action;
    target.number = row->number;
    return true;
  }
  return names.Resolve(text, target.parameter, error);
}

const char* MidiModeName(MidiMode mode) { return NameOf(kModes, mode); }

std::vector<MidiMode> MidiModesFor(bool note) {
  std::vector<MidiMode> modes;
  for (const Named<MidiMode>& mode : kModes)
    if (ForNotes(mode.value) == note) modes.push_back(mode.value);
  return modes;
}

std::vector<MidiTarget> LearnableActions() {
  std::vector<MidiTarget> actions;
  for (const MidiActionRow& row : kActions) {
    if (TakesLook(row.action)) continue;
    MidiTarget target;
    target.isAction = true;
    target.action = row.action;
    target.number = row.number;
    actions.push_back(target);
  }
  return actions;
}

bool MidiTarget::operator==(const MidiTarget& other) const {
  if (isAction != other.isAction) return false;
  if (!isAction) return parameter == other.parameter;
  return action == other.action && number == other.number;
}

void MidiMap::Learn(const MidiTarget& target) {
  learning = true;
  learnTarget = target;
}

void MidiMap::Handle(const MidiEvent& event, const std::vector<float>& values, MidiResult& result) {
  const bool isNote = event.kind == MidiEvent::NoteOn || event.kind == MidiEvent::NoteOff;
  if (!isNote && event.kind != MidiEvent::ControlChange) return;
  // The fine half of a 14-bit pair refines the mapping of its coarse half.
  if (!isNote && event.number >= 32 && event.number < 64) {
    for (MidiMapping& mapping : mappings) {
      if (mapping.note || mapping.channel != event.channel || mapping.number != event.number - 32) continue;
      if (mapping.mode != MidiMode::Absolute) continue;
      if (!mapping.fine) {
        mapping.fine = true;
        result.mapChanged = true;
      }
      if (!mapping.target.isAction) {
        const ParameterDescription& parameter = names.Parameters()[mapping.target.parameter];
        const float share = static_cast<float>(mapping.coarse * 128 + event.value) / 16383.0f;
        result.edits.push_back(
            {mapping.target.parameter, parameter.minimum + (parameter.maximum - parameter.minimum) * share});
      }
      return;
    }
  }
  if (learning && (event.kind != MidiEvent::NoteOff)) {
    learning = false;
    mappings.erase(std::remove_if(mappings.begin(), mappings.end(),
                                  [&](const MidiMapping& mapping) {
                                    return mapping.target == learnTarget ||
                                           (mapping.note == isNote && mapping.channel == event.channel &&
                                            mapping.number == event.number);
                                  }),
                   mappings.end());
    if (mappings.size() >= kMaxMappings) return;
    MidiMapping mapping;
    mapping.note = isNote;
    mapping.channel = event.channel;
    mapping.number = event.number;
    mapping.target = learnTarget;
    // A pad on a parameter flips it; on an action, it fires while pressed.
    mapping.mode = isNote ? (learnTarget.isAction ? MidiMode::Momentary : MidiMode::Toggle) : MidiMode::Absolute;
    mappings.push_back(mapping);
    result.mapChanged = true;
    result.learned = TargetName(learnTarget) + ": " + Describe(mapping);
    return;  // the learning move itself does not act
  }
  for (MidiMapping& mapping : mappings)
    if (mapping.note == isNote && mapping.channel == event.channel && mapping.number == event.number)
      Apply(mapping, event, values, result);
}

void MidiMap::Apply(MidiMapping& mapping, const MidiEvent& event, const std::vector<float>& values,
                    MidiResult& result) {
  const bool press = event.kind == MidiEvent::NoteOn || (!mapping.note && event.value >= 64);
  if (mapping.target.isAction) {
    // A controller fires an action when it crosses the middle upwards.
    if (!mapping.note && mapping.mode != MidiMode::Absolute) return;
    bool on = press;
    if (mapping.mode == MidiMode::Toggle) {
      if (!press) return;
      on = mapping.on = !mapping.on;
    } else if (!mapping.note) {
      const bool wasOn = mapping.on;
      mapping.on = press;
      if (press == wasOn) return;
    }
    const MidiActionRow* row = ActionRow(mapping.target.action, mapping.target.number);
    if (!row || (!press && !row->held)) return;  // a pad's release asks nothing of most actions
    PlayerRequest request(mapping.target.action, mapping.target.number);
    request.on = row->held ? on : true;
    result.actions.push_back(request);
    return;
  }
  const uint32_t index = mapping.target.parameter;
  const ParameterDescription& parameter = names.Parameters()[index];
  const float span = parameter.maximum - parameter.minimum;
  // Steps and toggles move from the value as this frame's events left it.
  float current = index < values.size() ? values[index] : parameter.defaultValue;
  for (const ParameterValue& edit : result.edits)
    if (edit.index == index) current = edit.value;
  float value = current;
  switch (mapping.mode) {
    case MidiMode::Absolute:
      mapping.coarse = event.value;
      value = parameter.minimum + span * (mapping.fine ? event.value * 128.0f / 16383.0f : event.value / 127.0f);
      break;
    case MidiMode::Relative:
    case MidiMode::RelativeOffset:
      value = std::clamp(current + span * static_cast<float>(Step(mapping.mode, event.value)) / 128.0f,
                         parameter.minimum, parameter.maximum);
      break;
    case MidiMode::Momentary:
      value = press ? parameter.maximum : parameter.minimum;
      break;
    case MidiMode::Toggle:
      if (!press) return;
      value = current < parameter.minimum + span * 0.5f ? parameter.maximum : parameter.minimum;
      break;
  }
  result.edits.push_back({index, value});
}

void MidiMap::Clear(size_t mapping) {
  if (mapping < mappings.size()) mappings.erase(mappings.begin() + static_cast<long>(mapping));
}

void MidiMap::SetMode(size_t mapping, MidiMode mode) {
  if (mapping >= mappings.size() || ForNotes(mode) != mappings[mapping].note) return;
  mappings[mapping].mode = mode;
  if (mode != MidiMode::Absolute) mappings[mapping].fine = false;
}

std::string MidiMap::Describe(const MidiMapping& mapping) const {
  std::string text = std::string(mapping.note ? "note " : "controller ") + std::to_string(mapping.number) +
                     " on channel " + std::to_string(mapping.channel + 1);
  std::string traits = mapping.fine ? "14-bit" : "";
  if (mapping.mode != MidiMode::Absolute) traits += (traits.empty() ? "" : ", ") + std::string(MidiModeName(mapping.mode));
  return traits.empty() ? text : text + " (" + traits + ")";
}

std::string MidiMap::TargetName(const MidiTarget& target) const {
  if (!target.isAction) return names.NameOf(target.parameter);
  const MidiActionRow* row = ActionRow(target.action, target.number);
  if (!row) return "";
  return TakesLook(target.action) ? std::string(row->name) + " " + std::to_string(target.number + 1) : row->name;
}

std::string MidiMap::ToJson() const {
  nlohmann::json list = nlohmann::json::array();
  for (const MidiMapping& mapping : mappings) {
    nlohmann::json entry;
    entry["channel"] = mapping.channel + 1;
    entry[mapping.note ? "note" : "controller"] = mapping.number;
    if (mapping.fine) entry["bits"] = 14;
    entry["mode"] = MidiModeName(mapping.mode);
    if (mapping.target.isAction) {
      entry["action"] = ActionRow(mapping.target.action, mapping.target.number)->name;
      if (TakesLook(mapping.target.action)) entry["preset"] = mapping.target.number + 1;
    } else {
      entry["parameter"] = names.NameOf(mapping.target.parameter);
    }
    list.push_back(entry);
  }
  nlohmann::json document = {{"format", kFormat}, {"version", 1}, {"mappings", list}};
  return document.dump(2) + "\n";
}

bool MidiMap::FromJson(const std::string& text, const std::string& where, std::string& error) {
  nlohmann::json document;
  if (!ParseJson(text, where, document, error)) return false;
  if (!JsonFormat(document, kFormat, 1, "MIDI map", where, error)) return false;
  const auto list = document.find("mappings");
  if (list == document.end() || !list->is_array() || list->size() > kMaxMappings) {
    error = where + ": \"mappings\" must be a list of at most " + std::to_string(kMaxMappings);
    return false;
  }
  std::vector<MidiMapping> read;
  for (size_t i = 0; i < list->size(); ++i) {
    const nlohmann::json& entry = (*list)[i];
    const std::string place = where + ": mapping " + std::to_string(i + 1);
    if (!entry.is_object()) {
      error = place + " must be an object";
      return false;
    }
    MidiMapping mapping;
    long channel = 0, number = 0, bits = 7, preset = 1;
    std::string mode, name;
    mapping.note = entry.contains("note");
    if (!JsonWhole(entry, "channel", 1, 16, place, channel, error) ||
        !JsonWhole(entry, mapping.note ? "note" : "controller", 0, 127, place, number, error) ||
        !JsonText(entry, "mode", place, mode, error))
      return false;
    if (entry.contains("bits") && !JsonWhole(entry, "bits", 7, 14, place, bits, error)) return false;
    mapping.channel = static_cast<uint8_t>(channel - 1);
    mapping.number = static_cast<uint8_t>(number);
    mapping.fine = bits == 14;
    if (!ValueNamed(kModes, mode, mapping.mode) || ForNotes(mapping.mode) != mapping.note) {
      error = place + ": mode \"" + Printable(mode, 40) + "\" is not one of " +
              (mapping.note ? "momentary, toggle" : "absolute, relative, relative-offset");
      return false;
    }
    if (mapping.fine && (mapping.note || mapping.number >= 32 || mapping.mode != MidiMode::Absolute)) {
      error = place + ": 14 bits is for an absolute controller 0-31";
      return false;
    }
    if (entry.contains("action")) {
      if (!JsonText(entry, "action", place, name, error)) return false;
      mapping.target.isAction = true;
      const MidiActionRow* row = ActionNamed(name);
      if (!row) {
        error = place + ": no action \"" + Printable(name, 40) + "\" (" + MidiActionList() + ")";
        return false;
      }
      mapping.target.action = row->action;
      mapping.target.number = row->number;
      if (TakesLook(mapping.target.action)) {
        if (!JsonWhole(entry, "preset", 1, static_cast<long>(kBankSlots), place, preset, error)) return false;
        mapping.target.number = static_cast<int>(preset - 1);
      }
    } else {
      if (!JsonText(entry, "parameter", place, name, error)) return false;
      std::string why;
      if (!names.Resolve(name, mapping.target.parameter, why)) {
        error = place + ": " + why;
        return false;
      }
    }
    read.push_back(mapping);
  }
  mappings = std::move(read);
  return true;
}

bool MidiMap::Load(const std::string& path, std::string& error) {
  std::string text;
  if (!ReadBoundedFile(path, kMapFileLimit, "MIDI map", text, error)) return false;
  return FromJson(text, "MIDI map " + path, error);
}

bool MidiMap::Save(const std::string& path, std::string& error) const { return WriteWholeFile(path, ToJson(), error); }

}  // namespace tool
