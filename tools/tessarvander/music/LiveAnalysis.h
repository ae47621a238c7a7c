// The music as it is heard, for `play --audio-in`: the features a live
// reaction follows, from the samples captured so far and nothing after
// them. Per hop of 256 samples, a short conductor over four parts:
//   - the level and the three bands (LiveLevels.h);
//   - onsets (LiveOnsets.h);
//   - the tempo: the track's own tempo path followed over the last seconds
//     (LiveTempo.h);
//   - the beat grid that tells each beat as it sounds (LiveBeatGrid.h);
// and a history of the last two seconds, so that a frame drawn late, or
// advanced at one pixel to catch up, reads the sound of its own time.
#pragma once

#include <deque>
#include <memory>
#include <string>

#include "music/AudioFeatures.h"
#include "music/LiveBeatGrid.h"
#include "music/LiveLevels.h"
#include "music/LiveOnsets.h"
#include "music/LiveTempo.h"

namespace tool {

class LiveAnalysis {
 public:
  static constexpr unsigned kHop = 256;
  static constexpr unsigned kWindow = 1024;
  static constexpr int kBeatsPerBar = LiveBeatGrid::kBeatsPerBar;

  LiveAnalysis();
  ~LiveAnalysis();
  // False with a reason when aubio cannot analyse at this rate.
  bool Begin(int sampleRate, std::string& error);
  void Feed(const float* samples, size_t count);

  // Seconds of sound analysed: "now", in the music's own time.
  double Seconds() const { return static_cast<double>(hops) * kHop / rate; }
  // How late a feature is, past the capture's own buffering: the window the
  // spectrum looks back over, less the hop that ends now.
  double LatencySeconds() const;
  // How long after its own time an onset is known, as the last onsets
  // found were (the median; LatencySeconds before any): how far a reaction
  // to one trails the sound.
  double OnsetDelaySeconds() const;

  // Level and the bands now, 0..1.
  float Continuous(AudioFeature feature) const;
  // The latest onset, beat or downbeat, in the music's seconds; -1 before any.
  double LastEvent(AudioFeature feature) const;
  double BeatsPerMinute() const { return grid.BeatsPerMinute(); }
  // Whether the tempo path, over a whole stretch, has agreed with the grid's
  // tempo for a while or given it: before, the tempo is the first seconds'
  // guess, often at half or double.
  bool TempoConfident() const { return grid.Locked() && tempo.Confirmed(); }
  // Beats since the first one heard, now.
  double Beats() const { return grid.Beats(Seconds()); }

  // The same as they stood at `seconds` of the music, within the last two
  // seconds analysed.
  float ContinuousAt(AudioFeature feature, double seconds) const;
  double LastEventAt(AudioFeature feature, double seconds) const;
  double BeatsAt(double seconds) const { return grid.BeatsAt(seconds, Seconds()); }
  // The level or a band (Level, Bass, Mid, Treble) in dB at `seconds`, on
  // no scale of the recent past: what tells one passage from another.
  float DecibelsAt(AudioFeature feature, double seconds) const;

  // Which features can be followed live: all but those that need the whole
  // track (half-beat, double-beat, offbeat, section).
  static bool Live(AudioFeature feature);

 private:
  struct Aubio;
  void AnalyseHop();

  std::unique_ptr<Aubio> aubio;
  int rate = 48000;
  long hops = 0;
  unsigned filled = 0;
  LiveLevels levels;
  LiveOnsets onsets;
  LiveTempo tempo;
  LiveBeatGrid grid;
  double soundSince = 0.0;  // the start of this stretch of sound
  double lastSound = -1.0;  // the last hop above the silence gate
  // The last seconds analysed, hop by hop.
  struct Moment {
    double at;
    float shown[4];
    float decibels[4];
    double lastOnset;
  };
  const Moment* MomentAt(double seconds) const;
  std::deque<Moment> history;
  std::deque<double> onsetDelays;  // the last onsets', seconds
};

}  // namespace tool
