// The live player of `tessarvander play`: the flight in a window, steered
// from the control panel, the keys and OSC, with stills, videos, presets and
// takes saved on the way. A host like render: one process call per frame
// shown (none while paused), the same calls before each.
//
// One frame is a row of named steps: take the input, size the target, draw,
// save what was asked for, present.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "FrameTarget.h"
#include "output/VideoSink.h"
#include "player/ControlPanel.h"
#include "player/LiveState.h"
#include "player/OscListener.h"
#include "player/PlayerWindow.h"
#include "render/ReadbackPipeline.h"
#include "session/FrameDriver.h"
#include "session/HostSession.h"
#include "session/ParameterProfile.h"

namespace cli {

struct PlayerOptions {
  double framesPerSecond = 60.0;
  bool capFrameRate = false;  // sleep to keep to framesPerSecond
  double scale = 1.0;         // of the window's size, for the preview
  int oscPort = 0;            // 0: no OSC
  std::string oscHost = "127.0.0.1";
  std::string takePath;       // a take of the whole session, when set
  std::string outFolder;      // for stills, videos, presets and takes
  double quitAfter = 0;       // frames; 0: run until closed
  bool quiet = false;
};

class Player {
 public:
  // The window's context is current; the session draws into it.
  Player(PlayerWindow& window, const HostSession& session, const ParameterControls& controls,
         const PlayerOptions& options);
  ~Player();

  // Plays until the window closes, Q, --frames or Ctrl-C; then finishes a
  // recording or take in progress. False with one line when the plugin or
  // the frame buffer fails.
  bool Run(std::string& error);

 private:
  // The steps of one frame.
  void TakeInput(bool& quit);
  bool SizeTarget(int windowWidth, int windowHeight, std::string& error);
  bool Draw(std::string& error);
  void SaveRequested(int windowWidth, int windowHeight);
  void Present(int windowWidth, int windowHeight);
  void Pace();

  void Apply(PlayerAction action, bool& quit);
  void Apply(const OscCommand& command);
  void Say(const std::string& line) const;
  bool TargetIsFull(int windowWidth, int windowHeight) const;
  void SaveStill(const std::string& path);
  void StartRecording();
  void StopRecording(const std::string& why = "");
  void SavePresetFile();
  void ToggleTake();
  bool Finish(std::string& error);

  using Clock = std::chrono::steady_clock;

  PlayerWindow& window;
  const HostSession& session;
  const ParameterControls& controls;
  const PlayerOptions options;
  const ParameterProfile profile;
  LiveState live;
  std::unique_ptr<OscListener> osc;
  std::unique_ptr<ControlPanel> panel;
  hostkit::FrameTarget target;
  std::unique_ptr<hostkit::PluginInstance> instance;
  std::unique_ptr<FrameDriver> driver;
  std::vector<std::string> texts;  // the plugin's display texts, by index
  PanelInput input;
  std::vector<OscCommand> commands;

  std::vector<std::string> stillPaths;
  bool oscStillThisFrame = false;
  long refusedStills = 0;
  bool stillPending = false;
  bool stillWaitSaid = false;
  bool drewOnce = false;
  bool recordingWanted = false;
  bool recording = false;
  std::string recordingPath;
  std::unique_ptr<VideoSink> videoSink;
  std::unique_ptr<ReadbackPipeline> readback;
  long recordedFrames = 0;

  Clock::time_point lastFrame;
  double drawMilliseconds = 0.0;
  double shownPerSecond = 0.0;
};

}  // namespace cli
