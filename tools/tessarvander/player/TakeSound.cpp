#include "player/TakeSound.h"

#include <algorithm>
#include <cmath>

namespace tool {

bool TakeSound::Start(const std::string& takePath, const std::string& folder, int sampleRate, double fps,
                      std::string& error) {
  framesPerSecond = fps;
  return journal.Open(takePath.empty() ? "" : TakeSoundPath(takePath), folder, sampleRate, error);
}

size_t TakeSound::SampleOf(long frame) const {
  return static_cast<size_t>(std::llround(static_cast<double>(frame) * journal.SampleRate() / framesPerSecond));
}

void TakeSound::FrameShown(long frame, double heard) {
  if (!Recording()) return;
  // A sound known during a frame's span reaches the picture at the next
  // frame: the file goes with the frame before, and a pulse lands with its
  // sound rather than after it.
  const double sample = heard - journal.SampleRate() / framesPerSecond;
  const double expected = anchor + static_cast<double>(SampleOf(frame));
  if (!anchored || std::fabs(expected - sample) > kSlip * journal.SampleRate()) {
    anchor = sample - static_cast<double>(SampleOf(frame));
    anchored = true;
  }
}

void TakeSound::Catch(long framesShown, const StageRig& rig) {
  if (!Recording() || !anchored) return;
  const size_t wanted = SampleOf(framesShown);
  while (journal.Samples() < wanted) {
    const double source = anchor + static_cast<double>(journal.Samples());
    const size_t count = std::min<size_t>(wanted - journal.Samples(), 4096);
    scratch.assign(count, 0.0f);
    size_t there = count;
    // Before the capture's first sample, silence; after its last, later.
    if (source < 0.0) there = std::min(count, static_cast<size_t>(std::ceil(-source)));
    else there = rig.RecentSound(static_cast<uint64_t>(std::llround(source)), count, scratch.data());
    if (there == 0) return;
    journal.Append(scratch.data(), there);
    if (there < count) return;
  }
}

void TakeSound::WriteTake(const std::string& takePath, long first, long end) {
  journal.WriteTake(TakeSoundPath(takePath), SampleOf(first), SampleOf(end));
}

}  // namespace tool
