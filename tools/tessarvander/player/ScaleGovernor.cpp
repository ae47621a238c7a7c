#include "player/ScaleGovernor.h"

namespace tool {
namespace {

// Below this share of the target a second is too slow; a larger size must
// fit its draws in this share of the target's frame time.
constexpr double kTooSlow = 0.85;
constexpr double kRoomToGrow = 0.6;
constexpr double kSecondsBetweenSteps = 1.0;
constexpr double kSecondsBeforeGrowing = 2.0;

}  // namespace

bool ScaleGovernor::Update(double now, bool drew, double drawSeconds) {
  if (windowStart < 0.0) windowStart = now;
  if (drew) {
    ++draws;
    drawTime += drawSeconds;
  }
  const double elapsed = now - windowStart;
  if (elapsed < 1.0) return false;
  measured = static_cast<double>(draws) / elapsed;
  const double meanDraw = draws > 0 ? drawTime / static_cast<double>(draws) : 0.0;
  windowStart = now;
  draws = 0;
  drawTime = 0.0;
  const double sinceChange = now - lastChange;
  if (measured < kTooSlow * target && step + 1 < kStepCount && sinceChange >= kSecondsBetweenSteps) {
    ++step;
    lastChange = now;
    return true;
  }
  if (step > 0 && measured >= kTooSlow * target && sinceChange >= kSecondsBeforeGrowing) {
    const double growth = kSteps[step - 1] / kSteps[step];
    if (meanDraw * growth * growth < kRoomToGrow / target) {
      --step;
      lastChange = now;
      return true;
    }
  }
  return false;
}

}  // namespace tool
