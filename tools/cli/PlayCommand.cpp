// tessarvander play: the flight live in a window, steered from a control
// panel, the keyboard or OSC; stills, videos, presets and takes saved on the
// way. A host like render: the same loading and checks, one process call per
// frame shown (none while paused), the same calls before each.
#include <GL/glew.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <optional>
#include <thread>

#include "Commands.h"
#include "CommandSupport.h"
#include "ControlPanel.h"
#include "FrameSinks.h"
#include "OscListener.h"
#include "PlayerWindow.h"
#include "Presets.h"
#include "ReadbackPipeline.h"
#include "Takes.h"

namespace cli {
namespace {

using Clock = std::chrono::steady_clock;

const char* kPlayDescription =
    "Plays the flight live in a window, steered from a panel, keys or OSC.\n\n"
    "Plays the flight in a window. The panel (Tab) has a slider for every\n"
    "parameter; OSC (--osc) sets them from a tablet or a sequencer. Stills,\n"
    "videos, presets and takes are saved in the current folder, or --out.\n"
    "A take re-renders exactly with 'tessarvander render --take FILE', at any size.\n";

// "tessarvander-20261207-231500" and a count, for the files a session saves.
std::string StampedName(const std::string& folder, const std::string& extension) {
  static int count = 0;
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", std::localtime(&now));
  return (folder.empty() ? "" : folder + "/") + "tessarvander-" + stamp + "-" + std::to_string(++count) + extension;
}

class PlayCommand : public Command {
 public:
  CLI::App* Declare(CLI::App& program) override {
    CLI::App* command = program.add_subcommand("play", kPlayDescription);
    command->footer(std::string(KeyHelp()) +
                    "\n\nOSC addresses (--osc PORT):\n"
                    "  /tessarvander/param/NAME f   set a parameter by name or index; without a value,\n"
                    "                               answers its value to the sender\n"
                    "  /tessarvander/preset/load s  load a preset file\n"
                    "  /tessarvander/pause, /tessarvander/play\n"
                    "  /tessarvander/still s        save the current frame as a PNG file\n\n"
                    "example:\n"
                    "  tessarvander play --osc 9000 &\n"
                    "  oscsend localhost 9000 /tessarvander/param/fractal_type f 0.6\n");
    AddSizeOption(*command, "--size", size, "window size (default 1280x720; resizable)");
    command->add_option("--fullscreen", monitor, "start full screen, on this monitor (index or name)")
        ->expected(0, 1)
        ->type_name("[MONITOR]");
    command->add_flag("--list-monitors", listMonitors, "list the monitors and quit");
    command->add_flag("--no-vsync", noVsync, "do not wait for the display's refresh");
    fpsOption = command->add_option("--fps", framesPerSecond,
                                    "at most this many frames a second; also the frame rate of recordings and "
                                    "takes (default 60: the plugin's clock is made for 60)")
                    ->check(Within(1, 1000))
                    ->type_name("N");
    command->add_option("--scale", scale,
                        "draw at this fraction of the window's size and scale it up, for a fluid preview on a "
                        "slow machine; stills, videos and takes are unaffected")
        ->check(Within(0.05, 1))
        ->capture_default_str();
    command->add_option("--osc", oscPort, "listen for OSC messages on this UDP port")
        ->check(Within(1, 65535))
        ->type_name("PORT");
    command->add_option("--osc-host", oscHost, "the address to listen on (default 127.0.0.1: this machine only)")
        ->capture_default_str();
    command->add_option("--take", takePath, "record a take of the whole session to FILE")->type_name("FILE");
    command->add_option("--out", outFolder, "the folder for stills, videos, presets and takes (default: here)")
        ->type_name("FOLDER");
    command->add_option("--frames", quitAfter, "quit after this many frames")->check(Within(1, 1e12))->type_name("N");
    flags.Declare(*command, false);
    return command;
  }

