// The small pieces of a performance that must not surprise anyone on stage:
// quitting takes intent, the blackout fades over a chosen time, and a preset
// recalled with a crossfade eases in. Counted in frames of the flight where
// a take must replay them, in seconds where only the performer sees them.
// No GL here: tested as it is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/ParameterControls.h"

namespace tool {

// Q twice within two seconds quits (the first press asks on screen);
// Ctrl+Q quits at once.
class QuitGuard {
 public:
  static constexpr double kWindowSeconds = 2.0;
  // True when this press of Q quits; false when it asks.
  bool Press(double now);
  bool Asking(double now) const { return asked && now - askedAt <= kWindowSeconds; }

 private:
  bool asked = false;
  double askedAt = 0.0;
};

// B fades the output to true black and back; the plugin's values are not
// touched. Level 1 is the picture, 0 is black.
class Blackout {
 public:
  Blackout(double seconds, double framesPerSecond);
  void Toggle() { toBlack = !toBlack; }
  bool GoingToBlack() const { return toBlack; }
  // One frame of the fade.
  void Step();
  float Level() const { return level; }

 private:
  float stepPerFrame;
  float level = 1.0f;
  bool toBlack = false;
};

// A preset recalled with --crossfade: continuous parameters ease from the
// values at the recall to the preset's; discrete ones (fractal type,
// palette) switch at the midpoint.
class Crossfade {
 public:
  // `discrete[i]`: parameter i has bands and switches at the midpoint.
  void Start(const std::vector<float>& from, const std::vector<ParameterValue>& to,
             const std::vector<bool>& discrete, long frames);
  bool Active() const { return frame < frames; }
  // The next frame's values of the parameters the preset names.
  void Step(std::vector<ParameterValue>& changes);

 private:
  struct Fade {
    uint32_t index;
    float from, to;
    bool discrete;
  };
  std::vector<Fade> fades;
  long frames = 0;
  long frame = 0;
};

}  // namespace tool
