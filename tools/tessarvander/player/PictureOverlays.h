// What the player draws over the picture in its window (never on the
// audience's output): the key list (H), the quit question, and the newest
// message when the panel is hidden. Dear ImGui, in the panel's frame.
#pragma once

#include "player/ControlPanel.h"

namespace tool {

// The overlays a frame shows; `panelShown`: the panel is drawn too.
void DrawOverlays(const PanelState& state, bool panelShown);

}  // namespace tool
