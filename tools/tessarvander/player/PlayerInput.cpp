#include "player/PlayerInput.h"

namespace tool {

std::optional<PlayerRequest> RequestFromMidi(const MidiResult::Triggered& triggered) {
  PlayerRequest request(PlayerAction::Tap);
  switch (triggered.action) {
    case MidiAction::Blackout:  // a momentary pad holds the blackout while pressed
      request = PlayerRequest(PlayerAction::SetBlackout);
      request.on = triggered.on;
      return request;
    case MidiAction::Pause: request = PlayerRequest(PlayerAction::TogglePause); break;
    case MidiAction::Still: request = PlayerRequest(PlayerAction::SaveStill); break;
    case MidiAction::Tap: request = PlayerRequest(PlayerAction::Tap); break;
    case MidiAction::Recall: request = PlayerRequest(PlayerAction::RecallPreset, triggered.preset); break;
    case MidiAction::NextPreset: request = PlayerRequest(PlayerAction::NextPreset); break;
    case MidiAction::PreviousPreset: request = PlayerRequest(PlayerAction::PreviousPreset); break;
  }
  if (!triggered.on) return std::nullopt;  // a pad's release
  return request;
}

std::optional<PlayerRequest> RequestFromOsc(const OscCommand& command) {
  switch (command.kind) {
    case OscKind::RecallPreset: return PlayerRequest(PlayerAction::RecallPreset, static_cast<int>(command.index));
    case OscKind::StorePreset: return PlayerRequest(PlayerAction::StorePreset, static_cast<int>(command.index));
    case OscKind::Blackout: {
      PlayerRequest request(PlayerAction::SetBlackout);
      request.on = command.value != 0.0f;
      return request;
    }
    case OscKind::Tap: return PlayerRequest(PlayerAction::Tap);
    case OscKind::Pause: return PlayerRequest(PlayerAction::Pause);
    case OscKind::Play: return PlayerRequest(PlayerAction::Play);
    case OscKind::Still: {
      PlayerRequest request(PlayerAction::SaveStill);
      request.text = command.text;
      return request;
    }
    default: return std::nullopt;
  }
}

void PlayerInput::Apply(const PlayerRequest& request) {
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
        parts.console.Problem(error);
      }
      break;
    }
    case PlayerAction::TogglePanel:
      parts.panel.SetVisible(!parts.panel.Visible());
      if (AudienceWatching())
        parts.console.Say("full screen without an output window is the audience's: the panel shows in a window (Esc) "
                          "or beside the output window (O)");
      break;
    case PlayerAction::ToggleHelp: showHelp = !showHelp; break;
    case PlayerAction::ToggleMessages:
      messagesOverPicture = !messagesOverPicture;
      parts.console.Say(messagesOverPicture ? "messages show over the picture in a window"
                                            : "messages show in the panel, the title and the terminal only");
      break;
    case PlayerAction::SaveStill:
      if (request.text.empty()) parts.captures.AskForStill();
      else parts.captures.AskForStill(request.text);
      break;
    case PlayerAction::ToggleRecording: parts.captures.ToggleVideo(); break;
    case PlayerAction::SaveBank: {
      std::string written, error;
      if (stage.Bank().Save(parts.options.outFolder, parts.names, written, error))
        parts.console.Say("saved the bank in " + written);
      else
        parts.console.Problem(error);
      break;
    }
    case PlayerAction::StorePreset:
      if (request.number < 0 || static_cast<size_t>(request.number) >= PresetBank::kMostPresets) {
        parts.console.Problem("a bank holds at most " + std::to_string(PresetBank::kMostPresets) + " looks");
        break;
      }
      stage.Bank().Store(static_cast<size_t>(request.number), live.AllValues());
      parts.console.Say("stored the look in slot " + std::to_string(request.number + 1) + ": " +
                        stage.Bank().Name(static_cast<size_t>(request.number)));
      break;
    case PlayerAction::ToggleTake: parts.captures.ToggleTake(live); break;
    case PlayerAction::ToggleBlackout: SetBlackout(!stage.GoingToBlack()); break;
    case PlayerAction::SetBlackout: SetBlackout(request.on); break;
    case PlayerAction::RecallPreset: Recall(static_cast<size_t>(request.number)); break;
    case PlayerAction::PreviousPreset:
    case PlayerAction::NextPreset:
      if (stage.Bank().Size() == 0) Recall(0);  // says there is no bank
      else Recall(request.action == PlayerAction::NextPreset ? stage.NextPreset() : stage.PreviousPreset());
      break;
    case PlayerAction::Tap: Tap(); break;
    case PlayerAction::AskToQuit:
      if (quitGuard.Press(parts.clock.Now())) quit = true;
      else parts.console.Say("press Q again to quit (Ctrl+Q quits at once)");
      break;
    case PlayerAction::Quit: quit = true; break;
  }
}

void PlayerInput::Apply(const OscCommand& command) {
  if (std::optional<PlayerRequest> request = RequestFromOsc(command)) return Apply(*request);
  LiveState& live = parts.stage.Live();
  switch (command.kind) {
    case OscKind::SetParameter: live.Set(command.index, command.value); break;
    case OscKind::LoadPreset:
      // Read by the listener, off the frame thread.
      live.Apply(command.values);
      parts.console.Say("loaded preset " + command.text);
      break;
    case OscKind::Query:
      // After the messages before it: a set then a query answers the set.
      if (parts.osc) parts.osc->Answer(command, live.Values()[command.index]);
      break;
    case OscKind::Status:
      if (parts.osc) parts.osc->Answer(command, parts.health.Value(static_cast<Health>(command.index)));
      break;
    case OscKind::Learn: {
      MidiTarget target;
      std::string error;
      if (!ParseMidiTarget(command.text, parts.names, target, error)) {
        parts.console.Problem("OSC learn: " + error);
      } else if (!parts.rig.MidiOn()) {
        parts.console.Problem("OSC learn: MIDI is off (--midi)");
      } else {
        parts.rig.Map().Learn(target);
        parts.console.Say("learning: move a control or press a pad for " + parts.rig.Map().TargetName(target));
      }
      break;
    }
    default: break;
  }
}

void PlayerInput::Apply(const MidiResult::Triggered& triggered) {
  if (std::optional<PlayerRequest> request = RequestFromMidi(triggered)) Apply(*request);
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
    if (line.problem) parts.console.Problem(line.text);
    else parts.console.Say(line.text);
  }
  lines.clear();
}

bool PlayerInput::AudienceWatching() const { return parts.window.Fullscreen() && !parts.window.HasOutput(); }

void PlayerInput::Recall(size_t preset) {
  std::string why;
  if (!parts.stage.Recall(preset, why)) return parts.console.Problem(why);
  parts.console.Say("preset " + std::to_string(preset + 1) + ": " + parts.stage.Bank().Name(preset));
}

void PlayerInput::SetBlackout(bool black) {
  if (parts.stage.SetBlackout(black)) parts.console.Say(black ? "blackout" : "back from blackout");
}

void PlayerInput::Tap() {
  parts.rig.Tap(parts.clock.Now(), rigLines);
  Say(rigLines);
}

}  // namespace tool
