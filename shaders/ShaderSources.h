// The plugin's shader stages as constant text, generated at build time from
// tessarvander.vert.glsl, tessarvander.frag.glsl and tessarvander.layers.glsl
// (the stage that fills the per-layer table), each with
// tessarvander.common.glsl inserted after its version line.
#pragma once

namespace shaders {

extern const char* const tessarvanderVertex;
extern const char* const tessarvanderFragment;
extern const char* const tessarvanderLayers;

}  // namespace shaders
