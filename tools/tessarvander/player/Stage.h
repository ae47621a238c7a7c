// The look on stage, frame by frame: every parameter's value (LiveState),
// the bank of looks and the crossfade into a recalled one, the live
// reactions laid over them, and the blackout's fade. No GL here: the player
// draws what this holds, and the tests step it as it is.
#pragma once

#include <string>
#include <vector>

#include "formats/ParameterProfile.h"
#include "player/LiveState.h"
#include "player/PlayerOptions.h"
#include "player/PresetBank.h"
#include "player/StageControls.h"

namespace tool {

class Stage {
 public:
  Stage(const ParameterControls& controls, const ParameterProfile& profile, const PlayerOptions& options);

  LiveState& Live() { return live; }
  const LiveState& Live() const { return live; }
  const PresetBank& Bank() const { return bank; }

  // Recalls look `preset` of the bank: at once, or eased in over the
  // crossfade. False with the reason in `why` when there is no such look.
  bool Recall(size_t preset, std::string& why);
  size_t NextPreset() const { return bank.Next(); }
  size_t PreviousPreset() const { return bank.Previous(); }

  // Starts the fade to black or back; false when it is going that way already.
  bool SetBlackout(bool black);
  bool GoingToBlack() const { return blackout.GoingToBlack(); }
  // The picture's level: 1 the picture, 0 black.
  float Level() const { return blackout.Level(); }

  // The values of the next frame of the flight: the crossfade's step, then
  // the reactions over everything; and the blackout's step.
  void StepFrame(const std::vector<ParameterValue>& reactions);

 private:
  LiveState live;
  PresetBank bank;  // recalls change which look was last
  const long crossfadeFrames;
  Crossfade crossfade;
  std::vector<bool> switchesAtMidpoint;  // per parameter: banded
  std::vector<ParameterValue> fadeValues;
  Blackout blackout;
};

}  // namespace tool
