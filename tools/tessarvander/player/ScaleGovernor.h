// The drawing size that holds a drawn rate on a machine that cannot draw
// every frame at the output's size (`play --scale auto`): the picture is
// drawn at a step of that size and brought up to it. Over each second it
// measures the frames drawn, their draw time and the rest of each pass's
// work (presenting, the panel, frames advanced at one pixel), which the
// size does not change. It steps down when the rate falls below the target
// and a smaller size would help; it steps back up when the larger size, its
// draw time grown with its pixels, would hold the target with room to
// spare. Down at most once a second; up at most once every three seconds,
// and not within eight of a step down, so it never pumps.
// Pure arithmetic on seconds: tested as it is.
#pragma once

#include <cstddef>

namespace tool {

class ScaleGovernor {
 public:
  static constexpr double kSteps[] = {1.0, 0.75, 0.5, 0.35, 0.25};
  static constexpr size_t kStepCount = sizeof kSteps / sizeof kSteps[0];

  explicit ScaleGovernor(double targetPerSecond) : target(targetPerSecond) {}
  double Scale() const { return kSteps[step]; }
  // After a pass at the clock's `now`: whether it drew, how long the draw
  // took, and how long the whole pass worked (without its wait for the next
  // frame). True when the scale changed.
  bool Update(double now, bool drew, double drawSeconds, double busySeconds);
  // The frames drawn a second over the last whole second measured.
  double DrawnPerSecond() const { return measured; }

 private:
  // The rate a step would draw at, from the last second's costs.
  double Predicted(size_t at, double meanDraw, double fixed) const;

  const double target;
  size_t step = 0;
  double windowStart = -1.0;
  long draws = 0;
  double drawTime = 0.0, busyTime = 0.0;
  double measured = 0.0;
  double lastChange = -1e9, lastDown = -1e9;
};

}  // namespace tool
