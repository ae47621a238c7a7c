#include "player/Keys.h"

#define GLFW_INCLUDE_NONE  // only the key codes
#include <GLFW/glfw3.h>

#include <algorithm>

namespace tool {

const std::vector<KeyBinding>& KeyBindings() {
  using A = PlayerAction;
  static const std::vector<KeyBinding> bindings = {
      {GLFW_KEY_SPACE, 0, A::TogglePause, 0, "Space", "pause or play", "Pause|Play"},
      {GLFW_KEY_F, 0, A::ToggleFullscreen, 0, "F", "full screen", "Full screen"},
      {GLFW_KEY_ESCAPE, 0, A::LeaveFullscreen, 0, "Esc", "leave full screen", nullptr},
      {GLFW_KEY_O, 0, A::ToggleOutput, 0, "O", "output window on or off", "Output window|Close output"},
      {GLFW_KEY_S, 0, A::SaveStill, 0, "S", "save a still", "Still"},
      {GLFW_KEY_R, 0, A::ToggleRecording, 0, "R", "record a video, or stop", "Record video|Stop video"},
      {GLFW_KEY_P, 0, A::SaveBank, 0, "P", "save the bank of looks as a new folder", "Save bank"},
      {GLFW_KEY_T, 0, A::ToggleTake, 0, "T", "record a take, or stop", "Record take|Stop take"},
      {GLFW_KEY_1, kKeyShift, A::StorePreset, 0, "Shift+1-9, 0", "store the look into that slot of the bank", nullptr},
      {GLFW_KEY_2, kKeyShift, A::StorePreset, 1, "Shift+2", nullptr, nullptr},
      {GLFW_KEY_3, kKeyShift, A::StorePreset, 2, "Shift+3", nullptr, nullptr},
      {GLFW_KEY_4, kKeyShift, A::StorePreset, 3, "Shift+4", nullptr, nullptr},
      {GLFW_KEY_5, kKeyShift, A::StorePreset, 4, "Shift+5", nullptr, nullptr},
      {GLFW_KEY_6, kKeyShift, A::StorePreset, 5, "Shift+6", nullptr, nullptr},
      {GLFW_KEY_7, kKeyShift, A::StorePreset, 6, "Shift+7", nullptr, nullptr},
      {GLFW_KEY_8, kKeyShift, A::StorePreset, 7, "Shift+8", nullptr, nullptr},
      {GLFW_KEY_9, kKeyShift, A::StorePreset, 8, "Shift+9", nullptr, nullptr},
      {GLFW_KEY_0, kKeyShift, A::StorePreset, 9, "Shift+0", nullptr, nullptr},
      {GLFW_KEY_1, kKeyControl, A::CuePreset, 0, "Ctrl+1-9, 0", "cue a look of the bank: it shows in the preview", nullptr},
      {GLFW_KEY_2, kKeyControl, A::CuePreset, 1, "Ctrl+2", nullptr, nullptr},
      {GLFW_KEY_3, kKeyControl, A::CuePreset, 2, "Ctrl+3", nullptr, nullptr},
      {GLFW_KEY_4, kKeyControl, A::CuePreset, 3, "Ctrl+4", nullptr, nullptr},
      {GLFW_KEY_5, kKeyControl, A::CuePreset, 4, "Ctrl+5", nullptr, nullptr},
      {GLFW_KEY_6, kKeyControl, A::CuePreset, 5, "Ctrl+6", nullptr, nullptr},
      {GLFW_KEY_7, kKeyControl, A::CuePreset, 6, "Ctrl+7", nullptr, nullptr},
      {GLFW_KEY_8, kKeyControl, A::CuePreset, 7, "Ctrl+8", nullptr, nullptr},
      {GLFW_KEY_9, kKeyControl, A::CuePreset, 8, "Ctrl+9", nullptr, nullptr},
      {GLFW_KEY_0, kKeyControl, A::CuePreset, 9, "Ctrl+0", nullptr, nullptr},
      {GLFW_KEY_G, 0, A::Go, 0, "G", "go: the cued look goes out", "Go"},
      {GLFW_KEY_1, 0, A::RecallPreset, 0, "1-9, 0", "recall a look of the bank", nullptr},
      {GLFW_KEY_2, 0, A::RecallPreset, 1, "2", nullptr, nullptr},
      {GLFW_KEY_3, 0, A::RecallPreset, 2, "3", nullptr, nullptr},
      {GLFW_KEY_4, 0, A::RecallPreset, 3, "4", nullptr, nullptr},
      {GLFW_KEY_5, 0, A::RecallPreset, 4, "5", nullptr, nullptr},
      {GLFW_KEY_6, 0, A::RecallPreset, 5, "6", nullptr, nullptr},
      {GLFW_KEY_7, 0, A::RecallPreset, 6, "7", nullptr, nullptr},
      {GLFW_KEY_8, 0, A::RecallPreset, 7, "8", nullptr, nullptr},
      {GLFW_KEY_9, 0, A::RecallPreset, 8, "9", nullptr, nullptr},
      {GLFW_KEY_0, 0, A::RecallPreset, 9, "0", nullptr, nullptr},
      {GLFW_KEY_LEFT_BRACKET, 0, A::PreviousPreset, 0, "[", "the look before in the bank", nullptr},
      {GLFW_KEY_RIGHT_BRACKET, 0, A::NextPreset, 0, "]", "the look after in the bank", nullptr},
      {GLFW_KEY_ENTER, 0, A::Tap, 0, "Enter", "tap the tempo", "Tap"},
      {GLFW_KEY_KP_ENTER, 0, A::Tap, 0, "Enter", nullptr, nullptr},
      {GLFW_KEY_RIGHT, 0, A::NudgeTempo, 1, "Right", "nudge the beat earlier (hold to push)", nullptr},
      {GLFW_KEY_LEFT, 0, A::NudgeTempo, -1, "Left", "nudge the beat later (hold to push)", nullptr},
      {GLFW_KEY_D, 0, A::TempoOne, 0, "D", "the next downbeat is now", "One"},
      {GLFW_KEY_UP, 0, A::DoubleTempo, 0, "Up", "double the tempo", "Double"},
      {GLFW_KEY_DOWN, 0, A::HalveTempo, 0, "Down", "halve the tempo", "Halve"},
      {GLFW_KEY_L, 0, A::ToggleTempoLock, 0, "L", "lock the tempo against its source, or let it lead",
       "Lock"},
      {GLFW_KEY_A, 0, A::ToggleAutopilot, 0, "A", "autopilot: the music changes the looks, or stops",
       nullptr},
      {GLFW_KEY_B, 0, A::ToggleBlackout, 0, "B", "blackout, or back", "Blackout|Back"},
      {GLFW_KEY_TAB, 0, A::TogglePanel, 0, "Tab", "show or hide the panel", "Hide panel"},
      {GLFW_KEY_M, 0, A::ToggleMessages, 0, "M", "messages over the picture on or off (in a window)", nullptr},
      {GLFW_KEY_H, 0, A::ToggleHelp, 0, "H or ?", "these keys", "Keys"},
      {GLFW_KEY_SLASH, 0, A::ToggleHelp, 0, "?", nullptr, nullptr},  // ? on most layouts
      {GLFW_KEY_Q, kKeyControl, A::Quit, 0, "Ctrl+Q", "quit at once", nullptr},
      {GLFW_KEY_Q, 0, A::AskToQuit, 0, "Q", "quit, when pressed twice", "Quit"},
  };
  return bindings;
}

std::optional<PlayerRequest> RequestForKey(int key, int mods, bool pressed) {
  // The first row whose modifiers are all held: Ctrl+Q before Q. A release
  // asks only of a held action.
  for (const KeyBinding& binding : KeyBindings()) {
    if (binding.key != key || (pressed && (mods & binding.mods) != binding.mods)) continue;
    if (!pressed && !HeldAction(binding.action)) continue;
    PlayerRequest request(binding.action, binding.number);
    request.on = pressed;
    return request;
  }
  return std::nullopt;
}

std::string KeyHelp() {
  size_t widest = 0;
  for (const KeyBinding& binding : KeyBindings())
    if (binding.help) widest = std::max(widest, std::string(binding.keyName).size());
  std::string help = "keys:";
  for (const KeyBinding& binding : KeyBindings()) {
    if (!binding.help) continue;
    std::string name = binding.keyName;
    name.resize(widest + 2, ' ');
    help += "\n  " + name + binding.help;
  }
  return help;
}

std::string ButtonLabel(const KeyBinding& binding, bool on) {
  const std::string both = binding.button;
  const size_t bar = both.find('|');
  const std::string label = bar == std::string::npos ? both : on ? both.substr(bar + 1) : both.substr(0, bar);
  return label + " (" + binding.keyName + ")";
}

}  // namespace tool
