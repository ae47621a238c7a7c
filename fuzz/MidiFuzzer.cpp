// libFuzzer target for what a MIDI port hands the player: a run of messages
// (each a length byte, then up to that many bytes) decoded and played
// through a map of every kind of mapping, learning included. Nothing may
// escape, every value set must lie within its parameter's range, and every
// action must name a preset the map allows.
#include <cstdint>
#include <string>
#include <vector>

#include "formats/MidiMap.h"
#include "formats/ParameterProfile.h"

namespace {

const char* kMap = R"({"format": "tessarvander-midi-map", "version": 1, "mappings": [
  {"channel": 1, "controller": 7, "bits": 14, "mode": "absolute", "parameter": "Zoom"},
  {"channel": 1, "controller": 16, "mode": "relative", "parameter": "Speed"},
  {"channel": 2, "controller": 16, "mode": "relative-offset", "parameter": "Hue"},
  {"channel": 10, "note": 36, "mode": "toggle", "parameter": "Glow"},
  {"channel": 10, "note": 37, "mode": "momentary", "parameter": "Mirror"},
  {"channel": 10, "note": 38, "mode": "momentary", "action": "blackout"},
  {"channel": 10, "note": 39, "mode": "toggle", "action": "recall", "preset": 100},
  {"channel": 1, "controller": 64, "mode": "absolute", "action": "tap"}]})";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const tool::ParameterNames& names = tool::ParameterProfile::TableNames();
  static const tool::MidiMap base = [&] {
    tool::MidiMap read(names);
    std::string why;
    if (!read.FromJson(kMap, "map", why)) __builtin_trap();
    return read;
  }();
  tool::MidiMap map = base;
  std::string error;
  bool changed = false;
  std::vector<float> values(names.Parameters().size(), 0.5f);
  for (size_t at = 0; at < size;) {
    const size_t length = std::min<size_t>(data[at] % 5, size - at - 1);
    const uint8_t* bytes = data + at + 1;
    at += 1 + length;
    tool::MidiEvent event;
    if (tool::DecodeMidi(bytes, length, event) != tool::MidiDecoded::Event) continue;
    if (event.channel > 15 || event.number > 127 || event.value > 127) __builtin_trap();
    // Now and then, learn: the next control moved takes a target.
    if (length == 4 - 1 && bytes[0] == 0xB5) {
      tool::MidiTarget target;
      target.parameter = event.value % names.Parameters().size();
      map.Learn(target);
    }
    tool::MidiResult result;
    map.Handle(event, values, result);
    changed = changed || result.mapChanged;
    for (const auto& edit : result.edits) {
      const auto& parameter = names.Parameters().at(edit.index);
      if (!(edit.value >= parameter.minimum && edit.value <= parameter.maximum)) __builtin_trap();
      values[edit.index] = edit.value;
    }
    for (const auto& action : result.actions)
      if (action.number < 0 || action.number >= static_cast<int>(tool::kBankSlots)) __builtin_trap();
  }
  if (map.Mappings().size() > tool::MidiMap::kMaxMappings) __builtin_trap();
  // What was learned writes and reads back the same.
  if (!changed) return 0;
  tool::MidiMap read(names);
  if (!read.FromJson(map.ToJson(), "map", error) || read.ToJson() != map.ToJson()) __builtin_trap();
  return 0;
}
