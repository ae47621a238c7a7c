#include "player/Player.h"

#include <GL/glew.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <thread>

#include "documents/Presets.h"
#include "output/StillSink.h"
#include "sys/Interrupts.h"
#include "sys/Messages.h"

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
      live(controls, options.framesPerSecond) {
  texts.assign(live.Values().size(), "");
}

Player::~Player() = default;

void Player::Say(const std::string& line) const {
  if (!options.quiet) std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

bool Player::Run(std::string& error) {
  if (!options.takePath.empty() && !live.RecordSession(options.takePath, error)) return false;
  if (options.oscPort > 0) {
    osc = std::make_unique<OscListener>(controls);
    if (!osc->Start(options.oscHost, options.oscPort, error)) return false;
    Say("listening for OSC on " + options.oscHost + " port " + std::to_string(options.oscPort));
  }
  panel = std::make_unique<ControlPanel>(window);
  panel->SetVisible(!window.Fullscreen());
  Say(KeyHelp());

  int windowWidth = 0, windowHeight = 0;
  window.FramebufferSize(windowWidth, windowHeight);
  if (!SizeTarget(windowWidth, windowHeight, error)) return false;
  instance = session.CreateInstance(target.Width(), target.Height(), error);
  if (!instance) return false;
  driver = std::make_unique<FrameDriver>(*instance, options.framesPerSecond);
  lastFrame = Clock::now();

  bool quit = false;
  while (!quit && !window.ShouldClose() && !Interrupted()) {
    TakeInput(quit);
    if (quit) break;
    window.FramebufferSize(windowWidth, windowHeight);
    if (windowWidth <= 0 || windowHeight <= 0) {  // minimised
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      continue;
    }
    if (!SizeTarget(windowWidth, windowHeight, error) || !Draw(error)) return false;
    SaveRequested(windowWidth, windowHeight);
    Present(windowWidth, windowHeight);
    if (options.quitAfter > 0 && live.ShownFrames() >= options.quitAfter) break;
    Pace();
  }
  return Finish(error);
}

// What came in since the last frame, in order: keys, panel, OSC.
void Player::TakeInput(bool& quit) {
  window.PollEvents();
  for (PlayerAction action : window.TakeActions())
    if (!panel->WantsKeyboard()) Apply(action, quit);
  live.Apply(input.edits);
  for (PlayerAction action : input.actions) Apply(action, quit);
  input = PanelInput();
  if (osc) {
    osc->Drain(commands);
    oscStillThisFrame = false;
    refusedStills = 0;
    for (const OscCommand& command : commands) Apply(command);
    if (refusedStills > 0)
      Warn("OSC: refused " + std::to_string(refusedStills) + " still request" + (refusedStills > 1 ? "s" : "") +
           ": one still a frame");
  }
  stillPending = !stillPaths.empty();
}

// The frame buffer the plugin draws into: the window's size, or the
// preview's fraction of it unless a still or a video wants every pixel.
bool Player::SizeTarget(int windowWidth, int windowHeight, std::string& error) {
  // While paused the picture cannot be drawn again, so it keeps its size.
  const bool full =
      options.scale >= 1.0 || (!live.Paused() && (stillPending || recordingWanted)) || recording;
  const int width = full ? windowWidth : std::max(1, static_cast<int>(std::lround(windowWidth * options.scale)));
  const int height = full ? windowHeight : std::max(1, static_cast<int>(std::lround(windowHeight * options.scale)));
  if (target.Width() != width || target.Height() != height) {
    if (recording) StopRecording("the window changed size");
    target.Release();
    if (!target.Create(width, height, hostkit::PixelFormat::Rgba8, error)) return false;
    if (instance) instance->Resize({0, 0, static_cast<uint32_t>(width), static_cast<uint32_t>(height)});
    drewOnce = false;
  }
  if (recordingWanted && TargetIsFull(windowWidth, windowHeight)) {
    StartRecording();
    recordingWanted = false;
  }
  return true;
}

bool Player::TargetIsFull(int windowWidth, int windowHeight) const {
  return target.Width() == windowWidth && target.Height() == windowHeight;
}

// One process call, unless paused; the draw time is measured to the end of
// the GL work.
bool Player::Draw(std::string& error) {
  const auto drawStart = Clock::now();
  target.Bind();
  if (!live.Paused()) {
    if (!driver->Process(live.ShownFrames(), live.AllValues())) {
      error = "the plugin failed frame " + std::to_string(live.ShownFrames());
      return false;
    }
    drewOnce = true;
  } else if (!drewOnce) {
    // Nothing drawn yet at this size, and a paused flight draws nothing.
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    drewOnce = true;
  }
  live.FrameShown(!live.Paused());
  glFinish();
  drawMilliseconds = std::chrono::duration<double, std::milli>(Clock::now() - drawStart).count();
  // The plugin's texts are only shown by the panel.
  if (panel->Visible())
    for (uint32_t index = 0; index < texts.size(); ++index) texts[index] = instance->DisplayText(index);
  if (osc) osc->Publish(live.Values());
  return true;
}

// Stills and the video take the plugin's picture alone, before the panel is
// drawn over it in the window.
void Player::SaveRequested(int windowWidth, int windowHeight) {
  if (TargetIsFull(windowWidth, windowHeight)) {
    for (const std::string& path : stillPaths) SaveStill(path);
    stillPaths.clear();
  } else if (stillPending && live.Paused() && !stillWaitSaid) {
    Say("the still waits for play: the scaled preview cannot be drawn again at full size while paused");
    stillWaitSaid = true;
  }
  if (!stillPending) stillWaitSaid = false;
  if (recording) {
    glBindFramebuffer(GL_READ_FRAMEBUFFER, target.FrameBuffer());
    if (!readback->Submit(recordedFrames++)) StopRecording("the encoder stopped: " + readback->Error());
  }
}

void Player::Present(int windowWidth, int windowHeight) {
  glBindFramebuffer(GL_READ_FRAMEBUFFER, target.FrameBuffer());
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
  glViewport(0, 0, windowWidth, windowHeight);
  glBlitFramebuffer(0, 0, target.Width(), target.Height(), 0, 0, windowWidth, windowHeight, GL_COLOR_BUFFER_BIT,
                    GL_LINEAR);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  PanelState state;
  state.parameters = &session.Parameters();
  state.values = &live.Values();
  state.texts = &texts;
  state.profile = &profile;
  state.drawMilliseconds = drawMilliseconds;
  state.framesPerSecond = shownPerSecond;
  state.frame = live.ProcessedFrames();
  state.paused = live.Paused();
  state.recording = recording;
  state.takeRecording = live.TakeRecording();
  panel->Draw(state, input);
  window.SwapBuffers();
}

// At most --fps frames a second, when asked; the shown rate for the panel.
void Player::Pace() {
  if (options.capFrameRate)
    std::this_thread::sleep_until(lastFrame + std::chrono::duration<double>(1.0 / options.framesPerSecond));
  const auto now = Clock::now();
  const double seconds = std::chrono::duration<double>(now - lastFrame).count();
  shownPerSecond = seconds > 0 ? 0.9 * shownPerSecond + 0.1 / seconds : shownPerSecond;
  lastFrame = now;
}

void Player::Apply(PlayerAction action, bool& quit) {
  switch (action) {
    case PlayerAction::TogglePause:
      live.SetPaused(!live.Paused());
      break;
    case PlayerAction::ToggleFullscreen:
      window.ToggleFullscreen();
      panel->SetVisible(!window.Fullscreen());
      break;
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
        Warn("OSC still: " + error);
        break;
      }
      oscStillThisFrame = true;
      stillPaths.push_back(path);
      break;
    }
    case OscCommand::Query:
      break;
  }
}

