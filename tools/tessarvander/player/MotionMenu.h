// The ~ button beside a slider of the panel: a motion locked to the tempo
// put on that parameter (a shape at a rate, or the beat, the beat's or the
// bar's phase) with its depth, or taken off. Dear ImGui, in the panel.
#pragma once

#include "player/ControlPanel.h"

namespace tool {

void MotionButton(const PanelState& state, const ParameterDescription& parameter, PanelInput& input);

}  // namespace tool
