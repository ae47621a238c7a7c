// Finds a track's beat grid from its onset strength, for the whole track at
// once (a render knows the music before its first frame):
//   1. the sound: stretches above the silence gate, where beats may fall;
//   2. the tempo: the onset strength's autocorrelation in windows of ten
//      seconds, weighted towards moderate tempi, and one path through the
//      windows that changes tempo only when the music does (Viterbi);
//   3. the beats: dynamic programming over the onset strength, which rewards
//      strong onsets and penalises intervals away from the tempo, so the grid
//      stays steady through syncopation and breaks;
//   4. the grid, made precise: each beat refined between hops and fitted
//      with its neighbours, so the tempo comes out finer than one hop;
//   5. the bars: the beat in each bar where the bass hits hardest and the
//      harmony (the energy per pitch class) changes most is the first;
//   6. the sections: beats where the sound's colour changes most.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "music/BeatGrid.h"

namespace tool {

// How many coarse spectral bands the analysis keeps per hop for the bars
// and sections: the sound's colour.
constexpr int kColourBands = 10;
constexpr int kPitchClasses = 12;

// What the tracker reads, one entry per hop of the analysis.
struct OnsetCurve {
  double hopSeconds = 512.0 / 44100.0;
  std::vector<float> strength;     // log-mel spectral flux
  std::vector<float> bassStrength; // the same, below about 200 Hz
  std::vector<float> colour;       // kColourBands log energies per hop
  std::vector<float> chroma;       // kPitchClasses energies per hop: the harmony
  std::vector<uint8_t> sound;      // 1 above the silence gate
};

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

// The tempo range the tracker looks in, in beats a minute.
constexpr double kSlowestTempo = 50.0;
constexpr double kFastestTempo = 220.0;
// The lags the evidence for a period reads: up to this many periods.
constexpr long kTempoMultiples = 4;

// What the tempo is read from, shared with the live analysis: the onset
// strength emphasised, then blurred over a few hops (so onsets a fractional period apart, 34
// and 35 hops alternately, still meet near one lag), and how strongly its
// autocorrelation (by lag in hops) speaks for a beat period of `period`
// hops: the mean at the period and its first multiples (a comb, so that a
// period and its double are judged on equal terms), less a share at half
// the period, weighted towards moderate tempi.
std::vector<double> BlurredOnsets(const std::vector<double>& onset);
// The onset strength with its slow trend (0.2 s each side) removed,
// negatives cut, scaled to a unit standard deviation over the hops
// `inside` marks as sound (all of them when it is empty); 0 elsewhere.
std::vector<double> EmphasisedOnsets(const std::vector<double>& strength, const std::vector<uint8_t>& inside,
                                     double hopSeconds);
double TempoEvidence(const std::vector<double>& correlation, double period, double hopSeconds);

// The tempo path of TrackBeats followed as the music comes, for the live
// analysis: each window of onset strength adds its evidence to the path as
// the track's windows do, and the answer is where the path stands now, at
// the metrical level the window's metre fits clearly better. It hears a
// change of tempo once a window holds more of the new tempo than the old.
class TempoFollower {
 public:
  explicit TempoFollower(double hopSeconds);
  // The last seconds' onset strength, hop by hop, and whether they are the
  // whole stretch the caller follows (not only the first seconds of it):
  // the beat period the path stands at, in seconds, or 0 while it has heard
  // too little.
  double Follow(const std::vector<double>& strength, bool whole);

 private:
  double hop;
  std::vector<double> total;     // the path's totals, by tempo
  std::deque<double> strongest;  // the recent windows' best evidence
  std::deque<double> levels;     // the recent windows' metrical levels
};

}  // namespace tool
