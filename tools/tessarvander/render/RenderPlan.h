// A render's frame arithmetic: how many frames it writes, and how many run
// before them at one pixel so that the flight stands where it should.
#pragma once

#include <string>

#include "formats/Takes.h"

namespace tool {

struct FramePlan {
  long preRoll = 0;  // host frames before the first written one
  long output = 0;   // frames written
};

// What the command line asks for; an unset value takes its default.
struct FrameRequest {
  bool still = false;
  bool framesGiven = false;
  long frames = 0;  // for a still: the frame shown, from 1
  bool durationGiven = false;
  double seconds = 5.0;
  bool startGiven = false;
  double startSeconds = 0.0;
  double framesPerSecond = 60.0;
};

// The frames of a render. A still is the last of the frames asked for, by
// default two seconds into the flight.
FramePlan PlanFrames(const FrameRequest& request);

// The frames of a take's replay: what its session drew before the take is
// the pre-roll; --frames may shorten it.
FramePlan PlanTake(const FrameRequest& request, const Take& take);

// The frames of a render as long as its music, unless --frames or
// --duration say otherwise (a still stays one frame).
FramePlan PlanMusic(const FrameRequest& request, const FramePlan& plan, double trackSeconds);

}  // namespace tool
