#include "player/MotionMenu.h"

#include <imgui.h>

#include <algorithm>
#include <string>

namespace tool {
namespace {

const ImVec4 kLit(0.8f, 0.5f, 0.1f, 1);

// The motions a slider can be given, with the rates offered for the shapes.
const AudioFeature kMotions[] = {AudioFeature::LfoSine,   AudioFeature::LfoTriangle, AudioFeature::LfoSaw,
                                 AudioFeature::LfoSquare, AudioFeature::LfoRandom,   AudioFeature::Beat,
                                 AudioFeature::BeatPhase, AudioFeature::BarPhase};
struct Rate {
  const char* name;
  MusicalSpan span;
};
const Rate kRates[] = {{"1/4 beat", {0.25, true, false}}, {"1/2 beat", {0.5, true, false}}, {"1 beat", {1, true, false}},
                       {"2 beats", {2, true, false}},     {"1 bar", {1, false, true}},      {"2 bars", {2, false, true}},
                       {"4 bars", {4, false, true}}};

}  // namespace

// The motion on a slider: a small button, lit while one moves it, that opens
// the choice of shape, rate and depth.
void MotionButton(const PanelState& state, const ParameterDescription& parameter, PanelInput& input) {
  const Reaction* moving = nullptr;
  if (state.reactions)
    for (const Reaction& reaction : *state.reactions)
      if (reaction.index == parameter.index) moving = &reaction;
  if (moving) ImGui::PushStyleColor(ImGuiCol_Button, kLit);
  if (ImGui::Button("~")) ImGui::OpenPopup("motion");
  if (moving) ImGui::PopStyleColor();
  if (ImGui::IsItemHovered())
    ImGui::SetTooltip("%s", moving ? (std::string("moved by ") + AudioFeatureName(moving->feature)).c_str()
                                   : "move it with the tempo");
  if (!ImGui::BeginPopup("motion")) return;
  Reaction reaction;
  const float value = (*state.values)[parameter.index];
  if (moving) {
    reaction = *moving;
  } else {
    reaction.index = parameter.index;
    reaction.feature = AudioFeature::LfoSine;
    reaction.from = std::max(0.0f, value - 0.1f);
    reaction.to = std::min(1.0f, value + 0.1f);
  }
  bool changed = false;
  for (AudioFeature motion : kMotions)
    if (ImGui::RadioButton(AudioFeatureName(motion), moving && reaction.feature == motion))
      reaction.feature = motion, changed = true;
  if (IsShape(reaction.feature)) {
    ImGui::Separator();
    for (const Rate& rate : kRates) {
      const bool chosen = moving && reaction.rate.amount == rate.span.amount && reaction.rate.inBars == rate.span.inBars;
      if (ImGui::RadioButton(rate.name, chosen)) reaction.rate = rate.span, changed = true;
    }
  }
  float centre = 0.5f * (reaction.from + reaction.to), depth = 0.5f * (reaction.to - reaction.from);
  ImGui::SetNextItemWidth(150);
  if (ImGui::SliderFloat("depth", &depth, 0.0f, 0.5f, "%.3f")) {
    reaction.from = std::max(0.0f, centre - depth);
    reaction.to = std::min(1.0f, centre + depth);
    changed = true;
  }
  if (changed) input.putReaction = reaction;
  if (moving && ImGui::Button("take it off")) {
    input.removeReaction = parameter.index;
    ImGui::CloseCurrentPopup();
  }
  ImGui::EndPopup();
}

}  // namespace tool
