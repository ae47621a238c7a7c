#include "music/LiveLevels.h"

#include <algorithm>
#include <cmath>

namespace tool {
namespace {

// Levels span this many dB under the recent loudest; the loudest falls back
// this fast when the music gets quieter, and never under the floor (so a
// quiet room stays dark).
constexpr float kRangeDb = 40.0f;
constexpr float kLoudestFallsDbPerSecond = 40.0f / 30.0f;
constexpr float kLoudestFloorDb = -40.0f;
constexpr float kSilenceDb = -120.0f;
// The shown values are a mean over about 20 ms, near a frame at 60.
constexpr float kSmoothing = 0.25f;

float ToDecibels(double power) { return power > 1e-12 ? static_cast<float>(10.0 * std::log10(power)) : kSilenceDb; }

}  // namespace

void LiveLevels::Hop(double meanSquare, const double bands[3], float hopSeconds) {
  levels[0] = ToDecibels(meanSquare * 2.0);  // a full-scale sine at 0 dB
  for (int band = 0; band < 3; ++band) levels[band + 1] = ToDecibels(bands[band]);
  const float falls = kLoudestFallsDbPerSecond * hopSeconds;
  loudest = std::max({levels[0], loudest - falls, kLoudestFloorDb});
  const float bandTop = std::max({levels[1], levels[2], levels[3]});
  loudestBand = std::max({bandTop, loudestBand - falls, kLoudestFloorDb});
  for (int k = 0; k < 4; ++k) {
    const float top = k == 0 ? loudest : loudestBand;
    const float scaled = std::clamp((levels[k] - (top - kRangeDb)) / kRangeDb, 0.0f, 1.0f);
    shown[k] += (scaled - shown[k]) * kSmoothing;
  }
}

}  // namespace tool
