// The blend of two decks' pictures into one, as the crossfader stands: a
// linear dissolve, an additive crossfade (each picture at full strength over
// its half of the way), or the second picture keyed in by its luma (its
// bright parts first). At 0 the first picture, at 1 the second, exactly.
#pragma once

#include <string>

#include "hostkit/FrameTarget.h"
#include "formats/Takes.h"
#include "render/ScreenProgram.h"

namespace tool {

class Mixer {
 public:
  // In the drawing context. False with the driver's log.
  bool Create(std::string& error);
  // `out` (of the same size as both) gets first and second blended by `mix`.
  void Blend(const hostkit::FrameTarget& first, const hostkit::FrameTarget& second, float mix, tool::Blend blend,
             const hostkit::FrameTarget& out);

 private:
  ScreenProgram program;
};

}  // namespace tool
