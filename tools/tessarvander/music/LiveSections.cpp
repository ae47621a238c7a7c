#include "music/LiveSections.h"

#include <algorithm>
#include <cmath>

namespace tool {
namespace {

void Values(const BarSound& bar, double out[4]) {
  out[0] = bar.level, out[1] = bar.bass, out[2] = bar.mid, out[3] = bar.treble;
}

}  // namespace

bool LiveSections::BarEnded(const BarSound& bar) {
  double now[4], mean[4] = {0, 0, 0, 0};
  Values(bar, now);
  for (const BarSound& earlier : before) {
    double values[4];
    Values(earlier, values);
    for (int k = 0; k < 4; ++k) mean[k] += values[k] / static_cast<double>(before.size());
  }
  levelRatio = before.empty() ? 1.0 : std::pow(10.0, (now[0] - mean[0]) / 20.0);

  // How far the bar stands from those before, each band against its usual
  // change from bar to bar (at least a small floor, so a steady loop's
  // tiny wobble does not count as a change).
  double distance = 0.0;
  for (int k = 0; k < 4; ++k) distance += std::pow((now[k] - mean[k]) / std::max(spread[k], kLeastSpread), 2.0);
  distance = std::sqrt(distance / 4.0);
  const bool silentBefore = !before.empty() && before.back().level < kSilentLevel;
  const bool returns = silentBefore && bar.level >= kSilentLevel;

  ++barsHeard;
  ++sinceChange;
  const bool settled = before.size() >= kBarsBefore && sinceChange > static_cast<long>(kShortestSection);
  const bool change = (settled && distance >= kNewSection) || (returns && barsHeard > 1);

  // The usual change from bar to bar, followed slowly, and not taught by
  // the change itself.
  if (!before.empty() && !change) {
    double last[4];
    Values(before.back(), last);
    const double weight = barsHeard <= 8 ? 1.0 / static_cast<double>(barsHeard) : 0.125;
    for (int k = 0; k < 4; ++k) spread[k] += weight * (std::fabs(now[k] - last[k]) - spread[k]);
  }
  // A new section starts afresh: it is compared only with its own bars.
  if (change) {
    before.clear();
    sinceChange = 1;
  }
  before.push_back(bar);
  while (before.size() > kBarsBefore) before.pop_front();
  return change;
}

}  // namespace tool
