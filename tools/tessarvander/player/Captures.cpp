#include "player/Captures.h"

#include <cstdio>
#include <ctime>

#include "sys/OutputFile.h"
#include "output/StillSink.h"

namespace tool {

Captures::Captures(const PlayerOptions& options, Console& console, const Clock& clock, Backstage& backstage)
    : options(options), console(console), clock(clock), backstage(backstage) {}

Captures::~Captures() { StopVideo(); }

// "tessarvander-20261207-231500-1.png": the files a session saves.
std::string Captures::StampedName(const std::string& extension) {
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", std::localtime(&now));
  const std::string& folder = options.outFolder;
  return (folder.empty() ? "" : folder + "/") + "tessarvander-" + stamp + "-" + std::to_string(++stamped) + extension;
}

void Captures::AskForStill() { stillPaths.push_back(StampedName(".png")); }

bool Captures::AskForStill(const std::string& name, std::string& error) {
  if (outsideStillThisPass) {
    ++refusedStills;
    return true;
  }
  std::string path;
  if (!OutsideName(options.outFolder.empty() ? "." : options.outFolder, name, ".png", path, error)) return false;
  outsideStillThisPass = true;
  stillPaths.push_back(path);
  return true;
}

void Captures::NewPass() {
  if (refusedStills > 0)
    console.Problem("OSC: refused " + std::to_string(refusedStills) + " still request" + (refusedStills > 1 ? "s" : "") +
                    ": one still a frame");
  outsideStillThisPass = false;
  refusedStills = 0;
}

void Captures::ToggleVideo() {
  if (Recording()) StopVideo();
  else videoWanted = true;
}

bool Captures::WantsFullSize(bool paused) const {
  // While paused the picture cannot be drawn again, so it keeps its size.
  return Recording() || (!paused && (!stillPaths.empty() || videoWanted));
}

void Captures::PictureResized() {
  if (Recording()) StopVideo("the picture changed size");
}

void Captures::Save(const hostkit::FrameTarget& picture, bool full, bool drew, bool paused, long frame) {
  if (full && (drew || paused)) {
    for (const std::string& path : stillPaths) SaveStill(picture, path, frame);
    stillPaths.clear();
  } else if (!stillPaths.empty() && paused && !stillWaitSaid) {
    console.Say("the still waits for play: the scaled preview cannot be drawn again at full size while paused");
    stillWaitSaid = true;
  }
  if (stillPaths.empty()) stillWaitSaid = false;
  if (videoWanted && full) {
    videoWanted = false;
    StartVideo(picture);
  }
}

void Captures::FrameWentBy(const hostkit::FrameTarget& picture) {
  if (!readback) return;
  // A moment's wait for an encoder that lags, never more: one that is stuck
  // (its disk frozen or full) ends the video with what it has.
  switch (readback->Submit(picture, videoFrames, kEncoderPatience)) {
    case ReadbackPipeline::Submitted::Queued: ++videoFrames; break;
    case ReadbackPipeline::Submitted::Stuck: StopVideo("the encoder stopped taking frames: is its disk full or stalled?"); break;
    case ReadbackPipeline::Submitted::Failed: StopVideo("the encoder stopped: " + readback->Error()); break;
  }
}

// The picture is read here; it is encoded and written off the frame loop.
void Captures::SaveStill(const hostkit::FrameTarget& picture, const std::string& path, long frame) {
  const int width = picture.Width(), height = picture.Height();
  std::vector<uint8_t> pixels = picture.ReadRgba8();
  const size_t bytes = pixels.size();
  backstage.Write(
      [pixels = std::move(pixels), path, width, height, frame]() -> Backstage::Outcome {
        std::string error;
        PngStillSink sink;
        if (!sink.Start(path, width, height, PngOptions(), error, OutputFile::Existing::Keep) ||
            !sink.Write(pixels.data(), 0, error) || !sink.Finish(error))
          return {true, "still: " + error};
        return {false, "saved still " + path + " (frame " + std::to_string(frame) + " of the flight, " +
                           std::to_string(width) + "x" + std::to_string(height) + ")"};
      },
      bytes, "still " + path);
}

void Captures::StartVideo(const hostkit::FrameTarget& picture) {
  std::string error;
  videoPath = StampedName(".mp4");
  auto sink = std::make_unique<VideoSink>();
  if (!sink->Start(videoPath, picture.Width(), picture.Height(), options.framesPerSecond, VideoSettings(), error)) {
    console.Problem("video: " + error);
    return;
  }
  videoSink = std::move(sink);
  readback = std::make_unique<ReadbackPipeline>(*videoSink, picture.Width(), picture.Height(), 3);
  videoFrames = 0;
  videoStarted = clock.Now();
  console.Say("recording video " + videoPath);
}

void Captures::StopVideo(const std::string& why) {
  if (!Recording()) return;
  std::string error;
  const bool written = readback->Finish();
  if (!written) error = readback->Error();
  readback.reset();
  char length[96];
  std::snprintf(length, sizeof length, "%ld frames, %.2f s of wall time", videoFrames, clock.Now() - videoStarted);
  if (!written || !videoSink->Finish(error)) console.Problem("video: " + error);
  else console.Say("saved video " + videoPath + " (" + length + (why.empty() ? "" : "; " + why) + ")");
  videoSink.reset();
}

void Captures::ToggleTake(LiveState& live) {
  if (!live.TakeRecording()) {
    live.StartTake();
    console.Say("recording take from frame " + std::to_string(live.TakeFirst()));
    return;
  }
  live.WriteTake(StampedName(".take"));  // said when written
}

}  // namespace tool
