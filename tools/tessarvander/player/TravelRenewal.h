// Why a long show renews its instances. The plugin keeps its travel clock as
// a float advanced by the eased travel rate each frame and never wrapped (as
// hosts may rely on); as the clock grows, each step is rounded to coarser
// multiples: at the default speed a step is more than 1 % off its size after
// about an hour, and the flight stops after 106 hours. The player follows
// the clock of its instances here, with the plugin's own easing and step,
// and renews them (render/Decks.h) before the rounding can take a step more
// than the largest error it allows off its size.
#pragma once

#include <vector>

#include "formats/ParameterNames.h"

namespace tool {

class TravelRenewal {
 public:
  // The largest share of a step its rounding may cost.
  static constexpr double kLargestStepError = 0.01;
  // Renewal is asked for this many frames before the error could pass the
  // largest: time for a new instance to settle and dissolve in.
  static constexpr long kLeadFrames = 600;
  // A step smaller than this (a hundredth of the default speed's) moves the
  // flight too slowly for its error to show: it never asks for renewal, so
  // a flight easing to a standstill is not renewed again and again.
  static constexpr float kSmallestStep = 1e-4f;

  explicit TravelRenewal(double largestStepError = kLargestStepError) : largest(largestStepError) {}

  // A fresh instance's clock and eased values.
  void Restart();
  // One frame processed with the deck's Speed and Direction as set.
  void Frame(float speed, float direction);
  // The same with the deck's values (the plugin's, by its indices).
  void Frame(const std::vector<ParameterValue>& values);
  // Whether the instances should be renewed now.
  bool Due() const;
  // Whether to renew them in this frame: due, and a good moment (a
  // downbeat), or due for long enough that it cannot wait.
  bool RenewNow(bool goodMoment);

  float Clock() const { return clock; }
  // The step the plugin means to take now, and the most that rounding at
  // clock `at` can take any such step off its size, as a share of it.
  float NominalStep() const;
  static double StepError(float at, float step);

 private:
  double largest;
  float clock = 0.0f;
  float easedSpeed = 0.0f, easedDirection = 0.0f;
  bool started = false;
  long dueFor = 0;  // frames it has been due
};

}  // namespace tool
