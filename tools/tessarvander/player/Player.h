// The live player of `tessarvander play`: the flight in a window, steered
// from the control panel, the keys, OSC and MIDI, with stills, videos,
// presets and takes saved on the way, a bank of looks to recall, a blackout,
// and the picture alone on a second monitor.
//
// The flight keeps the clock's time: exactly --fps process calls a second
// (60 by default), whatever the display does. One pass of the loop is a row
// of named steps: take the input, size the picture, advance the frames that
// fell due while drawing (at one pixel), draw the newest, save what was asked
// for, tell the controllers, present, wait for the next frame.
//
// The player takes its window and its clock: on stage a GLFW window and the
// wall clock, in the tests a headless window and a clock the test turns.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "formats/ParameterProfile.h"
#include "remote/Controllers.h"
#include "player/Backstage.h"
#include "player/Captures.h"
#include "player/Clock.h"
#include "player/Console.h"
#include "player/CuePreview.h"
#include "player/Direction.h"
#include "player/ControlPanel.h"
#include "player/FramePacer.h"
#include "player/PipeWireOutput.h"
#include "player/PlayerInput.h"
#include "player/PlayerOptions.h"
#include "player/ScaleGovernor.h"
#include "player/ShowHealth.h"
#include "player/Stage.h"
#include "player/StageRig.h"
#include "player/TravelRenewal.h"
#include "player/Window.h"
#include "render/Decks.h"
#include "render/Upscaler.h"
#include "session/HostSession.h"
#include "sys/Terminal.h"

namespace tool {

// How the show is going, for the panel, the closing line and monitors.
struct PlayStatistics {
  double drawSeconds = 0.0;     // the last draw, to the end of the GL work
  double longestDraw = 0.0;     // seconds
  double drawnPerSecond = 0.0;  // smoothed
  double lastDrawnAt = 0.0;
  double lastCallAt = 0.0;      // the clock's time of the last process call
  long drawn = 0;
  long advanced = 0;            // at one pixel, to keep time
};

class Player {
 public:
  // The window's context is current; the session draws into it.
  Player(Window& window, Clock& clock, const HostSession& session, const ParameterControls& controls,
         const PlayerOptions& options);
  ~Player();

  // Plays until the window closes, Q twice or Ctrl+Q, --frames or Ctrl-C in
  // the terminal; then finishes a recording or take in progress. False with
  // one line when the plugin or the frame buffer fails.
  bool Run(std::string& error);

  // The same in steps, for the tests: Start, then Pass until Done, then Finish.
  bool Start(std::string& error);
  bool Pass(std::string& error);
  bool Done() const;
  bool Finish(std::string& error);

  const Stage& Show() const { return stage; }
  Console& Messages() { return console; }
  const PlayStatistics& Statistics() const { return statistics; }
  const ShowHealth& Health() const { return health; }
  double DrawingScale() const { return Scale(); }
  // What the audience sees now: the decks' picture, blended and dimmed.
  const hostkit::FrameTarget& Picture() const { return decks.Picture(); }
  const Decks& DeckPair() const { return decks; }
  const CuePreview& CuedPreview() const { return preview; }
  // Waits until what the show handed to be written is written, and says
  // how it went (for the tests).
  bool SettleWrites(double seconds);
  // A slower or faster machine: seconds each megapixel drawn costs on top.
  void SetDrawDelay(double secondsPerMegapixel) { drawDelay = secondsPerMegapixel; }
  ControlPanel& Panel() { return *panel; }
  // Changes as the panel's sliders make them, for the tests.
  PanelInput& PanelChanges() { return fromPanel; }
  StageRig& Rig() { return *rig; }
  PlayerInput& Input() { return *input; }

 private:
  // The steps of one pass.
  void TakeInput();
  bool SizePicture(std::string& error);
  bool AdvanceAtOnePixel(long frames, std::string& error);
  bool DrawFrame(std::string& error);
  void SaveRequested();
  void TellControllers();
  void Present();
  void WaitForNextFrame();
  const hostkit::FrameTarget& FullSizePicture();
  bool PreviewTheCue(std::string& error);
  bool RenewWhenDue(const TempoReading& tempo, std::string& error);

  // The next frame of the flight, drawn or advanced at one pixel.
  bool NextFrame(bool drawn, std::string& error);
  void FullSize(int& width, int& height) const;
  double Scale() const { return options.autoScale ? governor.Scale() : options.scale; }
  void FollowTheDrawnRate(double passStarted);
  std::string Title() const;
  bool StartControllers(std::string& error);
  // The show as controllers see it: values, health, blackout, bank, look.
  void UpdateShown();
  void SayRecordFailure();
  void StartPipeWire();

  Window& window;
  Clock& clock;
  const HostSession& session;
  const ParameterNames& names;
  const PlayerOptions options;
  const ParameterProfile profile;

  // The terminal's lines through a writer of their own for the whole show:
  // a terminal nobody reads never holds up a frame.
  TerminalWriter terminal;
  Console console;
  Backstage backstage;  // stills, the bank and the MIDI map, written off the loop
  Stage stage;
  Captures captures;
  std::unique_ptr<StageRig> rig;
  std::unique_ptr<Controllers> controllers;  // OSC, OSCQuery and the remote page
  std::unique_ptr<ControlPanel> panel;
  std::unique_ptr<Direction> direction;  // the cue sheet and the autopilot
  std::unique_ptr<PlayerInput> input;
  std::unique_ptr<PipeWireOutput> pipewire;
  Decks decks;
  CuePreview preview;              // the look cued, drawn small
  long previewed = -1;             // the look it shows
  Upscaler upscaler;               // a picture drawn smaller, to the output's size
  hostkit::FrameTarget upscaled;
  FramePacer pacer;
  ScaleGovernor governor;
  TravelRenewal renewal;         // the instances' travel clock, followed
  double lastBar = -1.0;         // the tempo's bar at the last frame

  PanelInput fromPanel;
  std::vector<OscCommand> commands;
  std::vector<RigLine> rigLines;
  std::vector<std::string> directed;  // what the sheet and the autopilot did this frame
  ShowState shown;  // the show as controllers last had it
  MidiResult midi;
  std::vector<ParameterValue> reactionValues;
  std::vector<ParameterValue> firstDeck;  // the first deck's values, while the second's are refilled

  bool hasPicture = false;   // the picture holds a frame drawn at its size
  bool recordFailureSaid = false;
  bool drewThisPass = false;
  PlayStatistics statistics;
  ShowHealth health;
  double drawDelay = 0.0;      // --draw-delay, seconds a megapixel
  double passGap = 0.0;        // the longest time between process calls in this pass
  double previousCall = -1.0;  // the last process call, while playing
  double playStarted = 0.0;
};

}  // namespace tool
