// The control panel of `tessarvander play`: Dear ImGui in the window, beside
// or over the picture. Its sections fold away: the look (a slider for each
// parameter, its value to three decimals with what it means, the named
// choices of the banded ones, a tempo-locked motion to put on any of them),
// the bank (recall, or store the look into a slot), the keys' buttons, MIDI,
// and the messages. A header line shows the frame, the draw time, the drawn
// rate and the drawing scale, and the tempo with its four beat lights.
//
// The panel never draws over what the audience sees: in full screen without
// an output window it draws nothing at all, and the player's messages and
// prompts go to the window's title and the terminal instead.
//
// ImGui's OpenGL backend saves and restores the GL state it touches, so the
// plugin's next frame is drawn as without it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/MidiMap.h"
#include "formats/ParameterControls.h"
#include "formats/ParameterProfile.h"
#include "music/Reactions.h"
#include "formats/Actions.h"
#include "player/Console.h"
#include "player/PresetBank.h"
#include "player/Window.h"
#include "rig/Tempo.h"

namespace tool {

struct PanelState {
  const std::vector<ParameterDescription>* parameters = nullptr;
  const std::vector<float>* values = nullptr;       // the live deck's, by parameter index
  const ParameterProfile* profile = nullptr;         // what the values mean, when known
  const std::vector<Reaction>* reactions = nullptr;  // what moves the sliders
  double drawMilliseconds = 0.0;
  double framesPerSecond = 0.0;  // drawn
  double scale = 1.0;            // of the output's size, drawn
  long frame = 0;
  long skippedFrames = 0;        // advanced at one pixel
  bool paused = false;
  bool recording = false;
  bool takeRecording = false;
  bool blackout = false;
  bool output = false;               // the picture is on the output window too
  bool audience = false;             // full screen without an output window: draw nothing
  bool messagesOverPicture = true;   // in a window without the panel
  double beatsPerMinute = 0.0;       // shown: confirmed; 0 for none yet
  bool tempoChanging = false;        // a new tempo heard, not yet confirmed
  bool tempoLocked = false;
  bool autopilot = false;            // the music changes the looks
  long autopilotWaits = 0;           // bars it waits after a performer's change
  int beatInBar = -1;                // from 0; -1 without a tempo
  TempoSource tempoSource = TempoSource::Tap;
  size_t linkPeers = 0;
  const MidiMap* midiMap = nullptr;  // with --midi: learn buttons and the map
  const PresetBank* bank = nullptr;
  std::string lookName;              // the look recalled, and a preset file laid over it
  long cued = -1;                    // the look cued to go next, or -1
  unsigned previewTexture = 0;       // its preview, once drawn
  int previewWidth = 0, previewHeight = 0;
  const Console* console = nullptr;
  bool showHelp = false;
  bool askingToQuit = false;
};

struct PanelInput {
  std::vector<ParameterValue> edits;
  std::vector<PlayerRequest> actions;
  std::optional<Reaction> putReaction;  // a motion put on a slider
  long removeReaction = -1;             // the parameter whose motion is taken off
  struct Midi {
    std::optional<MidiTarget> learn;  // starts learning, or cancels it when learning this
    long clear = -1;                  // the mapping to clear
    long modeOf = -1;                 // the mapping whose mode becomes `mode`
    MidiMode mode = MidiMode::Absolute;
    std::optional<TempoSource> source;
  } midi;
};

// How the last panel drawn lay out, for the tests: whether it needed to
// scroll, and every button whose label did not fit it.
struct PanelLayout {
  float contentHeight = 0.0f;
  float windowHeight = 0.0f;
  float displayHeight = 0.0f;
  bool scrolls = false;
  std::vector<std::string> clippedButtons;
  int buttons = 0;
};

class ControlPanel {
 public:
  // The window gives ImGui its display and, where it has them, the mouse
  // and the keys (Window::StartPanel).
  explicit ControlPanel(Window& window);
  ~ControlPanel();
  ControlPanel(const ControlPanel&) = delete;
  ControlPanel& operator=(const ControlPanel&) = delete;

  void SetVisible(bool visible) { shown = visible; }
  bool Visible() const { return shown; }
  // Draws into the window's frame buffer, which must be bound: the panel
  // when it is visible, and over the picture in a window the keys (H), the
  // quit prompt and, with the panel hidden, the newest message; in full
  // screen without an output window, nothing. What the user changed or
  // pressed goes to `input`.
  void Draw(const PanelState& state, PanelInput& input);
  // True while the panel uses the keyboard (a value being typed): keys are
  // then not actions.
  bool WantsKeyboard() const;
  // Asks for the name of the look just stored in `slot`, `name` offered;
  // what the performer types comes back as a NamePreset request.
  void AskName(size_t slot, const std::string& name);
  // The slot was named (here or by a controller): the panel asks no more.
  void Named(size_t slot) {
    if (naming == static_cast<long>(slot)) naming = -1;
  }
  long Naming() const { return naming; }
  const PanelLayout& Layout() const { return layout; }

 private:
  void DrawNaming(PanelInput& input);

  Window& window;
  bool shown = true;
  bool storing = false;  // the bank's buttons store the look instead of recalling
  int learnRecall = 1;   // the slot, from 1, a recall pad is learned for
  long naming = -1;      // the slot whose name is being typed
  bool focusName = false;
  char nameBuffer[64] = {};
  PanelLayout layout;
};

}  // namespace tool