  int Run() override {
    std::string error;
    if (listMonitors) {
      std::vector<std::string> monitors;
      if (!ListMonitors(monitors, error)) return Fail(kExitFailure, error);
      for (const std::string& line : monitors) std::printf("%s\n", line.c_str());
      return kExitSuccess;
    }
    WindowOptions windowOptions;
    windowOptions.width = size.width;
    windowOptions.height = size.height;
    windowOptions.vsync = !noVsync;
    windowOptions.fullscreen = monitor.has_value();
    windowOptions.monitor = monitor.value_or("");
    window = PlayerWindow::Open(windowOptions, error);
    if (!window) return Fail(kExitFailure, error);

    SessionOptions sessionOptions = flags.Options();
    sessionOptions.makeContext = false;
    if (!OpenSession(sessionOptions, context, error)) return Fail(kExitFailure, error);
    if (!ReadControls(flags, false, context, error)) return Fail(kExitUsage, error);
    const auto& parameters = context.session->Parameters();
    values.assign(parameters.size(), 0.0f);
    texts.assign(parameters.size(), "");
    for (const auto& parameter : parameters) values[parameter.index] = parameter.defaultValue;
    for (const ParameterControls::Value& value : context.controls->ValuesAt(0.0)) values[value.index] = value.value;
    history.Begin(framesPerSecond, AllValues());
    if (!takePath.empty()) takeFirst = 0;

    if (oscPort > 0) {
      osc = std::make_unique<OscListener>(*context.controls);
      if (!osc->Start(oscHost, oscPort, error)) return Fail(kExitUsage, error);
      Say("listening for OSC on " + oscHost + " port " + std::to_string(oscPort));
    }
    panel = std::make_unique<ControlPanel>(*window);
    panel->SetVisible(!window->Fullscreen());
    Say(KeyHelp());
    const int status = Loop(error);
    if (status != kExitSuccess) return Fail(status, error);
    return Finish(error) ? kExitSuccess : Fail(kExitFailure, error);
  }

 private:
  // The values as the frame driver and the files take them, refilled in
  // place: the frame loop allocates nothing for them.
  const std::vector<ParameterControls::Value>& AllValues() {
    allValues.resize(values.size());
    for (uint32_t index = 0; index < values.size(); ++index) allValues[index] = {index, values[index]};
    return allValues;
  }

  void Say(const std::string& line) {
    if (!flags.quiet) std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }

  void SetValue(uint32_t index, float value) {
    if (index >= values.size() || values[index] == value) return;
    values[index] = value;
    history.Set(shownFrames, index, value);
  }

  void SetPaused(bool pause) {
    if (pause == paused) return;
    paused = pause;
    history.Pause(shownFrames, paused);
  }

  // The frame buffer the plugin draws into: the window's size, or the
  // preview's fraction of it unless a still or a video wants every pixel.
  bool PrepareTarget(int windowWidth, int windowHeight, std::string& error) {
    // While paused the picture cannot be drawn again, so it keeps its size.
    const bool full = scale >= 1.0 || (!paused && (stillPending || recordingWanted)) || recording;
    const int width = full ? windowWidth : std::max(1, static_cast<int>(std::lround(windowWidth * scale)));
    const int height = full ? windowHeight : std::max(1, static_cast<int>(std::lround(windowHeight * scale)));
    if (target.Width() == width && target.Height() == height) return true;
    if (recording) StopRecording("the window changed size");
    target.Release();
    if (!target.Create(width, height, hostkit::PixelFormat::Rgba8, error)) return false;
    if (instance) instance->Resize({0, 0, static_cast<uint32_t>(width), static_cast<uint32_t>(height)});
    drewOnce = false;
    return true;
  }

  bool TargetIsFull(int windowWidth, int windowHeight) const {
    return target.Width() == windowWidth && target.Height() == windowHeight;
  }

  void SaveStill(const std::string& path) {
    std::string error;
    PngStillSink sink;
    const std::vector<uint8_t> pixels = target.ReadRgba8();
    if (!sink.Start(path, target.Width(), target.Height(), PngOptions(), error) ||
        !sink.Write(pixels.data(), 0, error) || !sink.Finish(error)) {
      Fail(kExitFailure, "still: " + error);
      return;
    }
    Say("saved still " + path + " (frame " + std::to_string(processedFrames) + " of the flight, " +
        std::to_string(target.Width()) + "x" + std::to_string(target.Height()) + ")");
  }

  void StartRecording() {
    std::string error;
    recordingPath = StampedName(outFolder, ".mp4");
    videoSink = std::make_unique<VideoSink>();
    if (!videoSink->Start(recordingPath, target.Width(), target.Height(), framesPerSecond, VideoSettings(), error)) {
      videoSink.reset();
      Fail(kExitFailure, "video: " + error);
      return;
    }
    readback = std::make_unique<ReadbackPipeline>(*videoSink, target.Width(), target.Height(), 3);
    recording = true;
    recordedFrames = 0;
    Say("recording video " + recordingPath);
  }

