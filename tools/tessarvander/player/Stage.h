// The look on stage, frame by frame: every parameter's value on both decks
// (LiveState), the bank of looks, the transition into a recalled look (a
// dissolve from one deck to the other, or a morph of the values on one; the
// decks share the values that move the travel, so a dissolve ends on the
// very picture a cut would have given), the
// live reactions laid over everything, and the blackout's fade. No GL here:
// the player draws what this holds, and the tests step it as it is.
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
  PresetBank& Bank() { return bank; }

  // Recalls look `preset` of the bank: at once, or over the crossfade (the
  // look comes in on the other deck, or, morphing, its values ease in on
  // this one). False with the reason in `why` when there is no such look.
  bool Recall(size_t preset, std::string& why);
  // The same by a transition of its own over `frames` (0: a cut), as a cue
  // asks; a dissolve needs the second deck the player started.
  bool Recall(size_t preset, Transition kind, long frames, std::string& why);
  // Cues look `preset` (the preview shows it) until Go sends it out as a
  // recall does. False with the reason when there is no such look, or,
  // for Go, nothing cued.
  bool Cue(size_t preset, std::string& why);
  bool Go(size_t& preset, std::string& why);
  long Cued() const { return cued; }
  size_t NextPreset() const { return bank.Next(); }
  size_t PreviousPreset() const { return bank.Previous(); }
  bool Transitioning() const { return transition.Active() || morph.Active(); }
  // The look as the performer knows it: the bank's look last recalled, or,
  // after a preset file was laid over it, what that file named.
  std::string LookName() const;
  void Overlaid(const std::string& file, size_t named);
  // The show opens on a look of the bank, at once.
  void Open(size_t preset);

  // Starts the fade to black or back; false when it is going that way already.
  bool SetBlackout(bool black);
  bool GoingToBlack() const { return blackout.GoingToBlack(); }
  // The picture's level: 1 the picture, 0 black.
  float Level() const { return blackout.Level(); }
  // How much of the picture a deck makes now, 0..1.
  float Weight(int deck) const { return deck == 0 ? 1.0f - live.Mix() : live.Mix(); }

  // The values of the next frame of the flight: the transition's step, then
  // the reactions over the live deck; and the blackout's step.
  void StepFrame(const std::vector<ParameterValue>& reactions);

 private:
  bool Recallable(size_t preset, std::string& why) const;

  // The crossfader's move from one deck to the other.
  class Dissolve {
   public:
    void Start(float from, float to, long frames);
    bool Active() const { return frame < frames; }
    float Step();  // the crossfader for the next frame

   private:
    float from = 0.0f, to = 0.0f;
    long frames = 0, frame = 0;
  };

  LiveState live;
  PresetBank bank;  // recalls change which look was last
  const long crossfadeFrames;
  const Transition transitionKind;
  Dissolve transition;
  Blend transitionBlend = Blend::Dissolve;  // the dissolve running now
  Crossfade morph;
  std::vector<bool> switchesAtMidpoint;  // per parameter: banded
  std::vector<ParameterValue> morphValues;
  Blackout blackout;
  long cued = -1;            // the look cued to go next, or -1
  std::string recalledName;  // the bank's look last recalled
  std::string overlay;       // a preset file laid over it since, and what it named
};

}  // namespace tool
