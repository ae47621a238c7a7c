// The control panel of `tessarvander play`: Dear ImGui over the picture, one
// slider per parameter labelled with the plugin's names and showing the
// plugin's own display texts with what they mean (when the plugin's profile
// is known), named choices for the banded parameters, the
// draw time and the frame rate, and buttons for the keys. Drawn after the
// plugin into the window; ImGui's OpenGL backend saves and restores the GL
// state it touches, so the plugin's next frame is drawn as without it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "player/Actions.h"
#include "player/Console.h"
#include "player/PresetBank.h"
#include "player/Window.h"
#include "formats/MidiMap.h"
#include "rig/Tempo.h"
#include "formats/ParameterControls.h"
#include "formats/ParameterProfile.h"

namespace tool {

struct PanelState {
  const std::vector<hostkit::ParameterDescription>* parameters = nullptr;
  const std::vector<float>* values = nullptr;      // by parameter index
  const std::vector<std::string>* texts = nullptr; // the plugin's display texts, by index
  const ParameterProfile* profile = nullptr;        // what the values mean, when known
  double drawMilliseconds = 0.0;
  double framesPerSecond = 0.0;  // drawn
  long frame = 0;
  long skippedFrames = 0;        // advanced at one pixel
  bool paused = false;
  bool recording = false;
  bool takeRecording = false;
  bool blackout = false;
  bool output = false;           // the picture is on the output window too
  double beatsPerMinute = 0.0;   // 0 for none yet
  int beatInBar = 0;
  TempoSource tempoSource = TempoSource::Tap;
  size_t linkPeers = 0;
  const MidiMap* midiMap = nullptr;  // with --midi: learn buttons and the map
  const PresetBank* bank = nullptr;
  const Console* console = nullptr;
  bool showHelp = false;
  bool askingToQuit = false;
};

struct PanelInput {
  std::vector<ParameterValue> edits;
  std::vector<PlayerRequest> actions;
  struct Midi {
    std::optional<MidiTarget> learn;  // starts learning, or cancels it when learning this
    long clear = -1;                  // the mapping to clear
    long modeOf = -1;                 // the mapping whose mode becomes `mode`
    MidiMode mode = MidiMode::Absolute;
    std::optional<TempoSource> source;
  } midi;
};

class ControlPanel {
 public:
  // With the window's GLFW handle, ImGui takes its mouse and keys; without
  // one (a headless window), the panel is drawn at the window's size and
  // takes no input.
  explicit ControlPanel(Window& window);
  ~ControlPanel();
  ControlPanel(const ControlPanel&) = delete;
  ControlPanel& operator=(const ControlPanel&) = delete;

  void SetVisible(bool visible) { shown = visible; }
  bool Visible() const { return shown; }
  // Draws the panel into the window's frame buffer, which must be bound,
  // when it is visible, and the overlays whether it is or not (the newest
  // message while the panel is hidden, the keys, the quit prompt); what the
  // user changed or pressed goes to `input`.
  void Draw(const PanelState& state, PanelInput& input);
  // True while the panel uses the keyboard (a value being typed): keys are
  // then not actions.
  bool WantsKeyboard() const;

 private:
  Window& window;
  const bool withPlatform;
  double lastFrameAt = 0.0;
  bool shown = true;
};

}  // namespace tool
