// The player's keys: one table that the window's handling, the help overlay,
// --help, the panel's buttons and the README all follow.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "formats/Actions.h"

namespace tool {

// Modifier bits, as GLFW gives them.
constexpr int kKeyShift = 0x0001;
constexpr int kKeyControl = 0x0002;

struct KeyBinding {
  int key;             // the GLFW key code (GLFW_KEY_*)
  int mods;            // modifiers that must be held (kKeyControl), or 0
  PlayerAction action;
  int number;          // for RecallPreset
  const char* keyName; // as the performer reads it: "Space", "Ctrl+Q"
  const char* help;    // what it does, for the key list; null for a second key of an action
  const char* button;  // the panel's button for it, or null for none; "OFF|ON"
                       // for a toggle, labelled by what pressing it does
};

// Every key, in the order the key list shows them.
const std::vector<KeyBinding>& KeyBindings();
// The request a key press (or a held action's release) makes, if any.
std::optional<PlayerRequest> RequestForKey(int key, int mods, bool pressed = true);
// The key list, one key or group of keys a line, for the help overlay,
// --help and the README.
std::string KeyHelp();
// "Still (S)", "Stop video (R)": a panel button's label, for a toggle that
// is `on` or not.
std::string ButtonLabel(const KeyBinding& binding, bool on);

}  // namespace tool
