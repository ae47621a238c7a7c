// What the performer keeps of the show, besides the show itself: stills
// (S, OSC), a video of the output (R) and takes (T). Stills and the video take the picture alone, at the output's
// full size, before the panel is drawn over it; a still asked for while the
// preview is scaled waits for the next frame drawn at full size.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hostkit/FrameTarget.h"
#include "output/VideoSink.h"
#include "player/Clock.h"
#include "player/Backstage.h"
#include "player/Console.h"
#include "player/LiveState.h"
#include "player/PlayerOptions.h"
#include "render/ReadbackPipeline.h"

namespace tool {

class Captures {
 public:
  // How long a frame waits for an encoder that lags, in seconds of wall time.
  static constexpr double kEncoderPatience = 0.25;

  // Stills are written by `backstage`, off the frame loop.
  Captures(const PlayerOptions& options, Console& console, const Clock& clock, Backstage& backstage);
  ~Captures();
  Captures(const Captures&) = delete;
  Captures& operator=(const Captures&) = delete;

  // A still under a stamped name in --out (S).
  void AskForStill();
  // A still named from outside (OSC): a new file in --out, at most one a
  // pass; the rest are counted and said once by NewPass.
  bool AskForStill(const std::string& name, std::string& error);
  // A pass of the loop begins: the one-still-a-pass limit starts again.
  void NewPass();
  void ToggleVideo();
  void ToggleTake(LiveState& live);

  // True while a still or a video waits for the picture at full size.
  bool WantsFullSize(bool paused) const;
  // The picture changed size: a video in progress ends.
  void PictureResized();
  // After the pass's frames, with the picture as shown: the stills asked for
  // (when `full` and a frame was drawn, or paused), and a video asked for
  // starts. `frame` is the flight's frame, for what is said.
  void Save(const hostkit::FrameTarget& picture, bool full, bool drew, bool paused, long frame);
  // A frame of the flight went by: the video takes the picture, drawn or (a
  // frame advanced at one pixel) as it was, so it lasts the wall time it covers.
  void FrameWentBy(const hostkit::FrameTarget& picture);
  bool Recording() const { return videoSink != nullptr; }
  // Ends the video in progress and says where it is.
  void StopVideo(const std::string& why = "");

 private:
  void SaveStill(const hostkit::FrameTarget& picture, const std::string& path, long frame);
  void StartVideo(const hostkit::FrameTarget& picture);
  std::string StampedName(const std::string& extension);

  const PlayerOptions& options;
  Console& console;
  const Clock& clock;
  Backstage& backstage;

  std::vector<std::string> stillPaths;  // asked for, not yet saved
  bool outsideStillThisPass = false;
  long refusedStills = 0;
  bool stillWaitSaid = false;

  bool videoWanted = false;
  std::string videoPath;
  std::unique_ptr<VideoSink> videoSink;
  std::unique_ptr<ReadbackPipeline> readback;
  long videoFrames = 0;
  double videoStarted = 0.0;
  int stamped = 0;
};

}  // namespace tool
