// What changes the look with no hand on it: a cue sheet followed on the
// tempo source's grid (`play --cues`), and the autopilot (`play
// --autopilot`, A, OSC autopilot, the remote). Both act through the stage
// once a frame, before it steps, so the take holds what they did.
//
// A live sheet's bar 1 is the tempo source's first bar when the show hears
// it from its start (the first tap, a MIDI Start), else the source's next
// downbeat; when the source's count starts again (a MIDI Start, a new run of
// taps) the sheet starts again from its top. Positions in seconds count
// from the start of the show.
#pragma once

#include <string>
#include <vector>

#include "player/Autopilot.h"
#include "player/CuePlayer.h"
#include "player/Stage.h"
#include "rig/Tempo.h"

namespace tool {

class Direction {
 public:
  // `sheet`: checked against the bank already (empty: no sheet).
  Direction(const PlayerOptions& options, bool twoDecks);

  // Once a frame, `sinceStart` seconds into the show: the tempo at the
  // frame's own time, and the live sound's level and bands in dB then
  // (null without live sound).
  void Frame(Stage& stage, const TempoReading& tempo, const float* sound, double sinceStart,
             std::vector<std::string>& said);

  Autopilot& Pilot() { return autopilot; }
  const Autopilot& Pilot() const { return autopilot; }
  // A performer's own change of look or value.
  void HandsOn(std::vector<std::string>& said) { autopilot.HandsOn(said); }

 private:
  CueSheet sheet;
  CuePlayer cues;
  Autopilot autopilot;
  double framesPerSecond;
  double origin = -1.0;     // the source's beats at the sheet's bar 1; below 0 before a tempo
  double lastBeats = -1.0;
};

}  // namespace tool
