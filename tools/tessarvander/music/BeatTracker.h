// Finds a track's beat grid from its onset strength, for the whole track at
// once (a render knows the music before its first frame):
//   1. the sound: stretches above the silence gate, where beats may fall;
//   2. the tempo: a path through windows of eight seconds that changes
//      tempo only when the music does (TempoPath.h);
//   3. the beats: dynamic programming over the onset strength, which rewards
//      strong onsets and penalises intervals away from the tempo, so the grid
//      stays steady through syncopation and breaks;
//   4. the grid, made precise: each beat refined between hops and fitted
//      with its neighbours, so the tempo comes out finer than one hop;
//   5. the bars and the sections (BarsAndSections.h).
#pragma once

#include <cstdint>
#include <vector>

#include "music/BeatGrid.h"
#include "music/OnsetCurve.h"
#include "music/TempoEvidence.h"

namespace tool {

enum class BeatScale { AsTracked, Half, Double };

// What the user may decide instead of the tracker.
struct BeatOptions {
  int beatsPerBar = 4;
  BeatScale scale = BeatScale::AsTracked;
  double beatsPerMinute = 0.0;   // above 0: this tempo, phase from the music
  double firstBeat = -1.0;       // 0 or more: a bar starts here; no beat before
  bool beatsGiven = false;       // the beats are `beats`, as given
  std::vector<double> beats;
};

BeatGrid TrackBeats(const OnsetCurve& curve, const BeatOptions& options);

}  // namespace tool
