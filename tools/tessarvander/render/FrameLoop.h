// One plugin instance driven frame by frame as a live host drives it, with
// the picture it draws. A frame is drawn at full size into the loop's target,
// or advanced at one pixel into a scratch frame: the plugin's clock and eased
// values move exactly as in a full frame, at almost no cost. Everything that
// only moves the flight on (a render's start, a take's earlier frames, the
// parts before a segment, a contact sheet's warm-up, the frames the player
// fell behind by) is advanced; only what is shown is drawn. What is drawn can
// be read back (ReadbackPipeline) while the next frames draw.
//
// render, sheet, the parts of a farmed render and the player all drive the
// plugin through this class. Every call needs the GL context the loop was
// started in.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hostkit/FrameTarget.h"
#include "formats/ParameterNames.h"
#include "session/FrameDriver.h"
#include "session/HostSession.h"

namespace tool {

class FrameLoop {
 public:
  FrameLoop() = default;
  ~FrameLoop();
  FrameLoop(const FrameLoop&) = delete;
  FrameLoop& operator=(const FrameLoop&) = delete;

  // Creates the instance, its target of width x height and the scratch
  // frame. False with one line.
  bool Start(const HostSession& session, int width, int height, double framesPerSecond, std::string& error);
  // A new size for the picture: a new target, and the instance is told.
  // A readback in progress must be finished first.
  bool Resize(int width, int height, std::string& error);

  // The tempo and bar phase told with the next frames.
  void SetBeat(float beatsPerMinute, float barPhase) { driver->SetBeat(beatsPerMinute, barPhase); }
  // Frame `frame` at one pixel: the flight moves on, nothing is shown.
  bool Advance(long frame, const std::vector<ParameterValue>& values);
  // Frame `frame` drawn at full size into the target.
  bool Draw(long frame, const std::vector<ParameterValue>& values);
  // Frame `frame` drawn into a region of another frame buffer (a cell of a
  // contact sheet).
  bool DrawInto(const hostkit::FrameTarget& other, int x, int y, int width, int height, long frame,
                const std::vector<ParameterValue>& values);

  const hostkit::FrameTarget& Target() const { return target; }
  const hostkit::PluginInstance& Instance() const { return *instance; }
  int Width() const { return target.Width(); }
  int Height() const { return target.Height(); }

 private:
  std::unique_ptr<hostkit::PluginInstance> instance;
  std::unique_ptr<FrameDriver> driver;
  hostkit::FrameTarget target;
  hostkit::FrameTarget scratch;  // 1x1, for frames advanced
};

}  // namespace tool
