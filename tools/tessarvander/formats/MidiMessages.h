// MIDI as a controller sends it: control changes, notes and the clock. One
// message at a time, as a port delivers it; everything else a port may send
// (pitch bend, program changes, system exclusive) is ignored, and bytes that
// are not a message are counted as malformed, never trusted.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tool {

struct MidiEvent {
  enum Kind { ControlChange, NoteOn, NoteOff, Clock, Start, Continue, Stop };
  Kind kind = ControlChange;
  uint8_t channel = 0;  // 0-15 (shown as 1-16)
  uint8_t number = 0;   // controller or note
  uint8_t value = 0;    // 0-127; a note's velocity
};

enum class MidiDecoded { Event, Ignored, Malformed };

// A note on with velocity 0 is a note off, as running keyboards send it.
MidiDecoded DecodeMidi(const uint8_t* bytes, size_t size, MidiEvent& event);

}  // namespace tool
