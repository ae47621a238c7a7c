// Frames that only move the flight on: drawn at a 1x1 viewport into a
// scratch frame buffer, so that the plugin's clock and eased values advance
// exactly as in full frames, at almost no cost. What comes before the frames
// a render writes (its start, a take's earlier frames, the parts before a
// segment) runs this way.
#pragma once

#include <vector>

#include "FrameTarget.h"
#include "session/FrameDriver.h"
#include "sys/Interrupts.h"

namespace cli {

// Runs `frames` frames at a 1x1 viewport into `scratch`: the clock and the
// eased values advance exactly as in full frames, at almost no cost.
// `valuesOf(frame, values)` gives each frame's parameter values.
template <class ValuesOf>
bool AdvanceFrames(FrameDriver& driver, hostkit::FrameTarget& scratch, long firstFrame, long frames,
                   ValuesOf valuesOf);
// Binds the one-pixel frame buffer that such frames are drawn into.
void PrepareScratchFrame(hostkit::FrameTarget& scratch);

template <class ValuesOf>
bool AdvanceFrames(FrameDriver& driver, hostkit::FrameTarget& scratch, long firstFrame, long frames,
                   ValuesOf valuesOf) {
  std::vector<ParameterValue> values;
  for (long frame = firstFrame; frame < firstFrame + frames; ++frame) {
    if (Interrupted()) return false;
    PrepareScratchFrame(scratch);
    valuesOf(frame, values);
    if (!driver.Process(frame, values)) return false;
  }
  return true;
}

}  // namespace cli
