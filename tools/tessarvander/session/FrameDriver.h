// The per-frame conversation of a live host with one plugin instance.
#pragma once

#include <vector>

#include "hostkit/PluginLibrary.h"
#include "formats/FrameLimits.h"
#include "formats/ParameterNames.h"

namespace tool {

// Drives an instance frame by frame as a live host does: host time (code 20)
// and tempo (code 38) every frame, changed parameter values (code 8), then
// the frame itself (code 17) into the frame buffer and viewport bound now.
class FrameDriver {
 public:
  FrameDriver(const hostkit::PluginInstance& instance, double framesPerSecond);

  // The tempo and bar phase told with the next frames; until set, 120 beats
  // a minute with bars from frame 0.
  void SetBeat(float beatsPerMinute, float barPhase);
  // Frame `frameNumber` (its host time is frameNumber / fps) with these
  // values; only the ones that changed since the last frame are sent.
  bool Process(long frameNumber, const std::vector<ParameterValue>& values);

 private:
  const hostkit::PluginInstance& instance;
  double framesPerSecond;
  bool beatSet = false;
  float beatsPerMinute = 120.0f;
  float barPhase = 0.0f;
  // The value last sent for each parameter index (NaN: never), so only
  // changes are sent.
  std::vector<float> sent;
};

}  // namespace tool