  void StopRecording(const std::string& why = "") {
    if (!recording) return;
    std::string error;
    const bool written = readback->Finish();
    if (!written) error = readback->Error();
    readback.reset();
    if (written && !videoSink->Finish(error)) Fail(kExitFailure, "video: " + error);
    else if (!written) Fail(kExitFailure, "video: " + error);
    else Say("saved video " + recordingPath + (why.empty() ? "" : " (" + why + ")"));
    videoSink.reset();
    recording = false;
  }

  void LoadPresetFile(const std::string& path) {
    std::vector<ParameterControls::Value> loaded;
    std::string error;
    if (!LoadPreset(path, *context.controls, loaded, error)) {
      Fail(kExitFailure, error);
      return;
    }
    for (const ParameterControls::Value& value : loaded) SetValue(value.index, value.value);
    Say("loaded preset " + path);
  }

  void SavePresetFile() {
    std::string error;
    const std::string path = StampedName(outFolder, ".json");
    if (SavePreset(path, *context.controls, AllValues(), error))
      Say("saved preset " + path);
    else
      Fail(kExitFailure, "preset: " + error);
  }

  bool WriteTake(const std::string& path, long first, std::string& error) {
    if (!history.WriteTake(path, first, shownFrames, *context.controls, error)) return false;
    Say("saved take " + path + " (frames " + std::to_string(first) + " to " + std::to_string(shownFrames) +
        "); render it with: tessarvander render --take " + path + " -o take.mp4");
    return true;
  }

  void ToggleTake() {
    std::string error;
    if (takeFirst < 0) {
      takeFirst = shownFrames;
      Say("recording take from frame " + std::to_string(takeFirst));
      return;
    }
    const std::string path = takePath.empty() ? StampedName(outFolder, ".take") : takePath;
    if (!WriteTake(path, takeFirst, error)) Fail(kExitFailure, "take: " + error);
    takePath.clear();
    takeFirst = -1;
  }

