// The live player of `tessarvander play`: the flight in a window, steered
// from the control panel, the keys and OSC, with stills, videos, presets and
// takes saved on the way, a bank of presets to recall, a blackout, and the
// picture alone on a second monitor.
//
// The flight keeps wall time: exactly --fps process calls a second (60 by
// default), whatever the display does. One pass of the loop is a row of
// named steps: take the input, size the target, advance the frames that
// fell due while drawing (at one pixel), draw the newest, save what was
// asked for, present, wait for the next frame.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "FrameTarget.h"
#include "output/VideoSink.h"
#include "player/ControlPanel.h"
#include "player/Dimmer.h"
#include "player/FramePacer.h"
#include "player/LiveState.h"
#include "player/OscListener.h"
#include "player/OscQueryServer.h"
#include "player/PipeWireOutput.h"
#include "player/PlayerWindow.h"
#include "player/PresetBank.h"
#include "player/StageControls.h"
#include "player/StageRig.h"
#include "render/ReadbackPipeline.h"
#include "session/FrameDriver.h"
#include "session/HostSession.h"
#include "formats/ParameterProfile.h"

namespace cli {

struct PlayerOptions {
  double framesPerSecond = 60.0;  // process calls a second of wall time
  double scale = 1.0;             // of the window's size, for the preview
  int oscPort = 0;                // 0: no OSC
  std::string oscHost = "127.0.0.1";
  std::string oscReply;           // HOST:PORT that hears every change, or empty
  int oscQueryPort = 0;           // the OSCQuery server's port; 0: none
  std::string takePath;           // a take of the whole session, when set
  std::string outFolder;          // for stills, videos, presets and takes
  PresetBank bank;                // presets for keys 1-9, 0, [ and ], read before play
  std::string outputMonitor;      // the output window's monitor, for O
  double crossfadeSeconds = 0.0;  // recalls ease in over this
  double blackoutSeconds = 1.0;   // B fades over this
  std::string pipewireName;       // publish the output to PipeWire as this node
  RigOptions rig;                 // MIDI, the tempo's source, live sound
  double quitAfter = 0;           // frames; 0: run until closed
  bool quiet = false;
};

class Player {
 public:
  // The window's context is current; the session draws into it.
  Player(PlayerWindow& window, const HostSession& session, const ParameterControls& controls,
         const PlayerOptions& options);
  ~Player();

  // Plays until the window closes, Q twice or Ctrl+Q, --frames or Ctrl-C in
  // the terminal; then finishes a recording or take in progress. False with
  // one line when the plugin or the frame buffer fails.
  bool Run(std::string& error);

 private:
  // The steps of one pass.
  void TakeInput(bool& quit);
  void FullSize(int& width, int& height) const;
  bool SizeTarget(std::string& error);
  bool AdvanceAtOnePixel(long frames, std::string& error);
  bool Draw(std::string& error);
  void SaveRequested();
  void Present(int windowWidth, int windowHeight);
  void SendToPipeWire();
  void TellControllers();
  void WaitForNextFrame();

  // What changes with every frame of the flight, drawn or not: a crossfade
  // in progress and the blackout's fade.
  void StepStage();
  void Apply(const PlayerRequest& request, bool& quit);
  void Apply(const OscCommand& command);
  void Apply(const MidiResult::Triggered& triggered, bool& quit);
  void Apply(const PanelInput::Midi& midi);
  void Say(const std::vector<RigLine>& lines);
  void Recall(size_t preset);
  void SetBlackout(bool black);
  void Tap();
  void Say(const std::string& line);
  void Problem(const std::string& line);
  double Now() const;
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
  std::unique_ptr<OscQueryServer> oscQuery;
  std::unique_ptr<ControlPanel> panel;
  hostkit::FrameTarget target, scratch;
  std::unique_ptr<hostkit::PluginInstance> instance;
  std::unique_ptr<FrameDriver> driver;
  std::vector<std::string> texts;  // the plugin's display texts, by index
  PanelInput input;
  std::vector<OscCommand> commands;

  // On stage.
  FramePacer pacer;
  QuitGuard quitGuard;
  Blackout blackout;
  std::unique_ptr<StageRig> rig;
  MidiResult midi;
  std::vector<RigLine> rigLines;
  std::vector<ParameterValue> reactionValues;
  Dimmer dimmer;
  Crossfade crossfade;
  std::vector<bool> switchesAtMidpoint;  // per parameter: banded
  std::vector<ParameterValue> fadeValues;
  PresetBank bank;  // recalls change which preset was last
  StageMessages messages;
  std::unique_ptr<PipeWireOutput> pipewire;
  std::vector<uint8_t> streamedPicture;  // the last picture read back for PipeWire
  std::vector<float> reported;            // the values --osc-reply last sent
  std::vector<std::string> oscNames;      // "fractal_type", by index
  bool showHelp = false;
  Clock::time_point started;
  double playStarted = 0.0;  // seconds from `started` to the first frame

  std::vector<std::string> stillPaths;
  bool oscStillThisFrame = false;
  long refusedStills = 0;
  bool stillPending = false;
  bool stillWaitSaid = false;
  bool drewOnce = false;
  bool drewThisPass = false;
  bool recordingWanted = false;
  bool recording = false;
  std::string recordingPath;
  std::unique_ptr<VideoSink> videoSink;
  std::unique_ptr<ReadbackPipeline> readback;
  long recordedFrames = 0;
  double recordingStarted = 0.0;

  double drawMilliseconds = 0.0;
  double longestDraw = 0.0;  // seconds
  double lastCallAt = 0.0;   // seconds, of the last process call
  double drawnPerSecond = 0.0;
  double lastDrawn = 0.0;
  long skippedFrames = 0;  // advanced at one pixel
  long drawnFrames = 0;
};

}  // namespace cli
