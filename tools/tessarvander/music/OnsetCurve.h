// What the beat tracker reads of a track, one entry per hop of the
// analysis, and the hop a moment of the track falls in.
#pragma once

#include <cstdint>
#include <vector>

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

// The onset strength of a hop is computed from the window that ends with
// that hop, so it peaks a little after the hop's own time: drums, measured
// on the synthetic kits of the tests, sound this long after the peak's hop.
constexpr double kStrengthOffsetSeconds = -0.007;

// The hop whose strength tells of a sound at `seconds`.
long HopOf(double seconds, const OnsetCurve& curve);

}  // namespace tool
