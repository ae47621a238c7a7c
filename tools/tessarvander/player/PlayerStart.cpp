// How the show begins: the opening look, the take, the controllers, the
// rig, the direction, the panel and the decks, in that order, each said in
// the console. The loop itself is in Player.cpp.
#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "player/Player.h"

namespace tool {

bool Player::Start(std::string& error) {
  PresetBank& bank = stage.Bank();
  if (bank.Size() > 0)
    console.Say("bank " + bank.Folder() + ": " + std::to_string(bank.Size()) + " slots on keys 1-9 and 0, [ and ]");
  // The show opens on the bank's first look, unless told otherwise.
  if (bank.Partial() > 0)
    console.Say("bank: " + std::to_string(bank.Partial()) +
                " looks name only some parameters; recalled, the others take the plugin's defaults");
  if (options.startOnFirstLook && bank.Size() > 0 && !bank.Empty(0)) {
    stage.Open(0);
    console.Say("opening on preset 1: " + bank.Name(0));
  }
  if (!options.openingPreset.empty()) {
    stage.Overlaid(options.openingPreset, options.openingPresetNames);
    console.Say("opening on " + stage.LookName() + ": the others keep the plugin's defaults");
  }
  if (!stage.Live().Record(options.takePath, options.outFolder, error)) {
    if (!options.takePath.empty()) return false;
    console.Problem(error + "; takes (T) are off");
    error.clear();
  }
  if (!StartControllers(error)) return false;
  rig = std::make_unique<StageRig>(names, backstage);
  if (!rig->Start(options.rig, rigLines, error)) return false;
  // The live sound goes into the take beside its frames.
  if (rig->AudioOn() && stage.Live().KeepsHistory()) {
    std::string why;
    if (!stage.Live().RecordSound(options.takePath, options.outFolder, rig->SoundRate(), why))
      console.Problem(why + "; the take goes on without its sound");
  }
  if (!options.outputMonitor.empty() && !window.OpenOutput(options.outputMonitor, error)) return false;
  panel = std::make_unique<ControlPanel>(window);
  panel->SetVisible(!window.Fullscreen() || window.HasOutput());
  // A second deck only when looks dissolve in: it costs a second instance.
  const bool twoDecks = (options.crossfadeSeconds > 0.0 && options.transition != Transition::Morph) ||
                        CuesNeedTwoDecks(options.cues) || options.autopilot;
  direction = std::make_unique<Direction>(options, twoDecks);
  input = std::make_unique<PlayerInput>(PlayerInput::Parts{stage, captures, window, *panel, *rig, *direction, console,
                                                           backstage, clock, names, options, health});
  input->Say(rigLines);
  if (options.cues.cues.size() > 0)
    console.Say("cues: " + std::to_string(options.cues.cues.size()) + " from " + options.cuesPath +
                ", bar 1 on the tempo's next downbeat");
  if (options.autopilot) input->Apply(PlayerRequest(PlayerAction::SetAutopilot, 1));
  console.Say("press H for the keys; Q twice or Ctrl+Q quits");

  int width = 0, height = 0;
  FullSize(width, height);
  if (Scale() < 1.0) {
    width = std::max(1, static_cast<int>(std::lround(width * Scale())));
    height = std::max(1, static_cast<int>(std::lround(height * Scale())));
  }
  if (!decks.Start(session, width, height, options.framesPerSecond, twoDecks, error) || !upscaler.Create(error))
    return false;
  StartPipeWire();
  playStarted = clock.Now();
  pacer.Restart(playStarted, 0);
  return true;
}

// The door to every controller: the OSC port, and one web server for
// OSCQuery and the remote page (--remote, or --oscquery on the OSC address).
bool Player::StartControllers(std::string& error) {
  Controllers::Setup setup;
  setup.oscPort = options.oscPort;
  setup.oscHost = options.oscHost;
  setup.oscReply = options.oscReply;
  setup.web = options.remotePort > 0 || options.oscQueryPort > 0;
  setup.webPort = options.remotePort > 0 ? options.remotePort : options.oscQueryPort;
  setup.webHost = options.remotePort > 0 ? options.remoteHost : options.oscHost;
  setup.readOnly = options.remoteReadOnly;
  setup.webOption = options.remotePort > 0 ? "--remote" : "--oscquery";
  controllers = std::make_unique<Controllers>(names, session.Parameters(), profile, stage.Bank().Size());
  std::vector<std::string> said;
  if (!controllers->Start(setup, said, error)) return false;
  for (const std::string& line : said) console.Say(line);
  // The remote's address for a phone's camera, where a person reads the
  // terminal.
  if (!options.quiet && isatty(STDOUT_FILENO))
    for (const std::string& line : controllers->RemoteQrCode()) console.ToTerminal(line);
  UpdateShown();
  controllers->Publish(shown);
  return true;
}

void Player::StartPipeWire() {
  if (options.pipewireName.empty()) return;
  pipewire = std::make_unique<PipeWireOutput>();
  std::string why;
  if (pipewire->Start(options.pipewireName, decks.Width(), decks.Height(), options.framesPerSecond, why)) {
    console.Say("publishing the output to PipeWire as node " + options.pipewireName + " (" +
                std::to_string(decks.Width()) + "x" + std::to_string(decks.Height()) + ")");
  } else {
    console.Problem(why + "; playing on without it");
    pipewire.reset();
  }
}

}  // namespace tool
