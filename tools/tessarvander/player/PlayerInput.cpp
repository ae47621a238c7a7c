#include "player/PlayerInput.h"

#include "player/Keys.h"

namespace tool {

void PlayerInput::Apply(const PlayerRequest& request) {
  currentAction = request.action;
  Stage& stage = parts.stage;
  LiveState& live = stage.Live();
  Window& window = parts.window;
  switch (request.action) {
    case PlayerAction::TogglePause: live.SetPaused(!live.Paused()); break;
    case PlayerAction::Pause: live.SetPaused(true); break;
    case PlayerAction::Play: live.SetPaused(false); break;
    case PlayerAction::ToggleFullscreen:
      window.ToggleFullscreen();
      parts.panel.SetVisible(!window.Fullscreen() || window.HasOutput());
      break;
    case PlayerAction::LeaveFullscreen:
      if (window.Fullscreen()) {
        window.ToggleFullscreen();
        parts.panel.SetVisible(true);
      }
      break;
    case PlayerAction::ToggleOutput: {
      std::string error;
      if (window.HasOutput()) {
        window.CloseOutput();
        parts.console.Say("output window closed");
      } else if (window.OpenOutput(parts.options.outputMonitor, error)) {
        parts.console.Say("output window open: the picture alone, full screen");
      } else {
        Problem(error);
      }
      break;
    }
    case PlayerAction::TogglePanel:
      parts.panel.SetVisible(!parts.panel.Visible());
      if (AudienceWatching())
        parts.console.Say("full screen without an output window is the audience's: the panel shows in a window (Esc) "
                          "or beside the output window (O)");
      break;
    case PlayerAction::ToggleHelp:
      // Nothing goes over the audience's picture: the keys go to the
      // terminal, and to the window's title a word on where they went.
      if (AudienceWatching()) {
        parts.console.ToTerminal(KeyHelp());
        parts.console.Say("the keys are in the terminal; Esc leaves full screen, O opens an output window");
        showHelp = false;
      } else {
        showHelp = !showHelp;
      }
      break;
    case PlayerAction::ToggleMessages:
      messagesOverPicture = !messagesOverPicture;
      parts.console.Say(messagesOverPicture ? "messages show over the picture in a window"
                                            : "messages show in the panel, the title and the terminal only");
      break;
    case PlayerAction::SaveStill: {
      std::string error;
      if (request.text.empty()) parts.captures.AskForStill();
      else if (!parts.captures.AskForStill(request.text, error)) Problem("OSC still: " + error);
      break;
    }
    case PlayerAction::ToggleRecording: parts.captures.ToggleVideo(); break;
    case PlayerAction::SaveBank:
      // As it stands now, written off the frame loop.
      parts.backstage.Write(
          [bank = stage.Bank(), folder = parts.options.outFolder, names = parts.names]() mutable -> Backstage::Outcome {
            std::string written, error;
            if (!bank.Save(folder, names, written, error)) return {true, error};
            return {false, "saved the bank in " + written};
          },
          stage.Bank().Size() * 1024, "the bank");
      break;
    case PlayerAction::StorePreset:
      if (request.number < 0 || static_cast<size_t>(request.number) >= kBankSlots) {
        Problem("a bank holds at most " + std::to_string(kBankSlots) + " looks");
        break;
      }
    {
      const size_t slot = static_cast<size_t>(request.number);
      stage.Bank().Store(slot, live.AllValues(), request.text);
      parts.console.Say("stored the look in slot " + std::to_string(slot + 1) + ": " + stage.Bank().Name(slot));
      // The performer names it in the panel; a controller sent its name.
      if (!fromController && request.text.empty() && parts.panel.Visible() && !AudienceWatching())
        parts.panel.AskName(slot, stage.Bank().Name(slot));
      break;
    }
    case PlayerAction::NamePreset:
      if (request.number < 0 || static_cast<size_t>(request.number) >= stage.Bank().Size() ||
          stage.Bank().Empty(static_cast<size_t>(request.number)))
        break;
      stage.Bank().Rename(static_cast<size_t>(request.number), request.text);
      parts.panel.Named(static_cast<size_t>(request.number));
      parts.console.Say("slot " + std::to_string(request.number + 1) + " is named " +
                        stage.Bank().Name(static_cast<size_t>(request.number)));
      break;
    case PlayerAction::ToggleTake: parts.captures.ToggleTake(live); break;
    case PlayerAction::ToggleBlackout: SetBlackout(!stage.GoingToBlack()); break;
    case PlayerAction::SetBlackout: SetBlackout(request.on); break;
    case PlayerAction::RecallPreset:
      HandsOn();
      Recall(static_cast<size_t>(request.number));
      break;
    case PlayerAction::CuePreset: {
      std::string why;
      const size_t preset = static_cast<size_t>(request.number);
      if (!stage.Cue(preset, why)) Problem(why);
      else parts.console.Say("cued preset " + std::to_string(preset + 1) + ": " + stage.Bank().Name(preset) +
                             "; G sends it out");
      break;
    }
    case PlayerAction::Go: {
      std::string why;
      size_t preset = 0;
      if (!stage.Go(preset, why)) Problem(why);
      else HandsOn(), parts.console.Say("preset " + std::to_string(preset + 1) + ": " + stage.Bank().Name(preset));
      break;
    }
    case PlayerAction::PreviousPreset:
    case PlayerAction::NextPreset:
      HandsOn();
      if (stage.Bank().Size() == 0) Recall(0);  // says there is no bank
      else Recall(request.action == PlayerAction::NextPreset ? stage.NextPreset() : stage.PreviousPreset());
      break;
    case PlayerAction::Tap: parts.rig.Tap(When(request), rigLines); break;
    case PlayerAction::NudgeTempo: parts.rig.Nudge(request.number, request.on, When(request)); break;
    case PlayerAction::TempoOne: parts.rig.One(When(request), rigLines); break;
    case PlayerAction::HalveTempo:
    case PlayerAction::DoubleTempo:
      parts.rig.ScaleTempo(request.action == PlayerAction::DoubleTempo ? 2.0 : 0.5, When(request), rigLines);
      break;
    case PlayerAction::ToggleTempoLock: parts.rig.LockTempo(!parts.rig.TempoLocked(), When(request), rigLines); break;
    case PlayerAction::SetTempoLock: parts.rig.LockTempo(request.on, When(request), rigLines); break;
    case PlayerAction::ToggleAutopilot:
    case PlayerAction::SetAutopilot: {
      Autopilot& pilot = parts.direction.Pilot();
      std::vector<std::string> said;
      pilot.Switch(request.action == PlayerAction::SetAutopilot ? request.on : !pilot.On(), said);
      for (const std::string& line : said) parts.console.Say(line);
      break;
    }
    case PlayerAction::SetParameter:
      HandsOn();
      live.Set(static_cast<uint32_t>(request.number), request.value);
      break;
    case PlayerAction::LoadPreset:
      // Read on the transport's thread, off the frame loop. A file is laid
      // over the look: what it does not name keeps its value.
      HandsOn();
      live.Apply(request.values);
      stage.Overlaid(request.text, request.values.size());
      parts.console.Say("loaded preset " + request.text + " over the look: " + stage.LookName());
      break;
    case PlayerAction::Learn: Learn(request.text); break;
    case PlayerAction::QueryParameter:
    case PlayerAction::AskStatus: break;  // answered to whoever asked (Apply of an OscCommand)
    case PlayerAction::AskToQuit:
      if (quitGuard.Press(parts.clock.Now())) quit = true;
      else parts.console.Say("press Q again to quit (Ctrl+Q quits at once)");
      break;
    case PlayerAction::Quit: quit = true; break;
  }
  Say(rigLines);
}

void PlayerInput::HandsOn() {
  std::vector<std::string> said;
  parts.direction.HandsOn(said);
  for (const std::string& line : said) parts.console.Say(line);
}

void PlayerInput::Apply(const OscCommand& command) {
  const PlayerRequest& request = command.request;
  fromController = true;
  Apply(request);
  fromController = false;
  // After the messages before it: a set then a query answers the set.
  if (request.action == PlayerAction::QueryParameter || request.action == PlayerAction::AskStatus)
    answers.push_back({command.sender, command.address, AnswerTo(request)});
}

// A request from a controller that fails is data for the door it came
// through, said once per address and reason; the performer's own are said.
void PlayerInput::Problem(const std::string& line) {
  if (fromController) refusals.push_back({OscAddressOf(currentAction), line});
  else parts.console.Problem(line);
}

float PlayerInput::AnswerTo(const PlayerRequest& question) const {
  if (question.action == PlayerAction::AskStatus) return parts.health.Value(static_cast<Health>(question.number));
  const std::vector<float>& values = parts.stage.Live().Values();
  const size_t index = static_cast<size_t>(question.number);
  return index < values.size() ? values[index] : 0.0f;
}

void PlayerInput::Learn(const std::string& what) {
  MidiTarget target;
  std::string error;
  if (!ParseMidiTarget(what, parts.names, target, error)) {
    Problem("OSC learn: " + error);
  } else if (!parts.rig.MidiOn()) {
    Problem("OSC learn: MIDI is off (--midi)");
  } else {
    parts.rig.Map().Learn(target);
    parts.console.Say("learning: move a control or press a pad for " + parts.rig.Map().TargetName(target));
  }
}

// What the panel asked of MIDI learning and the tempo's source.
void PlayerInput::Apply(const PanelInput::Midi& asked) {
  StageRig& rig = parts.rig;
  MidiMap& map = rig.Map();
  if (asked.learn) {
    if (map.Learning() && map.LearningTarget() == *asked.learn) {
      map.CancelLearning();
      parts.console.Say("learning cancelled");
    } else {
      map.Learn(*asked.learn);
      parts.console.Say("learning: move a control or press a pad for " + map.TargetName(*asked.learn));
    }
  }
  if (asked.clear >= 0 && static_cast<size_t>(asked.clear) < map.Mappings().size()) {
    const MidiMapping& mapping = map.Mappings()[asked.clear];
    parts.console.Say("cleared " + map.TargetName(mapping.target) + ": " + map.Describe(mapping));
    map.Clear(static_cast<size_t>(asked.clear));
    rig.MapEdited(rigLines);
  }
  if (asked.modeOf >= 0) {
    map.SetMode(static_cast<size_t>(asked.modeOf), asked.mode);
    rig.MapEdited(rigLines);
  }
  if (asked.source && *asked.source != rig.Source()) {
    rig.SetSource(*asked.source, rigLines);
    parts.console.Say(std::string("the tempo follows ") + TempoSourceName(*asked.source));
  }
  Say(rigLines);
}

void PlayerInput::Say(std::vector<RigLine>& lines) {
  for (const RigLine& line : lines) {
    if (line.problem) Problem(line.text);
    else parts.console.Say(line.text);
  }
  lines.clear();
}

bool PlayerInput::AudienceWatching() const { return parts.window.Fullscreen() && !parts.window.HasOutput(); }

void PlayerInput::Recall(size_t preset) {
  std::string why;
  if (!parts.stage.Recall(preset, why)) return Problem(why);
  parts.console.Say("preset " + std::to_string(preset + 1) + ": " + parts.stage.Bank().Name(preset));
}

void PlayerInput::SetBlackout(bool black) {
  if (parts.stage.SetBlackout(black)) parts.console.Say(black ? "blackout" : "back from blackout");
}

double PlayerInput::When(const PlayerRequest& request) const {
  return request.at >= 0.0 ? request.at : parts.clock.Now();
}

}  // namespace tool
