// The render loop: a timeline's frames through one plugin instance. The
// frames before the part written (the pre-roll, the parts before a segment)
// are advanced at one pixel; the part written is drawn at full size and read
// back to the sink while the next frames are drawn.
#pragma once

#include <functional>
#include <string>

#include "output/FrameSink.h"
#include "render/RenderTimeline.h"
#include "session/HostSession.h"

namespace tool {

struct RenderJob {
  int width = 1280;
  int height = 720;
  double framesPerSecond = 60.0;
  long preRoll = 0;  // frames of the timeline before its first output frame
  long first = 0;    // the output frames written: [first, end)
  long end = 0;
  int readbackDepth = 3;  // pixel buffers in flight; 0: blocking reads
  // The tempo and bar phase at an output frame, for a render to music.
  std::function<void(long outputFrame, float& beatsPerMinute, float& barPhase)> beatAt;
  // After each frame written, with how many are written.
  std::function<void(long written)> progress;
};

enum class RenderOutcome { Done, Failed, Interrupted };

// Runs the job; Failed with one line in `error`. The sink is not finished:
// the caller commits it.
RenderOutcome RunRender(const HostSession& session, RenderTimeline& timeline, const RenderJob& job, FrameSink& sink,
                        std::string& error);

}  // namespace tool
