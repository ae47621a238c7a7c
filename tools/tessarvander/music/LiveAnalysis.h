// The music as it is heard, for `play --audio-in`: the features a live
// reaction follows, from the samples captured so far and nothing after
// them. Per hop of 256 samples: the level and the three bands (in dB, scaled
// against the loudest moments of the last half minute), onsets (aubio's
// onset detector) and beats: aubio's causal tracker finds the first, then
// the grid predicts each next beat, so a beat is known about as it sounds,
// at the tempo the track's own tempo path finds in the last seconds.
// Bars count from the first beat: live, no downbeat is told apart.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "music/AudioFeatures.h"

namespace tool {

class TempoFollower;

class LiveAnalysis {
 public:
  static constexpr unsigned kHop = 256;
  static constexpr unsigned kWindow = 1024;
  static constexpr int kBeatsPerBar = 4;

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

  // Level and the bands now, 0..1.
  float Continuous(AudioFeature feature) const;
  // The latest onset, beat or downbeat, in the music's seconds; -1 before any.
  double LastEvent(AudioFeature feature) const;
  double BeatsPerMinute() const { return beatsPerMinute; }
  // Whether the tempo path, over a whole stretch, has agreed with the grid's
  // tempo for a while or given it: before, the tempo is the first seconds' guess, often
  // at half or double.
  bool TempoConfident() const;
  // Beats since the first one heard, now.
  double Beats() const;

  // The same as they stood at `seconds` of the music, within the last two
  // seconds analysed: a frame drawn late, or advanced at one pixel to catch
  // up, reads the sound of its own time.
  float ContinuousAt(AudioFeature feature, double seconds) const;
  double LastEventAt(AudioFeature feature, double seconds) const;
  double BeatsAt(double seconds) const;

  // Which features can be followed live: all but those that need the whole
  // track (half-beat, double-beat, offbeat, section).
  static bool Live(AudioFeature feature);

 private:
  struct Aubio;
  void AnalyseHop();
  void FollowBeats(double now, double onset, bool aubioBeat);
  void StartBeat(double now);
  void FollowTempo(double now);
  bool PathIsWhole(double now) const;
  void TakeTempo(double newPeriod, double now);
  void WeighOnset(double onset, double strength);
  void Emit(double now);

  std::unique_ptr<Aubio> aubio;
  int rate = 48000;
  long hops = 0;
  unsigned filled = 0;
  float levels[4] = {0, 0, 0, 0};  // dB now: level, bass, mid, treble
  float loudest = -40.0f;           // the recent top of the level, dB
  float loudestBand = -40.0f;
  float shown[4] = {0, 0, 0, 0};
  double lastOnset = -1.0, lastBeat = -1.0, lastDownbeat = -1.0;
  double beatsPerMinute = 0.0;
  long beatCount = 0;
  // The beat grid.
  bool locked = false;
  double period = 0.0;        // seconds a beat
  double predicted = 0.0;     // when the beat last told was due
  double onBeat = -1.0;       // the onset nearest it, if any yet
  double early = -1.0;        // an onset shortly before the next beat
  double next = 0.0;          // when the next beat falls due
  double lastOnBeat = -1.0;   // the onset of the last beat that had one
  int beatsWithoutOnset = 0;
  std::deque<std::pair<double, double>> recentOnsets;  // (time, strength), the last seconds
  double soundSince = 0.0;      // the start of this stretch of sound
  // The tempo: the offline tracker's path, followed over the flux of the
  // last seconds; the grid takes what it proposes steadily (FollowTempo).
  std::unique_ptr<TempoFollower> follower;
  std::deque<double> recentFlux;  // the flux of the last seconds, hop by hop
  double proposed = 0.0;   // the path's tempo, while it differs from the grid's
  int proposedFor = 0;     // checks in a row it has been proposed
  double proposedSince = 0.0;
  double tempoSince = 0.0; // when the grid took its tempo
  bool confirmed = false;  // by the path over a whole stretch
  int agreedFor = 0;       // checks in a row the path agreed
  double onStrength = 0.0, offStrength = 0.0;  // onsets on and between beats
  int weighed = 0;
  double lastSound = -1.0;    // the last hop above the silence gate
  std::deque<std::pair<double, double>> fitted;  // (beat number, its onset) for the period
  // The last seconds analysed, hop by hop, and the beats told in them.
  struct Moment {
    double at;
    float shown[4];
    double lastOnset;
  };
  const Moment* MomentAt(double seconds) const;
  std::deque<Moment> history;
  std::deque<std::pair<double, double>> beatsTold;  // (time, beat number)
};

}  // namespace tool
