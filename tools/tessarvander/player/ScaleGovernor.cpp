#include "player/ScaleGovernor.h"

#include <algorithm>

namespace tool {
namespace {

// Below this share of the target a second is too slow.
constexpr double kTooSlow = 0.85;
// A smaller size is taken only when it draws this much faster, and a larger
// one only when it would still draw this far above the target.
constexpr double kWorthIt = 1.1;
constexpr double kRoomToGrow = 1.2;
constexpr double kSecondsBetweenDowns = 1.0;
constexpr double kSecondsBetweenUps = 3.0;
constexpr double kSecondsAfterDown = 8.0;

}  // namespace

double ScaleGovernor::Predicted(size_t at, double meanDraw, double fixed) const {
  const double grown = kSteps[at] / kSteps[step];
  return 1.0 / std::max(1e-6, fixed + meanDraw * grown * grown);
}

bool ScaleGovernor::Update(double now, bool drew, double drawSeconds, double busySeconds) {
  if (windowStart < 0.0) windowStart = now;
  if (drew) {
    ++draws;
    drawTime += drawSeconds;
  }
  busyTime += busySeconds;
  const double elapsed = now - windowStart;
  if (elapsed < 1.0) return false;
  measured = static_cast<double>(draws) / elapsed;
  const bool measuredSome = draws > 0;
  const double meanDraw = measuredSome ? drawTime / static_cast<double>(draws) : 0.0;
  // What each drawn frame costs besides its draw.
  const double fixed = measuredSome ? std::max(0.0, busyTime / static_cast<double>(draws) - meanDraw) : 0.0;
  windowStart = now;
  draws = 0;
  drawTime = busyTime = 0.0;
  if (!measuredSome) return false;
  const double sinceChange = now - lastChange;
  if (measured < kTooSlow * target && step + 1 < kStepCount && sinceChange >= kSecondsBetweenDowns &&
      Predicted(step + 1, meanDraw, fixed) > kWorthIt * measured) {
    ++step;
    lastChange = lastDown = now;
    return true;
  }
  if (step > 0 && sinceChange >= kSecondsBetweenUps && now - lastDown >= kSecondsAfterDown &&
      Predicted(step - 1, meanDraw, fixed) >= kRoomToGrow * target) {
    --step;
    lastChange = now;
    return true;
  }
  return false;
}

}  // namespace tool
