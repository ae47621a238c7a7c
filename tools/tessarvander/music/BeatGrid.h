// The musical time of a track: its beats, which of them start bars, and where
// its sections change. Everything a reaction or the plugin asks of the music's
// time is answered here, from these lists alone.
#pragma once

#include <vector>

namespace tool {

class BeatGrid {
 public:
  BeatGrid() = default;
  // Beats in ascending seconds, each with its place in its bar (0 for the
  // first beat of a bar, up to beatsPerBar - 1).
  BeatGrid(std::vector<double> beats, std::vector<int> placeInBar, int beatsPerBar, std::vector<double> sections);

  const std::vector<double>& Beats() const { return beats; }
  const std::vector<double>& Downbeats() const { return downbeats; }
  const std::vector<double>& Sections() const { return sections; }
  int BeatsPerBar() const { return beatsPerBar; }

  // Beats on the first and third beat of a bar of four (every other beat,
  // counted from the downbeats); beats and the points halfway between; the
  // points halfway between beats.
  const std::vector<double>& HalfBeats() const { return halfBeats; }
  const std::vector<double>& DoubleBeats() const { return doubleBeats; }
  const std::vector<double>& Offbeats() const { return offbeats; }

  // The tempo at `seconds`, from the beats around it; 0 with fewer than two.
  double BeatsPerMinuteAt(double seconds) const;
  // The beat period at `seconds` (120 beats a minute when there is no grid).
  double PeriodAt(double seconds) const;
  // The tempo of the whole grid: the median of its intervals' tempi, so the
  // number printed is the one the beats keep.
  double BeatsPerMinute() const;
  // The slowest and fastest tempo the grid holds for at least a bar.
  void TempoRange(double& slowest, double& fastest) const;

  // 0 -> 1 between one beat and the next, 0 before the first and after the
  // last.
  float BeatPhase(double seconds) const;
  // 0 -> 1 over a bar, from the downbeats.
  float BarPhase(double seconds) const;
  // Beats into the music at `seconds`, counted from the first beat's bar,
  // so whole multiples of the bar fall on downbeats; 0 before the first beat.
  double Position(double seconds) const;

 private:
  std::vector<double> beats, downbeats, sections, halfBeats, doubleBeats, offbeats;
  std::vector<int> positionInBar;  // per beat
  int beatsPerBar = 4;
};

// The last time in `events` at or before `seconds`, or a negative value.
double LastEventAt(const std::vector<double>& events, double seconds);

}  // namespace tool
