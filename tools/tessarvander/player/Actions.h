// What the performer asks of the player, whatever asked: a key, a panel
// button, an OSC message or a MIDI pad all become one PlayerRequest, and the
// player answers every one of them in one place (PlayerInput).
#pragma once

#include <string>

namespace tool {

enum class PlayerAction {
  TogglePause, Pause, Play,
  ToggleFullscreen, LeaveFullscreen, ToggleOutput, TogglePanel, ToggleHelp,
  ToggleMessages,   // the newest message over the picture, in a window without the panel
  SaveStill,        // `text`: a name from outside, or empty for a stamped name
  ToggleRecording, ToggleTake,
  SaveBank,         // the bank as a new folder in --out
  StorePreset,      // `number`: the slot from 0 that the look goes into
  ToggleBlackout,
  SetBlackout,      // `on`: to black, or back (a momentary pad holds it)
  RecallPreset,     // `number`: the preset from 0 (key 1 is 0, key 0 is 9)
  PreviousPreset, NextPreset,
  Tap,
  AskToQuit,        // Q: quits when pressed twice within two seconds
  Quit              // Ctrl+Q, the panel's button, the window's close box
};

struct PlayerRequest {
  PlayerRequest(PlayerAction action, int number = 0) : action(action), number(number) {}
  PlayerAction action;
  int number = 0;
  bool on = true;
  std::string text;
};

}  // namespace tool
