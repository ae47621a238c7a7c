// The picture of a show: one deck, or two (two instances of the plugin that
// step together, frame for frame, from the first frame on), blended as the
// crossfader stands, at the blackout's level. A frame draws a deck at full
// size only while it shows; otherwise it is advanced at one pixel, so its
// clock and eased values are always where the other's are. The player and
// the render of a take both draw through this, so a take re-renders what the
// audience saw.
//
// A long show renews its instances: the plugin's travel clock is a float
// that loses precision as it grows (player/TravelRenewal.h). Renew starts
// fresh instances beside the old ones, given the same values frame by
// frame; once their eased values have settled (kSettleFrames) the picture
// dissolves into them, and they take the old ones' place.
#pragma once

#include <memory>
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
  // Frames a fresh instance is given before it is seen: its eased values
  // close 5 % of the way a frame, so within 0.3 % of where they go.
  static constexpr long kSettleFrames = 120;

  Decks();
  ~Decks();
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

  // Fresh instances from the next frame on, dissolved in over
  // `dissolveFrames` after they settle. False with one line.
  bool Renew(long dissolveFrames, std::string& error);
  bool Renewing() const { return fresh != nullptr; }

  // The picture of the last frame drawn.
  const hostkit::FrameTarget& Picture() const { return *picture; }
  const FrameLoop& Deck(int deck) const { return current->decks[deck]; }
  bool Two() const { return two; }
  int Width() const { return current->decks[0].Width(); }
  int Height() const { return current->decks[0].Height(); }

 private:
  // A deck or two and their blend.
  struct Set {
    FrameLoop decks[2];
    hostkit::FrameTarget blended;
    const hostkit::FrameTarget* picture = nullptr;
  };
  bool StartSet(Set& set, int width, int height, std::string& error);
  bool ResizeSet(Set& set, int width, int height, std::string& error);
  bool FrameSet(Set& set, long frame, const Look& look, bool drawn);

  const HostSession* session = nullptr;
  double framesPerSecond = 60.0;
  bool two = false;
  float beatsPerMinute = 0.0f, barPhase = 0.0f;
  bool beatSet = false;
  std::unique_ptr<Set> current, fresh;
  long renewedFrames = 0, renewDissolve = 0;  // frames since Renew, and the dissolve's
  hostkit::FrameTarget renewing;  // the old and the fresh picture, blended
  const hostkit::FrameTarget* picture = nullptr;
  Mixer mixer;
  Dimmer dimmer;
};

}  // namespace tool
