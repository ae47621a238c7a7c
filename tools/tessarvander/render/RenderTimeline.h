// What a render sends the plugin, frame by frame: a pre-roll that runs the
// flight ahead (--start), then the output frames, each with its parameter
// values (preset, --set and --ramp, a take, and any per-frame layer on top)
// and whether it is processed at all (a take's pauses are not). Everything
// is evaluated on the global frame index, whatever part of the render is
// written, so that a render split into parts draws exactly what the whole
// render would.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "formats/ParameterControls.h"
#include "formats/Takes.h"

namespace tool {

class RenderTimeline {
 public:
  RenderTimeline(const ParameterControls& controls, long preRollFrames, long outputFrames, const Take* take);

  // A layer applied last, per output frame: it may change or add values.
  using Layer = std::function<void(long outputFrame, std::vector<ParameterValue>& values)>;
  void AddLayer(Layer layer) { layers.push_back(std::move(layer)); }

  // The next host frame, in order: pre-roll frames first, then output frames.
  // Fills its values; answers whether the plugin processes it.
  bool Next(std::vector<ParameterValue>& values);
  // The host frame number of the frame Next() gave last, and whether it was
  // an output frame (and which).
  long HostFrame() const { return hostFrame; }
  long OutputFrame() const { return hostFrame - preRoll; }
  // The picture's level at that frame: 1 the picture, 0 black (a take's
  // blackout).
  float Level() const { return takePlayer ? takePlayer->Level() : 1.0f; }
  // A take's second deck: whether it plays one, its values at that frame,
  // and the crossfader between the decks.
  bool TwoDecks() const { return takePlayer && take->twoDecks; }
  const std::vector<ParameterValue>& SecondDeck() const { return takePlayer->SecondDeck(); }
  float Mix() const { return takePlayer ? takePlayer->Mix() : 0.0f; }
  Blend Blending() const { return takePlayer ? takePlayer->Blending() : Blend::Dissolve; }
  // Whether that frame renews the instances, over how many frames (-1: no).
  long Renewal() const { return takePlayer ? takePlayer->Renewal() : -1; }

 private:
  const ParameterControls& controls;
  long preRoll;
  long outputs;
  const Take* take;
  std::unique_ptr<TakePlayer> takePlayer;
  std::vector<Layer> layers;
  std::vector<ParameterValue> controlled;
  long hostFrame = -1;
};

}  // namespace tool
