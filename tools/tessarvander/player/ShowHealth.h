// How the show is doing, for a monitor (OSC /tessarvander/status/...,
// OSCQuery, the remote): the frames of the flight, the frames drawn a
// second, the longest draw of the last minute, the memory the player holds,
// and the tempo and beat. Updated once a pass; the memory is read once a
// second.
#pragma once

#include <array>

#include "formats/OscAddresses.h"

namespace tool {

class ShowHealth {
 public:
  // After a pass, at the clock's `now`: the pass's draw (0 for none) and the
  // longest time between two of its process calls and the one before them.
  void Update(double now, long frames, double drawnPerSecond, double lastDraw, double longestGap);
  // The tempo shown (0 for none), whether a new one is heard but not yet
  // confirmed, whether it is locked, and the beat of the bar from 1 (0
  // without a tempo).
  void Tempo(double beatsPerMinute, bool changing, bool locked, int beatOfBar) {
    values[static_cast<size_t>(Health::Tempo)] = static_cast<float>(beatsPerMinute);
    values[static_cast<size_t>(Health::TempoChanging)] = changing ? 1.0f : 0.0f;
    values[static_cast<size_t>(Health::TempoLocked)] = locked ? 1.0f : 0.0f;
    values[static_cast<size_t>(Health::Beat)] = static_cast<float>(beatOfBar);
  }
  // 1 while the autopilot changes the looks, 2 while it waits after a
  // performer's change, 0 while it is off.
  void Autopilot(bool on, bool waiting) {
    values[static_cast<size_t>(Health::Autopilot)] = on ? (waiting ? 2.0f : 1.0f) : 0.0f;
  }
  float Value(Health which) const { return values[static_cast<size_t>(which)]; }
  const std::array<float, static_cast<size_t>(Health::Count)>& Values() const { return values; }

 private:
  static constexpr size_t kSeconds = 60;
  // The longest draw and gap of each of the last seconds.
  std::array<double, kSeconds> longestDrawIn{}, longestGapIn{};
  long second = -1;
  std::array<float, static_cast<size_t>(Health::Count)> values{};
};

// The memory the process holds (resident), in MiB.
double ResidentMebibytes();

}  // namespace tool
