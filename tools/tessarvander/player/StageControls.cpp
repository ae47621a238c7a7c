#include "player/StageControls.h"

#include <algorithm>
#include <cmath>

namespace tool {

bool QuitGuard::Press(double now) {
  const bool confirmed = Asking(now);
  asked = !confirmed;
  askedAt = now;
  return confirmed;
}

Blackout::Blackout(double seconds, double framesPerSecond)
    : stepPerFrame(seconds <= 0.0 ? 1.0f : static_cast<float>(1.0 / std::max(1.0, seconds * framesPerSecond))) {}

void Blackout::Step() {
  level = toBlack ? std::max(0.0f, level - stepPerFrame) : std::min(1.0f, level + stepPerFrame);
  // Exactly black or exactly the picture at the ends, whatever the rounding.
  if (level < 1e-6f) level = 0.0f;
  if (level > 1.0f - 1e-6f) level = 1.0f;
}

void Crossfade::Start(const std::vector<float>& from, const std::vector<ParameterValue>& to,
                      const std::vector<bool>& discrete, long length) {
  fades.clear();
  for (const auto& [index, value] : to)
    if (index < from.size()) fades.push_back({index, from[index], value, index < discrete.size() && discrete[index]});
  frames = std::max(1L, length);
  frame = 0;
}

void Crossfade::Step(std::vector<ParameterValue>& changes) {
  changes.clear();
  if (!Active()) return;
  ++frame;
  const double t = static_cast<double>(frame) / static_cast<double>(frames);
  const double eased = t * t * (3.0 - 2.0 * t);  // smooth at both ends
  for (const Fade& fade : fades) {
    const float value = fade.discrete ? (t >= 0.5 ? fade.to : fade.from)
                                      : static_cast<float>(fade.from + (static_cast<double>(fade.to) - fade.from) * eased);
    changes.push_back({fade.index, frame == frames ? fade.to : value});
  }
}

}  // namespace tool
