// The drawing size that holds a drawn rate on a machine that cannot draw
// every frame at the output's size (`play --scale auto`): the picture is
// drawn at a step of that size and scaled up. Over each second it measures
// the frames drawn and their draw time; below the target rate it steps down,
// and it steps up again only when the larger size, its draw time grown with
// its pixels, would still hold the target with room to spare. At most one
// step a second down and one every two seconds up, so it never pumps.
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
  // After a pass at the clock's `now`: whether it drew, and how long the draw
  // took. True when the scale changed.
  bool Update(double now, bool drew, double drawSeconds);
  // The frames drawn a second over the last whole second measured.
  double DrawnPerSecond() const { return measured; }

 private:
  const double target;
  size_t step = 0;
  double windowStart = -1.0;
  long draws = 0;
  double drawTime = 0.0;
  double measured = 0.0;
  double lastChange = -1e9;
};

}  // namespace tool
