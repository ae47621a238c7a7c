#include "render/RenderTimeline.h"

namespace tool {

RenderTimeline::RenderTimeline(const ParameterControls& controls, long preRollFrames, long outputFrames,
                               const Take* take)
    : controls(controls), preRoll(preRollFrames), outputs(outputFrames), take(take) {
  if (take) takePlayer = std::make_unique<TakePlayer>(*take, controls.Names());
}

bool RenderTimeline::Next(std::vector<ParameterValue>& values) {
  ++hostFrame;
  const long output = hostFrame - preRoll;
  values.clear();
  bool process = true;
  // A take counts its frames from the session's first: its pre-roll is the
  // session before the take, replayed.
  if (takePlayer) {
    takePlayer->Advance(hostFrame);
    values = takePlayer->Values();
    process = !takePlayer->Paused();
  }
  // Ramps run from their first value at the first output frame to their
  // last at the last; the pre-roll holds the first, a single frame the last.
  double progress = 0.0;
  if (output >= 0) progress = outputs > 1 ? static_cast<double>(output) / static_cast<double>(outputs - 1) : 1.0;
  controls.ValuesAt(progress, controlled);
  for (const ParameterValue& value : controlled) PutValue(values, value.index, value.value);
  if (output >= 0)
    for (const Layer& layer : layers) layer(output, values);
  return process;
}

}  // namespace tool
