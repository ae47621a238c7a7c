#include "player/Player.h"

#include <GL/glew.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <thread>

#include "formats/Presets.h"
#include "output/StillSink.h"
#include "render/ScratchFrames.h"
#include "sys/Interrupts.h"
#include "sys/Messages.h"
#include "sys/SteadyClock.h"

namespace cli {
namespace {

// "tessarvander-20261207-231500-1.png": the files a session saves.
std::string StampedName(const std::string& folder, const std::string& extension) {
  static int count = 0;
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", std::localtime(&now));
  return (folder.empty() ? "" : folder + "/") + "tessarvander-" + stamp + "-" + std::to_string(++count) + extension;
}

}  // namespace

Player::Player(PlayerWindow& window, const HostSession& session, const ParameterControls& controls,
               const PlayerOptions& options)
    : window(window),
      session(session),
      controls(controls),
      options(options),
      profile(ParameterProfile::For(session.Description())),
      live(controls, options.framesPerSecond),
      pacer(options.framesPerSecond),
      blackout(options.blackoutSeconds, options.framesPerSecond),
      bank(options.bank),
      started(Clock::now()) {
  texts.assign(live.Values().size(), "");
  switchesAtMidpoint.assign(live.Values().size(), false);
  for (size_t index = 0; index < switchesAtMidpoint.size(); ++index)
    switchesAtMidpoint[index] = !profile.Choices(static_cast<uint32_t>(index)).empty();
}

Player::~Player() = default;

double Player::Now() const { return std::chrono::duration<double>(Clock::now() - started).count(); }

void Player::Say(const std::string& line) {
  if (!options.quiet) std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  messages.Add(line, false, Now());
}

void Player::Problem(const std::string& line) {
  Warn(line);
  messages.Add(line, true, Now());
}

bool Player::Run(std::string& error) {
  if (bank.Size() > 0)
    Say("bank " + bank.Folder() + ": " + std::to_string(bank.Size()) + " presets on keys 1-9 and 0, [ and ]");
  if (!options.takePath.empty() && !live.RecordSession(options.takePath, error)) return false;
  if (options.oscPort > 0) {
    osc = std::make_unique<OscListener>(controls.Names());
    if (!osc->Start(options.oscHost, options.oscPort, error)) return false;
    if (!options.oscReply.empty() && !osc->ReplyTo(options.oscReply, error)) return false;
    Say("listening for OSC on " + options.oscHost + " port " + std::to_string(options.oscPort) +
        (options.oscReply.empty() ? "" : "; changes go to " + options.oscReply));
    if (options.oscQueryPort > 0) {
      oscQuery = std::make_unique<OscQueryServer>();
      if (!oscQuery->Start(options.oscHost, options.oscQueryPort, options.oscPort, session.Parameters(), profile,
                           bank.Size(), error))
        return false;
      oscQuery->Publish(live.Values());
      Say("OSCQuery on " + options.oscHost + " port " + std::to_string(options.oscQueryPort));
    }
  }
  rig = std::make_unique<StageRig>(controls.Names());
  if (!rig->Start(options.rig, rigLines, error)) return false;
  Say(rigLines);
  if (!options.outputMonitor.empty() && !window.OpenOutput(options.outputMonitor, error)) return false;
  if (!dimmer.Create(error) || !scratch.Create(1, 1, hostkit::PixelFormat::Rgba8, error)) return false;
  panel = std::make_unique<ControlPanel>(window);
  panel->SetVisible(!window.Fullscreen() || window.HasOutput());
  Say(KeyHelp());

  if (!SizeTarget(error)) return false;
  instance = session.CreateInstance(target.Width(), target.Height(), error);
  if (!instance) return false;
  driver = std::make_unique<FrameDriver>(*instance, options.framesPerSecond);
  if (!options.pipewireName.empty()) {
    pipewire = std::make_unique<PipeWireOutput>();
    std::string why;
    if (pipewire->Start(options.pipewireName, target.Width(), target.Height(), options.framesPerSecond, why)) {
      Say("publishing the output to PipeWire as node " + options.pipewireName + " (" +
          std::to_string(target.Width()) + "x" + std::to_string(target.Height()) + ")");
    } else {
      Problem(why + "; playing on without it");
      pipewire.reset();
    }
  }
  playStarted = Now();
  pacer.Restart(playStarted, 0);

  bool quit = false;
  while (!quit && !window.ShouldClose() && !Interrupted()) {
    TakeInput(quit);
    if (quit) break;
    int windowWidth = 0, windowHeight = 0;
    window.FramebufferSize(windowWidth, windowHeight);
    if (windowWidth <= 0 || windowHeight <= 0) {  // minimised: the flight waits
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      pacer.Restart(Now(), live.ShownFrames());
      continue;
    }
    if (!SizeTarget(error)) return false;
    long due = live.Paused() ? 0 : pacer.Due(Now(), live.ShownFrames());
    if (options.quitAfter > 0) due = std::min(due, static_cast<long>(options.quitAfter) - live.ShownFrames());
    drewThisPass = false;
    if (due > 0 && (!AdvanceAtOnePixel(due - 1, error) || !Draw(error))) return false;
    SaveRequested();
    SendToPipeWire();
    TellControllers();
    Present(windowWidth, windowHeight);
    if (options.quitAfter > 0 && live.ShownFrames() >= options.quitAfter) break;
    WaitForNextFrame();
  }
  return Finish(error);
}

// What came in since the last pass, in order: keys, panel, OSC, MIDI.
void Player::TakeInput(bool& quit) {
  window.PollEvents();
  for (const PlayerRequest& request : window.TakeActions())
    if (!panel->WantsKeyboard()) Apply(request, quit);
  live.Apply(input.edits);
  for (const PlayerRequest& request : input.actions) Apply(request, quit);
  Apply(input.midi);
  input = PanelInput();
  if (osc) {
    osc->Drain(SteadySeconds(), commands);
    oscStillThisFrame = false;
    refusedStills = 0;
    for (const OscCommand& command : commands) Apply(command);
    if (refusedStills > 0)
      Problem("OSC: refused " + std::to_string(refusedStills) + " still request" + (refusedStills > 1 ? "s" : "") +
              ": one still a frame");
  }
  midi = MidiResult();
  rig->Poll(SteadySeconds(), live.Values(), midi, rigLines);
  live.Apply(midi.edits);
  for (const MidiResult::Triggered& triggered : midi.actions) Apply(triggered, quit);
  Say(rigLines);
  stillPending = !stillPaths.empty();
}

// The picture's full size: the output window's when it is open, else the
// first window's.
void Player::FullSize(int& width, int& height) const {
  if (window.HasOutput()) window.OutputSize(width, height);
  else window.FramebufferSize(width, height);
  width = std::max(1, width), height = std::max(1, height);
}

// The frame buffer the plugin draws into: the output window's size when it
// is open, else the window's, or the preview's fraction of it unless a still
// or a video wants every pixel.
bool Player::SizeTarget(std::string& error) {
  int fullWidth = 0, fullHeight = 0;
  FullSize(fullWidth, fullHeight);
  // While paused the picture cannot be drawn again, so it keeps its size.
  const bool full = options.scale >= 1.0 || (!live.Paused() && (stillPending || recordingWanted)) || recording;
  const int width = full ? fullWidth : std::max(1, static_cast<int>(std::lround(fullWidth * options.scale)));
  const int height = full ? fullHeight : std::max(1, static_cast<int>(std::lround(fullHeight * options.scale)));
  if (target.Width() != width || target.Height() != height) {
    if (recording) StopRecording("the picture changed size");
    target.Release();
    if (!target.Create(width, height, hostkit::PixelFormat::Rgba8, error)) return false;
    if (instance) instance->Resize({0, 0, static_cast<uint32_t>(width), static_cast<uint32_t>(height)});
    drewOnce = false;
  }
  if (recordingWanted && target.Width() == fullWidth && target.Height() == fullHeight) {
    StartRecording();
    recordingWanted = false;
  }
  return true;
}

void Player::StepStage() {
  // The tempo goes to the plugin with every frame, as a host playing music
  // would tell it; the live sound's reactions are set like any change, so a
  // take replays them.
  const TempoReading tempo = rig->Tempo(SteadySeconds());
  if (tempo.Known()) driver->SetBeat(static_cast<float>(tempo.beatsPerMinute), tempo.BarPhase());
  rig->ReactionValues(reactionValues);
  live.Apply(reactionValues);
  if (crossfade.Active()) {
    crossfade.Step(fadeValues);
    live.Apply(fadeValues);
  }
  blackout.Step();
}

// The frames that fell due while the last one was drawn: each a process
// call at one pixel, so the clock and the eased values advance exactly as
// in full frames. A recording repeats the last picture for them, so it
// lasts as long as the wall time it covers.
bool Player::AdvanceAtOnePixel(long frames, std::string& error) {
  for (long k = 0; k < frames; ++k) {
    StepStage();
    PrepareScratchFrame(scratch);
    lastCallAt = Now();
    if (!driver->Process(live.ShownFrames(), live.AllValues())) {
      error = "the plugin failed frame " + std::to_string(live.ShownFrames());
      return false;
    }
    live.FrameShown(true);
    ++skippedFrames;
    if (recording && drewOnce) {
      glBindFramebuffer(GL_READ_FRAMEBUFFER, target.FrameBuffer());
      if (!readback->Submit(recordedFrames++)) StopRecording("the encoder stopped: " + readback->Error());
    }
  }
  return true;
}

// One process call at full size; then the blackout over it. The draw time
// is measured to the end of the GL work.
bool Player::Draw(std::string& error) {
  const auto drawStart = Clock::now();
  StepStage();
  target.Bind();
  lastCallAt = Now();
  if (!driver->Process(live.ShownFrames(), live.AllValues())) {
    error = "the plugin failed frame " + std::to_string(live.ShownFrames());
    return false;
  }
  if (blackout.Level() < 1.0f) {
    target.Bind();
    glViewport(0, 0, target.Width(), target.Height());
    dimmer.Apply(blackout.Level());
  }
  drewOnce = drewThisPass = true;
  live.FrameShown(true);
  ++drawnFrames;
  glFinish();
  drawMilliseconds = std::chrono::duration<double, std::milli>(Clock::now() - drawStart).count();
  longestDraw = std::max(longestDraw, drawMilliseconds / 1000.0);
  const double now = Now();
  if (now > lastDrawn) drawnPerSecond = 0.9 * drawnPerSecond + 0.1 / (now - lastDrawn);
  lastDrawn = now;
  // The plugin's texts are only shown by the panel.
  if (panel->Visible())
    for (uint32_t index = 0; index < texts.size(); ++index) texts[index] = instance->DisplayText(index);
  return true;
}

// Stills and the video take the plugin's picture alone, before the panel is
// drawn over it in the window.
void Player::SaveRequested() {
  int fullWidth = 0, fullHeight = 0;
  FullSize(fullWidth, fullHeight);
  const bool full = target.Width() == fullWidth && target.Height() == fullHeight;
  if (full && (drewThisPass || live.Paused())) {
    if (!drewOnce) {  // paused before anything was drawn at this size
      target.Bind();
      glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
      glClear(GL_COLOR_BUFFER_BIT);
      drewOnce = true;
    }
    for (const std::string& path : stillPaths) SaveStill(path);
    stillPaths.clear();
  } else if (stillPending && live.Paused() && !stillWaitSaid) {
    Say("the still waits for play: the scaled preview cannot be drawn again at full size while paused");
    stillWaitSaid = true;
  }
  if (!stillPending) stillWaitSaid = false;
  if (recording && drewThisPass) {
    glBindFramebuffer(GL_READ_FRAMEBUFFER, target.FrameBuffer());
    if (!readback->Submit(recordedFrames++)) StopRecording("the encoder stopped: " + readback->Error());
  }
}

// The picture to PipeWire, only while a consumer takes it, at the size the
// stream was published with.
void Player::SendToPipeWire() {
  if (!pipewire || !pipewire->Streaming()) return;
  if (target.Width() != pipewire->Width() || target.Height() != pipewire->Height()) return;
  // A picture is read back once; while paused, or between draws, it is sent
  // again as it is.
  if (drewThisPass || streamedPicture.empty()) streamedPicture = target.ReadRgba8();
  pipewire->Send(streamedPicture);
}

// The values as they stand to controllers: OSCQuery's answers, and every
// value that changed since the last pass, whatever changed it (panel, keys,
// OSC, a preset, a crossfade), to the --osc-reply controller.
void Player::TellControllers() {
  if (oscQuery) oscQuery->Publish(live.Values());
  if (!osc || options.oscReply.empty()) return;
  const std::vector<float>& values = live.Values();
  if (oscNames.empty()) {
    for (const hostkit::ParameterDescription& parameter : session.Parameters()) oscNames.push_back(OscName(parameter.name));
    reported.assign(values.size(), NAN);
  }
  for (size_t index = 0; index < values.size() && index < oscNames.size(); ++index) {
    if (values[index] == reported[index]) continue;
    osc->Report(oscNames[index], values[index]);
    reported[index] = values[index];
  }
}

void Player::Present(int windowWidth, int windowHeight) {
  glBindFramebuffer(GL_READ_FRAMEBUFFER, target.FrameBuffer());
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
  glViewport(0, 0, windowWidth, windowHeight);
  glBlitFramebuffer(0, 0, target.Width(), target.Height(), 0, 0, windowWidth, windowHeight, GL_COLOR_BUFFER_BIT,
                    GL_LINEAR);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  const double now = Now();
  PanelState state;
  state.parameters = &session.Parameters();
  state.values = &live.Values();
  state.texts = &texts;
  state.profile = &profile;
  state.drawMilliseconds = drawMilliseconds;
  state.framesPerSecond = drawnPerSecond;
  state.frame = live.ProcessedFrames();
  state.skippedFrames = skippedFrames;
  state.paused = live.Paused();
  state.recording = recording;
  state.takeRecording = live.TakeRecording();
  state.blackout = blackout.GoingToBlack();
  state.bank = bank.Size() > 0 ? &bank : nullptr;
  state.messages = &messages;
  state.now = now;
  state.showHelp = showHelp;
  state.askingToQuit = quitGuard.Asking(now);
  state.output = window.HasOutput();
  const TempoReading tempo = rig->Tempo(SteadySeconds());
  state.beatsPerMinute = tempo.beatsPerMinute;
  state.beatInBar = tempo.BeatInBar();
  state.tempoSource = rig->Source();
  state.linkPeers = rig->LinkPeers();
  state.midiMap = rig->MidiOn() ? &rig->Map() : nullptr;
  panel->Draw(state, input);
  window.SwapBuffers();
  window.ShowOnOutput(target.ColorTexture(), target.Width(), target.Height());
}

// Until the next frame falls due; a short nap while paused.
void Player::WaitForNextFrame() {
  if (live.Paused()) {
    std::this_thread::sleep_for(std::chrono::duration<double>(1.0 / options.framesPerSecond));
    pacer.Restart(Now(), live.ShownFrames());
    return;
  }
  const double wait = pacer.NextDue(live.ShownFrames()) - Now();
  if (wait > 0.0) std::this_thread::sleep_for(std::chrono::duration<double>(wait));
}

void Player::Apply(const PlayerRequest& request, bool& quit) {
  switch (request.action) {
    case PlayerAction::TogglePause:
      live.SetPaused(!live.Paused());
      break;
    case PlayerAction::ToggleFullscreen:
      window.ToggleFullscreen();
      panel->SetVisible(!window.Fullscreen() || window.HasOutput());
      break;
    case PlayerAction::LeaveFullscreen:
      if (window.Fullscreen()) {
        window.ToggleFullscreen();
        panel->SetVisible(true);
      }
      break;
    case PlayerAction::ToggleOutput: {
      std::string error;
      if (window.HasOutput()) {
        window.CloseOutput();
        Say("output window closed");
      } else if (window.OpenOutput(options.outputMonitor, error)) {
        Say("output window open: the picture alone, full screen");
      } else {
        Problem(error);
      }
      break;
    }
    case PlayerAction::SaveStill:
      stillPaths.push_back(StampedName(options.outFolder, ".png"));
      break;
    case PlayerAction::ToggleRecording:
      if (recording)
        StopRecording();
      else
        recordingWanted = true;
      break;
    case PlayerAction::SavePreset:
      SavePresetFile();
      break;
    case PlayerAction::ToggleTake:
      ToggleTake();
      break;
    case PlayerAction::TogglePanel:
      panel->SetVisible(!panel->Visible());
      break;
    case PlayerAction::ToggleHelp:
      showHelp = !showHelp;
      break;
    case PlayerAction::ToggleBlackout:
      SetBlackout(!blackout.GoingToBlack());
      break;
    case PlayerAction::RecallPreset:
      Recall(static_cast<size_t>(request.number));
      break;
    case PlayerAction::PreviousPreset:
    case PlayerAction::NextPreset:
      if (bank.Size() > 0) Recall(request.action == PlayerAction::NextPreset ? bank.Next() : bank.Previous());
      break;
    case PlayerAction::Tap:
      Tap();
      break;
    case PlayerAction::AskToQuit:
      if (quitGuard.Press(Now())) quit = true;
      else Say("press Q again to quit (Ctrl+Q quits at once)");
      break;
    case PlayerAction::Quit:
      quit = true;
      break;
  }
}

void Player::Apply(const OscCommand& command) {
  switch (command.kind) {
    case OscCommand::SetParameter:
      live.Set(command.index, command.value);
      break;
    case OscCommand::LoadPreset:
      // Read by the listener, off the frame thread.
      live.Apply(command.values);
      Say("loaded preset " + Printable(command.text));
      break;
    case OscCommand::RecallPreset:
      Recall(command.index);
      break;
    case OscCommand::Blackout:
      SetBlackout(command.value != 0.0f);
      break;
    case OscCommand::Tap:
      Tap();
      break;
    case OscCommand::Pause:
      live.SetPaused(true);
      break;
    case OscCommand::Play:
      live.SetPaused(false);
      break;
    case OscCommand::Still: {
      // A name from outside: a new file in --out, one a frame.
      if (oscStillThisFrame) {
        ++refusedStills;
        break;
      }
      std::string path, error;
      if (!OutsideName(options.outFolder.empty() ? "." : options.outFolder, command.text, ".png", path, error)) {
        Problem("OSC still: " + error);
        break;
      }
      oscStillThisFrame = true;
      stillPaths.push_back(path);
      break;
    }
    case OscCommand::Learn: {
      MidiTarget target;
      std::string error;
      if (!ParseMidiTarget(command.text, controls.Names(), target, error)) {
        Problem("OSC learn: " + error);
        break;
      }
      if (!rig->MidiOn()) {
        Problem("OSC learn: MIDI is off (--midi)");
        break;
      }
      rig->Map().Learn(target);
      Say("learning: move a control or press a pad for " + rig->Map().TargetName(target));
      break;
    }
    case OscCommand::Query:
      // After the messages before it: a set then a query answers the set.
      osc->Answer(command, live.Values()[command.index]);
      break;
  }
}

void Player::Tap() {
  rig->Tap(SteadySeconds(), rigLines);
  Say(rigLines);
}

void Player::Say(const std::vector<RigLine>& lines) {
  for (const RigLine& line : lines) {
    if (line.problem) Problem(line.text);
    else Say(line.text);
  }
  rigLines.clear();
}

// An action a MIDI control fired: pads press and release; a momentary
// blackout holds while pressed.
void Player::Apply(const MidiResult::Triggered& triggered, bool& quit) {
  switch (triggered.action) {
    case MidiAction::Blackout:
      SetBlackout(triggered.on);
      return;
    case MidiAction::Pause:
      if (triggered.on) live.SetPaused(!live.Paused());
      return;
    default:
      break;
  }
  if (!triggered.on) return;
  switch (triggered.action) {
    case MidiAction::Still: Apply(PlayerRequest(PlayerAction::SaveStill), quit); break;
    case MidiAction::Tap: Tap(); break;
    case MidiAction::Recall: Recall(static_cast<size_t>(triggered.preset)); break;
    case MidiAction::NextPreset: Apply(PlayerRequest(PlayerAction::NextPreset), quit); break;
    case MidiAction::PreviousPreset: Apply(PlayerRequest(PlayerAction::PreviousPreset), quit); break;
    default: break;
  }
}

// What the panel asked of MIDI learning and the tempo's source.
void Player::Apply(const PanelInput::Midi& asked) {
  MidiMap& map = rig->Map();
  if (asked.learn) {
    if (map.Learning() && map.LearningTarget() == *asked.learn) {
      map.CancelLearning();
      Say("learning cancelled");
    } else {
      map.Learn(*asked.learn);
      Say("learning: move a control or press a pad for " + map.TargetName(*asked.learn));
    }
  }
  if (asked.clear >= 0 && static_cast<size_t>(asked.clear) < map.Mappings().size()) {
    Say("cleared " + map.TargetName(map.Mappings()[asked.clear].target) + ": " + map.Describe(map.Mappings()[asked.clear]));
    map.Clear(static_cast<size_t>(asked.clear));
    rig->MapEdited(rigLines);
  }
  if (asked.modeOf >= 0) {
    map.SetMode(static_cast<size_t>(asked.modeOf), asked.mode);
    rig->MapEdited(rigLines);
  }
  if (asked.source && *asked.source != rig->Source()) {
    rig->SetSource(*asked.source, rigLines);
    Say(std::string("the tempo follows ") + TempoSourceName(*asked.source));
  }
  Say(rigLines);
}

void Player::SetBlackout(bool black) {
  if (black == blackout.GoingToBlack()) return;
  blackout.Toggle();
  Say(black ? "blackout" : "back from blackout");
}

// A preset of the bank: at once, or eased in over --crossfade.
void Player::Recall(size_t preset) {
  if (preset >= bank.Size()) {
    Problem(bank.Size() == 0 ? "no bank of presets (--bank FOLDER)"
                             : "no preset " + std::to_string(preset + 1) + " in the bank of " +
                                   std::to_string(bank.Size()));
    return;
  }
  bank.Recalled(preset);
  const long frames = std::lround(options.crossfadeSeconds * options.framesPerSecond);
  if (frames > 0) crossfade.Start(live.Values(), bank.Values(preset), switchesAtMidpoint, frames);
  else live.Apply(bank.Values(preset));
  Say("preset " + std::to_string(preset + 1) + ": " + bank.Name(preset));
}

void Player::SaveStill(const std::string& path) {
  std::string error;
  PngStillSink sink;
  const std::vector<uint8_t> pixels = target.ReadRgba8();
  if (!sink.Start(path, target.Width(), target.Height(), PngOptions(), error, OutputFile::Existing::Keep) ||
      !sink.Write(pixels.data(), 0, error) || !sink.Finish(error)) {
    Problem("still: " + error);
    return;
  }
  Say("saved still " + path + " (frame " + std::to_string(live.ProcessedFrames()) + " of the flight, " +
      std::to_string(target.Width()) + "x" + std::to_string(target.Height()) + ")");
}

void Player::StartRecording() {
  std::string error;
  recordingPath = StampedName(options.outFolder, ".mp4");
  videoSink = std::make_unique<VideoSink>();
  if (!videoSink->Start(recordingPath, target.Width(), target.Height(), options.framesPerSecond, VideoSettings(),
                        error)) {
    videoSink.reset();
    Problem("video: " + error);
    return;
  }
  readback = std::make_unique<ReadbackPipeline>(*videoSink, target.Width(), target.Height(), 3);
  recording = true;
  recordedFrames = 0;
  recordingStarted = Now();
  Say("recording video " + recordingPath);
}

void Player::StopRecording(const std::string& why) {
  if (!recording) return;
  std::string error;
  const bool written = readback->Finish();
  if (!written) error = readback->Error();
  readback.reset();
  char length[96];
  std::snprintf(length, sizeof length, "%ld frames, %.2f s of wall time", recordedFrames, Now() - recordingStarted);
  if (written && !videoSink->Finish(error)) Problem("video: " + error);
  else if (!written) Problem("video: " + error);
  else Say("saved video " + recordingPath + " (" + length + (why.empty() ? "" : "; " + why) + ")");
  videoSink.reset();
  recording = false;
}

void Player::SavePresetFile() {
  std::string error;
  const std::string path = StampedName(options.outFolder, ".json");
  if (SavePreset(path, controls.Names(), live.AllValues(), error))
    Say("saved preset " + path);
  else
    Problem("preset: " + error);
}

void Player::ToggleTake() {
  if (!live.TakeRecording()) {
    live.StartTake();
    Say("recording take from frame " + std::to_string(live.TakeFirst()));
    return;
  }
  std::string error;
  const std::string path = StampedName(options.outFolder, ".take");
  const long first = live.TakeFirst();
  if (!live.WriteTake(path, error)) {
    Problem("take: " + error);
    return;
  }
  Say("saved take " + path + " (frames " + std::to_string(first) + " to " + std::to_string(live.ShownFrames()) +
      "); render it with: tessarvander render --take " + path + " -o take.mp4");
}

bool Player::Finish(std::string& error) {
  StopRecording();
  bool written = true;
  if (live.TakeRecording()) ToggleTake();
  if (live.RecordingSession()) {
    written = live.CloseSession(error);
    if (written)
      Say("saved take " + live.SessionTakePath() + " (frames 0 to " + std::to_string(live.ShownFrames()) +
          "); render it with: tessarvander render --take " + live.SessionTakePath() + " -o take.mp4");
  }
  // The pace as the plugin saw it: the last call's time from the first.
  char summary[192];
  std::snprintf(summary, sizeof summary,
                "played %ld frames in %.3f s: %ld drawn, %ld advanced at one pixel; the longest draw took %.3f s",
                live.ShownFrames(), lastCallAt - playStarted, drawnFrames, skippedFrames, longestDraw);
  Say(summary);
  instance.reset();
  return written;
}

}  // namespace cli
