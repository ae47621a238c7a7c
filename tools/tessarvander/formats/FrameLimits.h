// A render's bounds, the same from the command line and from any file: the
// frame rate and the number of frames.
#pragma once

namespace tool {

constexpr double kMinFramesPerSecond = 0.001;
constexpr double kMaxFramesPerSecond = 1000.0;
constexpr long kMaxFrames = 100000000;

}  // namespace tool
