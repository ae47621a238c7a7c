#include "music/OnsetCurve.h"

#include <algorithm>
#include <cmath>

namespace tool {

long HopOf(double seconds, const OnsetCurve& curve) {
  return std::clamp(std::lround((seconds - kStrengthOffsetSeconds) / curve.hopSeconds), 0L,
                    static_cast<long>(curve.strength.size()) - 1);
}

}  // namespace tool
