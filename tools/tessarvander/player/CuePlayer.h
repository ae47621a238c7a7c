// A cue sheet played on a stage, live (`play --cues`) or frame by frame for
// a render (`render --cues`, CompileCues): each cue fires in the first frame
// at or after its place, as the music's position is read at that frame
// (the tempo source's grid live, the song's beat grid in a render). Looks
// come in through the stage's own Recall, so a cue's dissolve is the
// stage's dissolve wherever it plays.
#pragma once

#include <string>
#include <vector>

#include "formats/CueSheet.h"
#include "player/Stage.h"

namespace tool {

// Finds a look of the bank by slot from 1 ("3") or by name, whole or after
// its number ("julia-fire" for "02-julia-fire"), in any case. False with
// the reason.
bool FindLook(const PresetBank& bank, const std::string& look, size_t& slot, std::string& why);

// Whether a cue asks for a second deck (a dissolve, add or luma).
bool CuesNeedTwoDecks(const CueSheet& sheet);

class CuePlayer {
 public:
  // Every look the sheet names must be in the bank: false with the cue's
  // line when one is not.
  bool Load(const CueSheet& sheet, const PresetBank& bank, const std::string& where, std::string& error);
  bool Loaded() const { return !cues.empty(); }

  // The music's place at a frame: beats from bar 1 (below 0 while there is
  // no tempo), seconds from the start, and seconds a beat.
  struct Moment {
    double beats = -1.0;
    double seconds = 0.0;
    double secondsPerBeat = 0.5;
    double framesPerSecond = 60.0;
  };
  // Once a frame, before the stage steps: fires what fell due, moves the
  // ramps on; what a performer would read goes to `said`.
  void Frame(Stage& stage, const Moment& now, std::vector<std::string>& said);
  // From the sheet's top again, as loaded.
  void Rewind();
  // Cues fired so far, and all.
  size_t Fired() const { return fired; }
  // When each cue fired, in the music's seconds.
  const std::vector<double>& FiredAt() const { return firedAt; }
  size_t Count() const { return cues.size(); }

 private:
  void Fire(Stage& stage, const Cue& cue, size_t slot, const Moment& now, std::vector<std::string>& said);

  std::vector<Cue> cues;
  std::vector<size_t> slots;      // a look cue's slot, by cue
  std::vector<size_t> inBars, inSeconds;  // the cues of each kind of place, in order
  size_t nextBar = 0, nextSecond = 0;
  size_t fired = 0;
  std::vector<double> firedAt;
  struct Ramp {
    uint32_t parameter;
    float from, to;
    long frame = 0, frames = 1;
  };
  std::vector<Ramp> ramps;
};

}  // namespace tool
