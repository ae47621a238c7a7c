// The per-kernel stages as they shipped before the per-layer table, for the
// stage benchmark only.
#pragma once

namespace shaders {

extern const char* const previousVertex;
extern const char* const previousFragment;

}  // namespace shaders
