// Onsets in the live sound: aubio's detector finds them, and each is placed
// at the largest rise of the spectrum's compressed magnitudes among the
// hops it was found in, less the window's lag: finer than aubio's own time.
#pragma once

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "music/AubioHandles.h"

namespace tool {

class LiveOnsets {
 public:
  // The hops an onset is looked for in: aubio finds it within these.
  static constexpr unsigned kRecentHops = 8;

  bool Begin(unsigned window, unsigned hop, int sampleRate, std::string& error);
  // One hop: its samples (aubio's vector) and the spectrum's magnitudes at
  // `now`. The onset found in it, in the music's seconds, or -1; its
  // strength (the rise) in `strength`.
  double Hop(fvec_t* samples, const std::vector<float>& magnitudes, double now, float hopSeconds, double& strength);
  // The latest onset aubio found, at the hop it found it; -1 before any.
  double Last() const { return last; }

 private:
  AubioOnset onset;
  AubioVector found;
  std::vector<float> previous;  // the last compressed magnitudes
  std::array<std::pair<double, double>, kRecentHops> recentFlux{};  // (time, rise) by hop
  unsigned hops = 0;
  double last = -1.0;
};

}  // namespace tool
