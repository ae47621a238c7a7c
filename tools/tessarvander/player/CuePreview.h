// The look cued to go next (Ctrl+1-9, 0; OSC preset/cue), drawn small
// beside the show for the performer: a third instance of the plugin, made
// when a look is first cued, flying on a clock of its own (it shows the
// look as it moves, not the very moment it will go out at). It draws every
// kDrawEvery-th frame of the flight and advances at one pixel in between;
// on a two-core CPU renderer its picture costs a few milliseconds a draw
// (docs/stage.md). About once a second a new picture goes to the remote as
// a PNG.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "render/FrameLoop.h"

namespace tool {

class CuePreview {
 public:
  static constexpr int kWidth = 192;
  static constexpr int kDrawEvery = 4;
  static constexpr double kSentEvery = 1.0;

  // Once a frame of the flight while a look is cued, with its values; the
  // output's size gives the preview's shape. False with one line when the
  // instance cannot be made or fails.
  bool Frame(const HostSession& session, int outputWidth, int outputHeight, double framesPerSecond,
             const std::vector<ParameterValue>& look, std::string& error);
  // Whether a picture of the look cued now is drawn.
  bool Drawn() const { return drawn; }
  // Nothing cued: the next look cued is drawn before it shows.
  void Clear() { drawn = false; }
  const hostkit::FrameTarget& Picture() const { return deck.Target(); }
  // A new picture as PNG bytes, at most once a kSentEvery of `now`; null
  // between.
  std::shared_ptr<const std::string> Thumbnail(double now);

 private:
  FrameLoop deck;
  bool started = false;
  bool drawn = false;
  long frames = 0;
  double sentAt = -1e9;
};

}  // namespace tool
