// The per-frame arithmetic of the travel: how eased values follow their
// targets and how the travel clock advances. Both are evaluated in single
// precision in exactly this order (the build keeps the compiler from fusing
// them into multiply-adds), so every host sees the same uniform values.
#pragma once

#include <cmath>

namespace travel {

// Each frame an eased value closes 5 % of the distance to its target.
constexpr float kEasing = 0.05f;
// One sixtieth: the clock is designed for 60 processed frames per second.
constexpr float kFrameStep = 0.016666668f;

// Every step that moves the value is exactly the formula. Two cases are not:
// - A few units in the last place short of the target the 5 % step rounds to
//   nothing, and the value would stall there for good: at Depth Layers 1.0
//   that is 0.9999994, which shows 8 layers instead of 9. A step that no
//   longer moves the value lands it on the target.
// - A host may send any finite value, up to 3.4e38; doubling it overflows to
//   infinity, and one infinity becomes NaN for good. A step that would leave
//   the finite numbers is not taken.
inline float EaseToward(float eased, float target) {
  const float next = (target - eased) * kEasing + eased;
  if (!std::isfinite(next)) return eased;
  return next == eased ? target : next;
}

// The clock is never wrapped, but it stays within +-1e30: the shader
// multiplies it by parameters and by 2 pi, and a clock near the float limit,
// reachable only with absurd speeds (at full speed 1e30 is 1e31 years away),
// would overflow those products into a picture of NaN for good. A step past
// the limit, or to infinity or NaN, is not taken.
constexpr float kClockLimit = 1.0e30f;

inline float AdvanceClock(float clock, float direction, float speed) {
  const float next = (direction * speed) * kFrameStep + clock;
  return std::fabs(next) <= kClockLimit ? next : clock;
}

}  // namespace travel
