// The plugin's two shader stages as constant text, generated at build time
// from tessarvander.vert.glsl and tessarvander.frag.glsl, each with
// tessarvander.common.glsl inserted after its version line.
#pragma once

namespace shaders {

extern const char* const tessarvanderVertex;
extern const char* const tessarvanderFragment;

}  // namespace shaders
