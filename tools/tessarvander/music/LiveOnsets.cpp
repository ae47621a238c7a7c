#include "music/LiveOnsets.h"

#include <algorithm>

#include "music/Spectrum.h"

namespace tool {
namespace {

// The flux: the rise of the compressed magnitudes (kMagnitudeCompression).
// A transient's rise peaks this long after it sounds, as the window's end
// passes it (measured on clicks).
constexpr double kFluxLagSeconds = 0.008;

}  // namespace

bool LiveOnsets::Begin(unsigned window, unsigned hop, int sampleRate, std::string& error) {
  onset.reset(new_aubio_onset("default", window, hop, static_cast<uint_t>(sampleRate)));
  found.reset(new_fvec(1));
  if (!onset || !found) {
    error = "live audio: aubio cannot find onsets at " + std::to_string(sampleRate) + " Hz";
    return false;
  }
  aubio_onset_set_minioi_ms(onset.get(), 50.0f);
  previous.assign(window / 2 + 1, 0.0f);
  return true;
}

double LiveOnsets::Hop(fvec_t* samples, const std::vector<float>& magnitudes, double now, float hopSeconds,
                       double& strength) {
  double flux = 0.0;
  previous.resize(magnitudes.size(), 0.0f);
  for (size_t bin = 1; bin < magnitudes.size(); ++bin) {
    const float compressed = Spectrum::Compressed(magnitudes[bin]);
    flux += std::max(0.0f, compressed - previous[bin]);
    previous[bin] = compressed;
  }
  recentFlux[++hops % kRecentHops] = {now, flux};
  aubio_onset_do(onset.get(), samples, found.get());
  strength = -1.0;
  if (found->data[0] == 0.0f) return -1.0;
  last = now;
  double at = -1.0;
  for (const auto& [time, rise] : recentFlux)
    if (time > now - kRecentHops * hopSeconds && rise > strength) strength = rise, at = time;
  return at - kFluxLagSeconds;
}

}  // namespace tool
