// The picture of a show: one deck, or two (two instances of the plugin that
// step together, frame for frame, from the first frame on), blended as the
// crossfader stands, at the blackout's level. A frame draws a deck at full
// size only while it shows; otherwise it is advanced at one pixel, so its
// clock and eased values are always where the other's are. The player and
// the render of a take both draw through this, so a take re-renders what the
// audience saw.
#pragma once

#include <string>
#include <vector>

#include "hostkit/FrameTarget.h"
#include "formats/Takes.h"
#include "render/Dimmer.h"
#include "render/FrameLoop.h"
#include "render/Mixer.h"

namespace tool {

class Decks {
 public:
  // One deck, or two; at width x height. False with one line.
  bool Start(const HostSession& session, int width, int height, double framesPerSecond, bool two, std::string& error);
  bool Resize(int width, int height, std::string& error);
  void SetBeat(float beatsPerMinute, float barPhase);

  // What one frame shows.
  struct Look {
    const std::vector<ParameterValue>* first = nullptr;
    const std::vector<ParameterValue>* second = nullptr;  // with two decks
    float mix = 0.0f;  // 0 the first deck alone, 1 the second
    tool::Blend blend = tool::Blend::Dissolve;
    float level = 1.0f;  // the blackout: 1 the picture, 0 black
  };
  // Frame `frame`: drawn into the picture, or (`drawn` false) advanced at one
  // pixel on every deck. False when the plugin fails.
  bool Frame(long frame, const Look& look, bool drawn);

  // The picture of the last frame drawn.
  const hostkit::FrameTarget& Picture() const { return *picture; }
  const FrameLoop& Deck(int deck) const { return decks[deck]; }
  bool Two() const { return two; }
  int Width() const { return decks[0].Width(); }
  int Height() const { return decks[0].Height(); }

 private:
  FrameLoop decks[2];
  bool two = false;
  hostkit::FrameTarget blended;
  const hostkit::FrameTarget* picture = nullptr;
  Mixer mixer;
  Dimmer dimmer;
};

}  // namespace tool
