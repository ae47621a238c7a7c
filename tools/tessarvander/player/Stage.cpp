#include "player/Stage.h"

#include <cmath>

namespace tool {

Stage::Stage(const ParameterControls& controls, const ParameterProfile& profile, const PlayerOptions& options)
    : live(controls, options.framesPerSecond),
      bank(options.bank),
      crossfadeFrames(std::lround(options.crossfadeSeconds * options.framesPerSecond)),
      blackout(options.blackoutSeconds, options.framesPerSecond) {
  switchesAtMidpoint.assign(live.Values().size(), false);
  for (size_t index = 0; index < switchesAtMidpoint.size(); ++index)
    switchesAtMidpoint[index] = !profile.Choices(static_cast<uint32_t>(index)).empty();
}

bool Stage::Recall(size_t preset, std::string& why) {
  if (preset >= bank.Size()) {
    why = bank.Size() == 0 ? "no bank of presets (--bank FOLDER)"
                           : "no preset " + std::to_string(preset + 1) + " in the bank of " + std::to_string(bank.Size());
    return false;
  }
  bank.Recalled(preset);
  if (crossfadeFrames > 0) crossfade.Start(live.Values(), bank.Values(preset), switchesAtMidpoint, crossfadeFrames);
  else live.Apply(bank.Values(preset));
  return true;
}

bool Stage::SetBlackout(bool black) {
  if (black == blackout.GoingToBlack()) return false;
  blackout.Toggle();
  return true;
}

void Stage::StepFrame(const std::vector<ParameterValue>& reactions) {
  live.Apply(reactions);
  if (crossfade.Active()) {
    crossfade.Step(fadeValues);
    live.Apply(fadeValues);
  }
  blackout.Step();
  live.SetLevel(blackout.Level());
}

}  // namespace tool
