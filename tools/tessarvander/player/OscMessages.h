// The player's OSC vocabulary, decoded from one datagram: what a message asks
// for, or why it is refused. No socket and no thread here, so the decoder is
// fuzzed and tested on its own.
//
//   /tessarvander/param/<name or index> f   set a parameter (names as --set takes them)
//   /tessarvander/param/<name or index>     ask for its value
//   /tessarvander/preset/load s             load a preset file
//   /tessarvander/preset/recall i           recall preset i (from 1) of the bank
//   /tessarvander/blackout i                1 fades to black, 0 back
//   /tessarvander/pause, /tessarvander/play
//   /tessarvander/still s                   save the current frame as NAME.png in --out
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "session/ParameterControls.h"

namespace cli {

// Far above any message of this vocabulary; larger datagrams are refused.
constexpr size_t kMaxOscMessageBytes = 4096;

struct OscCommand {
  enum Kind { SetParameter, Query, LoadPreset, RecallPreset, Blackout, Pause, Play, Still } kind = Pause;
  uint32_t index = 0;  // the parameter, or the preset from 0
  float value = 0.0f;
  std::string text;  // the preset's path, or the still's name
  std::vector<ParameterControls::Value> values;  // a preset, read
};

struct OscDecoded {
  bool ok = false;
  std::string address;  // as sent; shown only through Printable
  std::string why;      // when refused
  OscCommand command;
};

// Decodes one datagram of `size` bytes (the buffer may be changed).
OscDecoded DecodeOsc(char* data, size_t size, const ParameterControls& names);

}  // namespace cli
