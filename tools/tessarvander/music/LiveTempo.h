// The live tempo: the track's tempo path (TempoPath.h) followed over the
// last seconds of mel onset strength, read through the same window and bank
// as the track's analysis, every half second; and whether the beat grid
// should take what the path hears. The grid keeps its own, finer period
// while the path agrees; it takes a tempo the path proposes steadily: one
// that is no related level of the grid's (a change of tempo) twice running;
// a related level (half, double, two or three thirds, three or four
// quarters), which a busier part can speak for without the tempo changing,
// only after as long as the path agreed with the grid before, up to 16 s.
#pragma once

#include <deque>
#include <memory>
#include <string>

#include "music/Spectrum.h"
#include "music/TempoPath.h"

namespace tool {

class LiveTempo {
 public:
  // The stretch the path follows, in seconds: shorter than the track's
  // windows of 8 s, so that a change is heard sooner (once most of the
  // stretch is of the new tempo), long enough for a slow tempo's four
  // periods.
  static constexpr double kFollowSeconds = 6.0;

  bool Begin(unsigned hop, int sampleRate, std::string& error);
  // One hop of samples. Every half second, once the path has heard a whole
  // stretch of sound (since `soundSince`), the period it stands at, in
  // seconds; 0 otherwise.
  double Hop(const float* samples, double now, float hopSeconds, double soundSince);

  // The grid locked at its first tempo: it is not confirmed yet.
  void Locked(double now);
  // What the path heard against the grid's `period`: true when the grid
  // should take it (a steady proposal); agreement confirms the grid's tempo.
  bool Weigh(double heard, double period, double now);
  // The grid took a tempo from the path: its own, so confirmed.
  void Took(double now);
  bool Confirmed() const { return confirmed; }

 private:
  Spectrum spectrum;
  MelBank mel;
  float previousMel[MelBank::kBands] = {};
  std::unique_ptr<TempoFollower> follower;
  std::deque<double> recentFlux;  // the flux of the last seconds, hop by hop
  long hops = 0;
  double proposed = 0.0;   // the path's tempo, while it differs from the grid's
  int proposedFor = 0;     // checks in a row it has been proposed
  double proposedSince = 0.0;
  double tempoSince = 0.0; // when the grid took its tempo
  bool confirmed = false;  // by the path over a whole stretch
  int agreedFor = 0;       // checks in a row the path agreed
};

}  // namespace tool
