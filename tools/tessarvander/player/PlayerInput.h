// Everything the performer asks of the player, applied in one place. Keys,
// the panel's buttons, OSC messages, the remote and MIDI pads all become
// PlayerRequests and go through one Apply; parameter changes from any of
// them go to the stage's values, and so to the take. Questions are answered
// as data, for the door they came through (remote/Controllers.h).
#pragma once

#include <string>
#include <vector>

#include "formats/Actions.h"
#include "formats/OscMessages.h"
#include "player/Captures.h"
#include "player/Clock.h"
#include "player/Console.h"
#include "player/ControlPanel.h"
#include "player/Direction.h"
#include "player/ShowHealth.h"
#include "player/Stage.h"
#include "player/StageControls.h"
#include "player/StageRig.h"
#include "player/Window.h"
#include "remote/Controllers.h"

namespace tool {

class PlayerInput {
 public:
  struct Parts {
    Stage& stage;
    Captures& captures;
    Window& window;
    ControlPanel& panel;
    StageRig& rig;
    Direction& direction;
    Console& console;
    Backstage& backstage;
    const Clock& clock;
    const ParameterNames& names;
    const PlayerOptions& options;
    const ShowHealth& health;
  };
  explicit PlayerInput(const Parts& parts) : parts(parts) {}

  void Apply(const PlayerRequest& request);
  // A command from a controller: its request, and a question's answer kept
  // for TakeAnswers.
  void Apply(const OscCommand& command);
  void Apply(const PanelInput::Midi& asked);
  // The answers to the questions applied since the last call, and the
  // controllers' requests that failed, for the door they came through.
  std::vector<OscAnswer>& Answers() { return answers; }
  std::vector<OscRefusal>& Refusals() { return refusals; }
  // The performer changed the look or a value by hand: the autopilot waits.
  void HandsOn();
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
  // When the request happened, of the clock: its own time, or now.
  double When(const PlayerRequest& request) const;
  void Learn(const std::string& what);
  void Problem(const std::string& line);
  // The value a question asks for.
  float AnswerTo(const PlayerRequest& question) const;

  Parts parts;
  std::vector<OscAnswer> answers;
  std::vector<OscRefusal> refusals;
  bool fromController = false;  // applying a controller's command
  PlayerAction currentAction = PlayerAction::Tap;
  QuitGuard quitGuard;
  bool quit = false;
  bool showHelp = false;
  bool messagesOverPicture = true;
  std::vector<RigLine> rigLines;
};

}  // namespace tool
