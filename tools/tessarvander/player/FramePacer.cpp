#include "player/FramePacer.h"

#include <cmath>

namespace tool {
namespace {

// Ten seconds of one-pixel calls take well under a second to catch up.
constexpr double kLongestBacklogSeconds = 10.0;
// A frame due within this much of now is due: waiting until NextDue must
// make it due, whatever the rounding of the division and the subtraction.
constexpr double kDueTolerance = 1e-6;

}  // namespace

void FramePacer::Restart(double now, long done) {
  startTime = now;
  startFrame = done;
}

long FramePacer::Due(double now, long done) {
  // Frame k of the run falls due at startTime + k / framesPerSecond; the
  // first at once.
  const long target = startFrame + static_cast<long>(std::floor((now - startTime) * framesPerSecond + kDueTolerance)) + 1;
  const long due = target - done;
  const long backlogLimit = static_cast<long>(std::ceil(kLongestBacklogSeconds * framesPerSecond));
  if (due > backlogLimit) {
    dropped += due - 1;
    Restart(now, done);
    return 1;
  }
  return due > 0 ? due : 0;
}

double FramePacer::NextDue(long done) const {
  return startTime + static_cast<double>(done - startFrame) / framesPerSecond;
}

}  // namespace tool
