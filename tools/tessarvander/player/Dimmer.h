// Darkens the picture in the bound frame buffer by a factor, for the
// blackout: one triangle over the viewport, blended as picture x level, so
// level 0 is exactly black. The GL state it changes is put back.
#pragma once

#include <string>

namespace tool {

class Dimmer {
 public:
  Dimmer() = default;
  ~Dimmer();
  Dimmer(const Dimmer&) = delete;
  Dimmer& operator=(const Dimmer&) = delete;

  // In the player's context. False with the driver's log.
  bool Create(std::string& error);
  void Apply(float level);

 private:
  unsigned program = 0;
  unsigned vertexArray = 0;
};

}  // namespace tool
