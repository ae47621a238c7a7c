#include "music/LiveTempo.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace tool {
namespace {

constexpr double kFollowEverySeconds = 0.5;
constexpr unsigned kTempoWindow = 2048;
// A change of tempo, against the grid's.
constexpr double kTempoChange = 0.03;
// How long the path must propose a tempo before the grid takes it: a
// change at once (twice running), a related level for as long as the path
// agreed with the grid before, up to two of the track's windows.
constexpr double kChangeHold = 0.5;
constexpr double kLongestLevelHold = 16.0;
// The grid's first tempo is confirmed once the path agrees with it for two
// seconds running.
constexpr int kConfirmingChecks = 4;
constexpr double kGridRelatedLevels[] = {0.5, 2.0 / 3.0, 0.75, 4.0 / 3.0, 1.5, 2.0};

}  // namespace

bool LiveTempo::Begin(unsigned hop, int sampleRate, std::string& error) {
  if (!spectrum.Begin(kTempoWindow, hop, sampleRate, error) || !mel.Begin(kTempoWindow, sampleRate)) return false;
  follower = std::make_unique<TempoFollower>(2.0 * hop / sampleRate);
  return true;
}

double LiveTempo::Hop(const float* samples, double now, float hopSeconds, double soundSince) {
  // The tempo reads the rise of the compressed mel bands, as the track's
  // analysis does: the bins' own rise is ruled by the cymbals.
  spectrum.Push(samples);
  float energies[MelBank::kBands];
  mel.Energies(spectrum.Magnitudes(), energies);
  double melFlux = 0.0;
  for (unsigned band = 0; band < MelBank::kBands; ++band) {
    const float compressed = Spectrum::Compressed(energies[band]);
    melFlux += std::max(0.0f, compressed - previousMel[band]);
    previousMel[band] = compressed;
  }
  recentFlux.push_back(melFlux);
  if (static_cast<double>(recentFlux.size()) * hopSeconds > kFollowSeconds) recentFlux.pop_front();
  if (++hops % std::max(1L, std::lround(kFollowEverySeconds / hopSeconds)) != 0) return 0.0;
  // Read at the track's analysis's hop, two of these: the blur and the
  // evidence then weigh the onsets alike.
  std::vector<double> strength(recentFlux.size() / 2);
  const size_t skip = recentFlux.size() % 2;
  for (size_t i = 0; i < strength.size(); ++i) strength[i] = recentFlux[skip + 2 * i] + recentFlux[skip + 2 * i + 1];
  const bool whole = now - soundSince >= kFollowSeconds;
  const double heard = follower->Follow(strength, whole);
  // Until the path has heard a whole stretch of sound, the grid keeps the
  // tempo it locked at.
  return heard > 0.0 && whole ? heard : 0.0;
}

void LiveTempo::Locked(double now) {
  confirmed = false;
  agreedFor = 0;
  tempoSince = now;
  proposed = 0.0;
  proposedFor = 0;
}

bool LiveTempo::Weigh(double heard, double period, double now) {
  const bool differs = std::fabs(heard / period - 1.0) > kTempoChange;
  const bool steady = proposed > 0.0 && std::fabs(heard / proposed - 1.0) <= kTempoChange;
  if (!differs) {
    proposed = 0.0;
    proposedFor = 0;
    confirmed = confirmed || ++agreedFor >= kConfirmingChecks;
    return false;
  }
  agreedFor = 0;
  if (!steady) proposedSince = now, proposedFor = 0;
  proposed = heard;
  ++proposedFor;
  bool related = false;
  for (double ratio : kGridRelatedLevels) related = related || std::fabs(heard / period / ratio - 1.0) <= kTempoChange;
  // A related level must be proposed as long as the path agreed with the
  // grid's before it (once it had heard a whole stretch), up to a bound.
  const double agreed = std::max(0.0, proposedSince - std::max(tempoSince, kFollowSeconds));
  const double hold = related ? std::clamp(agreed, kChangeHold, kLongestLevelHold) : kChangeHold;
  return (proposedFor - 1) * kFollowEverySeconds >= hold;
}

void LiveTempo::Took(double now) {
  proposed = 0.0;
  proposedFor = 0;
  tempoSince = now;
  agreedFor = kConfirmingChecks;  // the path's own tempo
  confirmed = true;
}

}  // namespace tool
