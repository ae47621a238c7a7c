// Section changes as the music is heard, bar by bar: the bar just heard is
// compared with the bars before it (the level and the three bands, each in
// units of how much it has varied from bar to bar so far). A bar whose
// sound stands far from the last bars' (a break, a drop, a new part) is the
// first of a new section; so is sound coming back after a silent bar. The
// change is known when its first bar has been heard whole, so the
// autopilot acts on it at the next downbeat.
#pragma once

#include <cstddef>
#include <deque>

namespace tool {

// A bar's sound: the mean over its frames of the level and the three
// bands, in dB.
struct BarSound {
  float level = 0.0f, bass = 0.0f, mid = 0.0f, treble = 0.0f;
};

class LiveSections {
 public:
  // Bars compared with the one just heard, and bars heard before a first
  // change can be told; changes closer together than kShortestSection bars
  // are one change.
  static constexpr size_t kBarsBefore = 4;
  static constexpr size_t kShortestSection = 4;
  // How far, in units of the bars' usual spread, the bar must stand from
  // the bars before it; with the spread's floor, chosen on whole real songs
  // against the sections the track's analysis finds (nearly every live one
  // near one of those, two thirds of those heard).
  static constexpr double kNewSection = 1.4;
  // Quieter than this is a silent bar, dB.
  static constexpr float kSilentLevel = -60.0f;
  // Less change from bar to bar than this is taken as this, dB.
  static constexpr double kLeastSpread = 2.0;

  // A bar heard whole: true when it starts a new section.
  bool BarEnded(const BarSound& bar);
  // The bar just heard's loudness over the bars' before it, as a ratio of
  // amplitudes (1 with nothing before): above 1 the music got louder.
  double LevelRatio() const { return levelRatio; }
  void Reset() { *this = LiveSections(); }

 private:
  std::deque<BarSound> before;  // the last bars, newest last
  double spread[4] = {0, 0, 0, 0};  // the mean change of each band from one bar to the next
  long barsHeard = 0;
  long sinceChange = 0;
  double levelRatio = 1.0;
};

}  // namespace tool
