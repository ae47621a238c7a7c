// Everything the performer asks of the player, applied in one place. Keys,
// the panel's buttons, OSC messages and MIDI pads all become PlayerRequests
// and go through one Apply; parameter changes from any of them go to the
// stage's values, and so to the take.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "formats/OscMessages.h"
#include "player/Actions.h"
#include "player/Captures.h"
#include "player/Clock.h"
#include "player/Console.h"
#include "player/ControlPanel.h"
#include "player/ShowHealth.h"
#include "player/Stage.h"
#include "player/StageControls.h"
#include "player/StageRig.h"
#include "player/Window.h"
#include "remote/OscListener.h"

namespace tool {

// The request a MIDI pad or an OSC message makes, when it is one of the
// player's actions (a parameter, a query or a preset file is not).
std::optional<PlayerRequest> RequestFromMidi(const MidiResult::Triggered& triggered);
std::optional<PlayerRequest> RequestFromOsc(const OscCommand& command);

class PlayerInput {
 public:
  struct Parts {
    Stage& stage;
    Captures& captures;
    Window& window;
    ControlPanel& panel;
    StageRig& rig;
    OscListener* osc;  // null without --osc
    Console& console;
    const Clock& clock;
    const ParameterNames& names;
    const PlayerOptions& options;
    const ShowHealth& health;
  };
  explicit PlayerInput(const Parts& parts) : parts(parts) {}

  void Apply(const PlayerRequest& request);
  void Apply(const OscCommand& command);
  void Apply(const MidiResult::Triggered& triggered);
  void Apply(const PanelInput::Midi& asked);
  // What the rig had to say.
  void Say(std::vector<RigLine>& lines);

  bool QuitAsked() const { return quit; }
  // Full screen without an output window: the picture is the audience's,
  // and nothing is drawn over it.
  bool AudienceWatching() const;
  bool MessagesOverPicture() const { return messagesOverPicture; }
  bool AskingToQuit() const { return quitGuard.Asking(parts.clock.Now()); }
  bool ShowingHelp() const { return showHelp; }

 private:
  void Recall(size_t preset);
  void SetBlackout(bool black);
  void Tap();

  Parts parts;
  QuitGuard quitGuard;
  bool quit = false;
  bool showHelp = false;
  bool messagesOverPicture = true;
  std::vector<RigLine> rigLines;
};

}  // namespace tool