void Player::SaveStill(const std::string& path) {
  std::string error;
  PngStillSink sink;
  const std::vector<uint8_t> pixels = target.ReadRgba8();
  if (!sink.Start(path, target.Width(), target.Height(), PngOptions(), error, OutputFile::Existing::Keep) ||
      !sink.Write(pixels.data(), 0, error) || !sink.Finish(error)) {
    Warn("still: " + error);
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
    Warn("video: " + error);
    return;
  }
  readback = std::make_unique<ReadbackPipeline>(*videoSink, target.Width(), target.Height(), 3);
  recording = true;
  recordedFrames = 0;
  Say("recording video " + recordingPath);
}

void Player::StopRecording(const std::string& why) {
  if (!recording) return;
  std::string error;
  const bool written = readback->Finish();
  if (!written) error = readback->Error();
  readback.reset();
  if (written && !videoSink->Finish(error)) Warn("video: " + error);
  else if (!written) Warn("video: " + error);
  else Say("saved video " + recordingPath + (why.empty() ? "" : " (" + why + ")"));
  videoSink.reset();
  recording = false;
}

void Player::SavePresetFile() {
  std::string error;
  const std::string path = StampedName(options.outFolder, ".json");
  if (SavePreset(path, controls, live.AllValues(), error))
    Say("saved preset " + path);
  else
    Warn("preset: " + error);
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
    Warn("take: " + error);
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
  instance.reset();
  return written;
}

}  // namespace cli
