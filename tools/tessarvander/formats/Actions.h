// What the performer asks of the player, whatever asked: a key, a panel
// button, an OSC message, a remote's control or a MIDI pad all become one
// PlayerRequest, and the player answers every one of them in one place. The
// tables of keys (player/Keys.cpp), OSC addresses (formats/OscAddresses.cpp)
// and MIDI actions (formats/MidiMap.cpp) each name the action a row makes.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "formats/ParameterNames.h"

namespace tool {

// The bank's slots: keys, OSC, MIDI and the panel all count them from 1.
constexpr size_t kBankSlots = 100;
// The slots the keys reach (1 to 9 and 0).
constexpr size_t kKeySlots = 10;

enum class PlayerAction {
  SetParameter,     // `number`: the parameter; `value`
  QueryParameter,   // `number`: the parameter; answered to whoever asked
  LoadPreset,       // `text`: the file; `values`: what it holds, read off the frame loop
  TogglePause, Pause, Play,
  ToggleFullscreen, LeaveFullscreen, ToggleOutput, TogglePanel, ToggleHelp,
  ToggleMessages,   // the newest message over the picture, in a window without the panel
  SaveStill,        // `text`: a name from outside, or empty for a stamped name
  ToggleRecording, ToggleTake,
  SaveBank,         // the bank as a new folder in --out
  StorePreset,      // `number`: the slot from 0 that the look goes into; `text`: its name, or empty
  NamePreset,       // `number`: the slot from 0; `text`: its new name
  ToggleBlackout,
  SetBlackout,      // `on`: to black, or back (a momentary pad holds it)
  RecallPreset,     // `number`: the preset from 0 (key 1 is 0, key 0 is 9)
  CuePreset,        // `number`: the preset from 0, shown in the preview until Go
  Go,               // the look cued goes out, by the chosen transition
  PreviousPreset, NextPreset,
  Tap,
  NudgeTempo,       // `number`: +1 earlier, -1 later; `on`: pressed, false: let go
  TempoOne,         // the next downbeat is now
  HalveTempo, DoubleTempo,
  ToggleTempoLock,
  SetTempoLock,     // `on`: hold the tempo against its source, or let it lead
  ToggleAutopilot,
  SetAutopilot,     // `on`: the music changes the looks, or the performer alone
  Learn,            // `text`: what the next MIDI control moved drives ("zoom", "recall 3")
  AskStatus,        // `number`: the Health asked; answered to whoever asked
  AskToQuit,        // Q: quits when pressed twice within two seconds
  Quit              // Ctrl+Q, the panel's button, the window's close box
};

struct PlayerRequest {
  PlayerRequest(PlayerAction action = PlayerAction::Tap, int number = 0) : action(action), number(number) {}
  PlayerAction action;
  int number = 0;
  float value = 0.0f;
  bool on = true;
  std::string text;
  std::vector<ParameterValue> values;
  // When it happened (the key went down, the pad was hit, the message
  // arrived), of the player's clock; below 0: when it is applied.
  double at = -1.0;
};

// Actions that last while a key or pad is held: its release asks again
// with `on` false.
inline bool HeldAction(PlayerAction action) { return action == PlayerAction::NudgeTempo; }

}  // namespace tool
