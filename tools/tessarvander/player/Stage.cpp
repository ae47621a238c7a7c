#include "player/Stage.h"

#include <cmath>

namespace tool {

Stage::Stage(const ParameterControls& controls, const ParameterProfile& profile, const PlayerOptions& options)
    : live(controls, options.framesPerSecond),
      bank(options.bank),
      crossfadeFrames(std::lround(options.crossfadeSeconds * options.framesPerSecond)),
      transitionKind(options.transition),
      blackout(options.blackoutSeconds, options.framesPerSecond) {
  switchesAtMidpoint.assign(live.Values().size(), false);
  std::vector<bool> eases(live.Values().size(), false);
  for (size_t index = 0; index < switchesAtMidpoint.size(); ++index) {
    switchesAtMidpoint[index] = !profile.Choices(static_cast<uint32_t>(index)).empty();
    eases[index] = profile.Eases(static_cast<uint32_t>(index));
  }
  live.ShareBetweenDecks(eases);
}

bool Stage::Cue(size_t preset, std::string& why) {
  if (!Recallable(preset, why)) return false;
  cued = static_cast<long>(preset);
  return true;
}

bool Stage::Go(size_t& preset, std::string& why) {
  if (cued < 0) {
    why = "nothing is cued (Ctrl+1-9, 0 cues a look)";
    return false;
  }
  preset = static_cast<size_t>(cued);
  cued = -1;
  return Recall(preset, why);
}

bool Stage::Recallable(size_t preset, std::string& why) const {
  if (preset >= bank.Size() || bank.Empty(preset)) {
    why = bank.Size() == 0 ? "no bank of presets (--bank FOLDER)"
          : preset >= bank.Size()
              ? "no preset " + std::to_string(preset + 1) + " in the bank of " + std::to_string(bank.Size())
              : "preset " + std::to_string(preset + 1) + " is empty (Shift+" + std::to_string((preset + 1) % 10) +
                    " stores the look there)";
    return false;
  }
  return true;
}

bool Stage::Recall(size_t preset, std::string& why) { return Recall(preset, transitionKind, crossfadeFrames, why); }

bool Stage::Recall(size_t preset, Transition kind, long frames, std::string& why) {
  if (!Recallable(preset, why)) return false;
  bank.Recalled(preset);
  recalledName = bank.Name(preset);
  overlay.clear();
  const std::vector<ParameterValue>& look = bank.Values(preset);
  if (frames <= 0) {
    live.Apply(look);
  } else if (kind == Transition::Morph) {
    morph.Start(live.Values(), look, switchesAtMidpoint, frames);
  } else {
    // The look comes in on the other deck, over what the live one shows now,
    // and the changes go to it from now on.
    const int from = live.LiveDeck(), to = 1 - from;
    live.ApplyTo(to, live.AllValues(from));
    live.ApplyTo(to, look);
    live.SetLiveDeck(to);
    transition.Start(live.Mix(), static_cast<float>(to), frames);
    transitionBlend = static_cast<Blend>(kind);
  }
  return true;
}

void Stage::Open(size_t preset) {
  if (preset >= bank.Size() || bank.Empty(preset)) return;
  live.Apply(bank.Values(preset));
  bank.Recalled(preset);
  recalledName = bank.Name(preset);
}

void Stage::Overlaid(const std::string& file, size_t named) {
  overlay = file.substr(file.find_last_of('/') + 1) + " (" + std::to_string(named) + " of " +
            std::to_string(live.Values().size()) + " parameters)";
}

std::string Stage::LookName() const {
  if (overlay.empty()) return recalledName;
  return (recalledName.empty() ? "the plugin's defaults" : recalledName) + " with " + overlay + " over it";
}

bool Stage::SetBlackout(bool black) {
  if (black == blackout.GoingToBlack()) return false;
  blackout.Toggle();
  return true;
}

void Stage::StepFrame(const std::vector<ParameterValue>& reactions) {
  if (transition.Active()) live.SetMix(transition.Step(), transitionBlend);
  if (morph.Active()) {
    morph.Step(morphValues);
    live.Apply(morphValues);
  }
  live.Apply(reactions);
  blackout.Step();
  live.SetLevel(blackout.Level());
}

void Stage::Dissolve::Start(float start, float end, long length) {
  from = start;
  to = end;
  frames = std::max(1L, length);
  frame = 0;
}

float Stage::Dissolve::Step() {
  ++frame;
  if (frame >= frames) return to;
  const double t = static_cast<double>(frame) / static_cast<double>(frames);
  const double eased = t * t * (3.0 - 2.0 * t);  // smooth at both ends
  return static_cast<float>(from + (static_cast<double>(to) - from) * eased);
}

}  // namespace tool
