// The per-frame arithmetic of the travel: how eased values follow their
// targets and how the travel clock advances. Both are evaluated in single
// precision in exactly this order (the build keeps the compiler from fusing
// them into multiply-adds), so every host sees the same uniform values.
#pragma once

namespace travel {

// Each frame an eased value closes 5 % of the distance to its target.
constexpr float kEasing = 0.05f;
// One sixtieth: the clock is designed for 60 processed frames per second.
constexpr float kFrameStep = 0.016666668f;

inline float EaseToward(float eased, float target) { return (target - eased) * kEasing + eased; }

inline float AdvanceClock(float clock, float direction, float speed) { return (direction * speed) * kFrameStep + clock; }

}  // namespace travel
