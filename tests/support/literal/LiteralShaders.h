// The fragment stage as it was first written, one pass per pixel for every
// value (and its pass-through vertex stage), kept verbatim: the reference
// that the shipped stages must draw the same picture as. Built into the tests
// and benchmarks only.
#pragma once

namespace shaders {

extern const char* const literalVertex;
extern const char* const literalFragment;

}  // namespace shaders
