// The per-frame arithmetic of the travel on the CPU: exact single-precision
// steps, the guards against overflowing host values, and how the 32-bit clock
// ages over a long show.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "TravelMotion.h"

namespace {

constexpr float kInfinity = std::numeric_limits<float>::infinity();

TEST(TravelMotion, FiniteStepsAreTheFormulaInSinglePrecision) {
  const float cases[][2] = {{0.3f, 0.6f}, {1.0f, -1.0f}, {0.5f, 5.0f}, {-7.0f, 3.0e37f}, {2.0e38f, -2.0e38f}};
  for (const auto& c : cases) {
    const float difference = c[1] - c[0];
    const float scaled = difference * 0.05f;
    const float expected = scaled + c[0];
    if (std::isfinite(expected)) {
      EXPECT_EQ(travel::EaseToward(c[0], c[1]), expected) << c[0] << " toward " << c[1];
    }
  }
  EXPECT_EQ(travel::AdvanceClock(1.0f, 1.0f, 0.6f), (1.0f * 0.6f) * 0.016666668f + 1.0f);
  EXPECT_EQ(travel::AdvanceClock(-5.0f, -1.0f, 2.0f), (-1.0f * 2.0f) * 0.016666668f + -5.0f);
}

TEST(TravelMotion, AStalledStepLandsOnTheTarget) {
  float eased = 0.5f;
  int steps = 0;
  while (eased != 1.0f && steps < 1000) {
    const float next = travel::EaseToward(eased, 1.0f);
    ASSERT_GT(next, eased) << "every step moves toward the target";
    eased = next;
    ++steps;
  }
  EXPECT_EQ(eased, 1.0f);
  EXPECT_GT(steps, 250) << "by 5 % steps, not at once";
  EXPECT_EQ(travel::EaseToward(0.9999994f, 1.0f), 1.0f) << "where the formula alone stalls";
}

TEST(TravelMotion, OverflowingStepsAreNotTaken) {
  // A Speed of 3e38 asks for an eased value toward 6e38, which is infinity.
  EXPECT_EQ(travel::EaseToward(0.6f, 3.0e38f * 2.0f), 0.6f);
  EXPECT_EQ(travel::EaseToward(-3.0e38f, 3.0e38f), -3.0e38f) << "the difference overflows";
  const float clock = 123.0f;
  EXPECT_EQ(travel::AdvanceClock(clock, 3.0e38f, 3.0e38f), clock);
  EXPECT_EQ(travel::AdvanceClock(clock, kInfinity, 1.0f), clock);
  EXPECT_EQ(travel::AdvanceClock(clock, std::numeric_limits<float>::quiet_NaN(), 1.0f), clock);
  EXPECT_EQ(travel::AdvanceClock(0.99e30f, 1.0e30f, 1.0f), 0.99e30f) << "the clock holds at its limit";
  EXPECT_EQ(travel::AdvanceClock(-0.99e30f, -1.0e30f, 1.0f), -0.99e30f);
  EXPECT_LT(travel::AdvanceClock(0.99e30f, -1.0e30f, 1.0f), 0.99e30f) << "and comes back from it";
}

// The clock is a 32-bit float that is never wrapped: as it grows, its step of
// 0.01 at the default speed is rounded to ever coarser multiples, and at 2^18
// it no longer moves. These figures are reported in docs/reliability.md.
TEST(TravelMotion, LongRunsAtTheDefaultSpeed) {
  float speed = 0.3f, direction = 1.0f, clock = 0.0f;
  long firstOff = -1, sustainedOff = -1, stopped = -1;
  for (long frame = 1; frame < 100000000L && stopped < 0; ++frame) {
    speed = travel::EaseToward(speed, 0.6f);
    direction = travel::EaseToward(direction, 1.0f);
    const float nominal = (direction * speed) * travel::kFrameStep;
    const float next = travel::AdvanceClock(clock, direction, speed);
    const double error = std::fabs((static_cast<double>(next) - clock - nominal) / nominal);
    // The first thousand frames ease the speed up from 0.3; they are not a step error.
    if (frame > 1000) {
      const bool off = error > 0.01;
      if (off && firstOff < 0) firstOff = frame;
      if (!off)
        sustainedOff = -1;
      else if (sustainedOff < 0)
        sustainedOff = frame;
    }
    if (next == clock) stopped = frame;
    clock = next;
  }
  const double hour = 60.0 * 3600.0;
  RecordProperty("first_step_off_hours", std::to_string(firstOff / hour));
  RecordProperty("stops_hours", std::to_string(stopped / hour));
  EXPECT_EQ(firstOff, 204641) << firstOff / hour << " hours";     // 0.95 h, crossing 2048
  EXPECT_EQ(sustainedOff, 409243) << sustainedOff / hour << " hours";  // 1.89 h, from 4096 on
  EXPECT_EQ(stopped, 22918673) << stopped / hour << " hours";        // 106.1 h, at 2^18
  EXPECT_EQ(clock, 262144.0f);
}

}  // namespace
