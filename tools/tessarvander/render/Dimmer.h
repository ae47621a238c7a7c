// Darkens a picture by a factor, for the blackout, live and in the take's
// re-render alike: one triangle over the picture, blended as picture x level,
// so level 0 is exactly black. The GL state it changes is put back.
#pragma once

#include <string>

#include "hostkit/FrameTarget.h"
#include "render/ScreenProgram.h"

namespace tool {

class Dimmer {
 public:
  // In the drawing context. False with the driver's log.
  bool Create(std::string& error);
  void Apply(const hostkit::FrameTarget& picture, float level);

 private:
  ScreenProgram black;
};

}  // namespace tool
