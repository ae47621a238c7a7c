// The live beat grid: aubio's causal tracker finds the first beat and its
// period, then the grid predicts each next beat, so a beat is told as it
// sounds. The onset nearest a predicted beat moves the grid onto it; the
// period is refined as the slope of a line through the onsets of the last
// beats that had one; a grid whose onsets a quarter, a half or three
// quarters of a beat away are clearly the stronger moves there; a whole beat
// of silence, or eight beats
// without an onset, lets it go. Bars count from the first beat: live, no
// downbeat is told apart.
#pragma once

#include <array>
#include <deque>
#include <utility>

namespace tool {

class LiveBeatGrid {
 public:
  static constexpr int kBeatsPerBar = 4;

  // One hop at `now`: the onset found in it that may move the grid (or -1),
  // whether aubio told a beat, and when sound was last above the gate.
  // True when the grid locked in this hop.
  bool Hop(double now, double hopSeconds, double onset, bool aubioBeat, double lastSound);
  // The period a grid that is not locked starts at.
  void StartAt(double period) { this->period = period; }
  // The grid at a new tempo, its next beat a whole number of the new
  // periods after the strongest onset of the last two, or after the beat
  // last told.
  void TakeTempo(double newPeriod, double now);

  bool Locked() const { return locked; }
  double Period() const { return period; }
  double BeatsPerMinute() const { return beatsPerMinute; }
  // An onset this much weaker than those on the beats is soft: it never
  // moves the grid.
  bool Soft(double strength) const;
  // The latest beat or downbeat told; -1 before any.
  double LastBeat() const { return lastBeat; }
  double LastDownbeat() const { return lastDownbeat; }
  // Beats since the first one heard, at `now`, and as they stood at
  // `seconds` (within the last two seconds).
  double Beats(double now) const;
  double BeatsAt(double seconds, double now) const;
  // The last beat (every one, or only downbeats) at or before `seconds`
  // within the last two seconds; -1 if none.
  double LastTold(bool downbeatsOnly, double seconds) const;
  // Every onset heard, with its strength: weighed for the grid's phase, and
  // kept for anchoring a new tempo.
  void Heard(double onset, double strength);

 private:
  void Lock(double now, double onset);
  void WeighOnset(double onset, double strength);
  void WeighPhase();
  void StartBeat(double now);
  void Emit(double now);

  bool locked = false;
  double period = 0.0;        // seconds a beat
  double beatsPerMinute = 0.0;
  double predicted = 0.0;     // when the beat last told was due
  double onBeat = -1.0;       // the onset nearest it, if any yet
  double early = -1.0;        // an onset shortly before the next beat
  double next = 0.0;          // when the next beat falls due
  double lastOnBeat = -1.0;   // the onset of the last beat that had one
  int beatsWithoutOnset = 0;
  // The onsets' strength by where they fall in the beat: on it, a quarter
  // after, half way, three quarters after; and how many were weighed.
  static constexpr int kPhaseZones = 4;
  std::array<double, kPhaseZones> zoneStrength{};
  int beatsWeighed = 0;
  double onStrength = 0.0;  // the onsets on the beats, for telling soft ones
  std::deque<std::pair<double, double>> fitted;  // (beat number, its onset) for the period
  std::deque<std::pair<double, double>> recentOnsets;  // (time, strength), the last seconds
  long beatCount = 0;
  double lastBeat = -1.0, lastDownbeat = -1.0;
  std::deque<std::pair<double, double>> beatsTold;  // (time, beat number), the last seconds
};

}  // namespace tool
