#include "formats/MidiMessages.h"

namespace tool {

MidiDecoded DecodeMidi(const uint8_t* bytes, size_t size, MidiEvent& event) {
  if (size == 0 || bytes[0] < 0x80) return MidiDecoded::Malformed;
  const uint8_t status = bytes[0];
  if (status >= 0xF0) {
    // System messages: real-time ones are a single byte.
    if (status >= 0xF8) {
      if (size != 1) return MidiDecoded::Malformed;
      switch (status) {
        case 0xF8: event.kind = MidiEvent::Clock; return MidiDecoded::Event;
        case 0xFA: event.kind = MidiEvent::Start; return MidiDecoded::Event;
        case 0xFB: event.kind = MidiEvent::Continue; return MidiDecoded::Event;
        case 0xFC: event.kind = MidiEvent::Stop; return MidiDecoded::Event;
        default: return MidiDecoded::Ignored;
      }
    }
    return MidiDecoded::Ignored;  // system exclusive, song position, ...
  }
  const uint8_t kind = status & 0xF0;
  const size_t expected = (kind == 0xC0 || kind == 0xD0) ? 2 : 3;
  if (size != expected) return MidiDecoded::Malformed;
  for (size_t i = 1; i < size; ++i)
    if (bytes[i] >= 0x80) return MidiDecoded::Malformed;
  event.channel = status & 0x0F;
  event.number = bytes[1];
  event.value = size > 2 ? bytes[2] : 0;
  switch (kind) {
    case 0xB0: event.kind = MidiEvent::ControlChange; return MidiDecoded::Event;
    case 0x90: event.kind = event.value == 0 ? MidiEvent::NoteOff : MidiEvent::NoteOn; return MidiDecoded::Event;
    case 0x80: event.kind = MidiEvent::NoteOff; return MidiDecoded::Event;
    default: return MidiDecoded::Ignored;
  }
}

}  // namespace tool
