#include "player/CuePreview.h"

#include <algorithm>
#include <cmath>

#include "output/PngWriter.h"

namespace tool {

bool CuePreview::Frame(const HostSession& session, int outputWidth, int outputHeight, double framesPerSecond,
                       const std::vector<ParameterValue>& look, std::string& error) {
  if (!started) {
    const int height = std::max(2, static_cast<int>(std::lround(kWidth * static_cast<double>(outputHeight) /
                                                                std::max(1, outputWidth))));
    if (!deck.Start(session, kWidth, height, framesPerSecond, error)) {
      error = "the cue's preview: " + error;
      return false;
    }
    started = true;
  }
  // A new look draws at once; then every kDrawEvery-th frame.
  const bool draw = !drawn || frames % kDrawEvery == 0;
  if (!(draw ? deck.Draw(frames, look) : deck.Advance(frames, look))) {
    error = "the cue's preview: the plugin failed a frame";
    return false;
  }
  ++frames;
  drawn = drawn || draw;
  return true;
}

std::shared_ptr<const std::string> CuePreview::Thumbnail(double now) {
  if (!drawn || now - sentAt < kSentEvery) return nullptr;
  sentAt = now;
  const std::vector<uint8_t> pixels = deck.Target().ReadRgba8();
  return std::make_shared<const std::string>(EncodePng(pixels.data(), deck.Width(), deck.Height()));
}

}  // namespace tool