  void Apply(PlayerAction action, bool& quit) {
    switch (action) {
      case PlayerAction::TogglePause:
        SetPaused(!paused);
        break;
      case PlayerAction::ToggleFullscreen:
        window->ToggleFullscreen();
        panel->SetVisible(!window->Fullscreen());
        break;
      case PlayerAction::SaveStill:
        stillPaths.push_back(StampedName(outFolder, ".png"));
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

  void Apply(const OscCommand& command) {
    switch (command.kind) {
      case OscCommand::SetParameter:
        SetValue(command.index, command.value);
        break;
      case OscCommand::LoadPreset:
        LoadPresetFile(command.path);
        break;
      case OscCommand::Pause:
        SetPaused(true);
        break;
      case OscCommand::Play:
        SetPaused(false);
        break;
      case OscCommand::Still:
        stillPaths.push_back(command.path);
        break;
    }
  }

  int Loop(std::string& error) {
    int windowWidth = 0, windowHeight = 0;
    window->FramebufferSize(windowWidth, windowHeight);
    if (!PrepareTarget(windowWidth, windowHeight, error)) return kExitFailure;
    instance = context.session->CreateInstance(target.Width(), target.Height(), error);
    if (!instance) return kExitFailure;
    driver = std::make_unique<FrameDriver>(*instance, framesPerSecond);
    const auto frameBudget = std::chrono::duration<double>(*fpsOption ? 1.0 / framesPerSecond : 0.0);
    auto lastFrame = Clock::now();
    double drawMilliseconds = 0.0, shownPerSecond = 0.0;
    std::vector<OscCommand> commands;
    PanelInput input;
    bool quit = false;

    while (!quit && !window->ShouldClose() && !Interrupted()) {
      // What came in since the last frame, in order: keys, panel, OSC.
      window->PollEvents();
      for (PlayerAction action : window->TakeActions())
        if (!panel->WantsKeyboard()) Apply(action, quit);
      for (const ParameterControls::Value& edit : input.edits) SetValue(edit.index, edit.value);
      for (PlayerAction action : input.actions) Apply(action, quit);
      input = PanelInput();
      if (osc) {
        osc->Drain(commands);
        for (const OscCommand& command : commands) Apply(command);
      }
      if (quit) break;

      window->FramebufferSize(windowWidth, windowHeight);
      if (windowWidth <= 0 || windowHeight <= 0) {  // minimised
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        continue;
      }
      stillPending = !stillPaths.empty();
      if (!PrepareTarget(windowWidth, windowHeight, error)) return kExitFailure;
      if (recordingWanted && TargetIsFull(windowWidth, windowHeight)) {
        StartRecording();
        recordingWanted = false;
      }

      const auto drawStart = Clock::now();
      target.Bind();
      if (!paused) {
        if (!driver->Process(shownFrames, AllValues())) {
          error = "the plugin failed frame " + std::to_string(shownFrames);
          return kExitFailure;
        }
        ++processedFrames;
        drewOnce = true;
      } else if (!drewOnce) {
        // Nothing drawn yet at this size, and a paused flight draws nothing.
        glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        drewOnce = true;
      }
      glFinish();
      drawMilliseconds = std::chrono::duration<double, std::milli>(Clock::now() - drawStart).count();
      // The plugin's texts are only shown by the panel.
      if (panel->Visible())
        for (uint32_t index = 0; index < values.size(); ++index) texts[index] = instance->DisplayText(index);
      if (osc) osc->Publish(values);

      // Stills and the video take the plugin's picture alone, before the
      // panel is drawn over it in the window.
      if (TargetIsFull(windowWidth, windowHeight)) {
        for (const std::string& path : stillPaths) SaveStill(path);
        stillPaths.clear();
      } else if (stillPending && paused && !stillWaitSaid) {
        Say("the still waits for play: the scaled preview cannot be drawn again at full size while paused");
        stillWaitSaid = true;
      }
      if (!stillPending) stillWaitSaid = false;
      if (recording) {
        glBindFramebuffer(GL_READ_FRAMEBUFFER, target.FrameBuffer());
        if (!readback->Submit(recordedFrames++)) StopRecording("the encoder stopped: " + readback->Error());
      }

      glBindFramebuffer(GL_READ_FRAMEBUFFER, target.FrameBuffer());
      glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
      glViewport(0, 0, windowWidth, windowHeight);
      glBlitFramebuffer(0, 0, target.Width(), target.Height(), 0, 0, windowWidth, windowHeight, GL_COLOR_BUFFER_BIT,
                        GL_LINEAR);
      glBindFramebuffer(GL_FRAMEBUFFER, 0);
      PanelState state;
      state.parameters = &context.session->Parameters();
      state.values = &values;
      state.texts = &texts;
      state.drawMilliseconds = drawMilliseconds;
      state.framesPerSecond = shownPerSecond;
      state.frame = processedFrames;
      state.paused = paused;
      state.recording = recording;
      state.takeRecording = takeFirst >= 0;
      panel->Draw(state, input);
      window->SwapBuffers();

      ++shownFrames;
      if (quitAfter > 0 && shownFrames >= quitAfter) break;
      if (frameBudget.count() > 0) std::this_thread::sleep_until(lastFrame + frameBudget);
      const auto now = Clock::now();
      const double seconds = std::chrono::duration<double>(now - lastFrame).count();
      shownPerSecond = seconds > 0 ? 0.9 * shownPerSecond + 0.1 / seconds : shownPerSecond;
      lastFrame = now;
    }
    return kExitSuccess;
  }

  bool Finish(std::string& error) {
    StopRecording();
    bool written = true;
    if (takeFirst >= 0) {
      const std::string path = takePath.empty() ? StampedName(outFolder, ".take") : takePath;
      written = WriteTake(path, takeFirst, error);
    }
    instance.reset();
    return written;
  }

  SessionFlags flags;
  FrameSize size{1280, 720};
  std::optional<std::string> monitor;
  bool listMonitors = false;
  bool noVsync = false;
  double framesPerSecond = 60.0;
  CLI::Option* fpsOption = nullptr;
  double scale = 1.0;
  int oscPort = 0;
  std::string oscHost = "127.0.0.1";
  std::string takePath;
  std::string outFolder;
  double quitAfter = 0;

  std::unique_ptr<PlayerWindow> window;
  CommandContext context;
  std::unique_ptr<OscListener> osc;
  std::unique_ptr<ControlPanel> panel;
  hostkit::FrameTarget target;
  std::unique_ptr<hostkit::PluginInstance> instance;
  std::unique_ptr<FrameDriver> driver;
  std::vector<float> values;  // by parameter index
  std::vector<ParameterControls::Value> allValues;
  std::vector<std::string> texts;
  SessionHistory history;
  long shownFrames = 0;
  long processedFrames = 0;
  bool paused = false;
  long takeFirst = -1;
  std::vector<std::string> stillPaths;
  bool stillPending = false;
  bool stillWaitSaid = false;
  bool drewOnce = false;
  bool recordingWanted = false;
  bool recording = false;
  std::string recordingPath;
  std::unique_ptr<VideoSink> videoSink;
  std::unique_ptr<ReadbackPipeline> readback;
  long recordedFrames = 0;
};

}  // namespace

std::unique_ptr<Command> MakePlayCommand() { return std::make_unique<PlayCommand>(); }

}  // namespace cli
