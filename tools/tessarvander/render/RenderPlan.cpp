#include "render/RenderPlan.h"

#include <algorithm>
#include <cmath>

namespace tool {
namespace {

FramePlan AsStill(FramePlan plan) {
  plan.preRoll += plan.output - 1;
  plan.output = 1;
  return plan;
}

}  // namespace

FramePlan PlanFrames(const FrameRequest& request) {
  FramePlan plan;
  plan.output = request.framesGiven ? request.frames
                                    : std::max(1L, std::lround(request.seconds * request.framesPerSecond));
  const double start = request.startGiven ? request.startSeconds : (request.still && !request.framesGiven ? 2.0 : 0.0);
  plan.preRoll = std::lround(start * request.framesPerSecond);
  return request.still ? AsStill(plan) : plan;
}

FramePlan PlanTake(const FrameRequest& request, const Take& take) {
  FramePlan plan;
  const long takeFrames = take.frames - take.first;
  plan.preRoll = take.first;
  plan.output = request.framesGiven ? std::min(request.frames, takeFrames) : takeFrames;
  return request.still ? AsStill(plan) : plan;
}

FramePlan PlanMusic(const FrameRequest& request, const FramePlan& plan, double trackSeconds) {
  if (request.still || request.framesGiven || request.durationGiven) return plan;
  FramePlan music = plan;
  music.output = std::max(1L, std::lround(trackSeconds * request.framesPerSecond));
  return music;
}

}  // namespace tool
