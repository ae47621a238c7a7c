#include "music/BeatGrid.h"

#include <algorithm>
#include <cmath>

#include "music/Median.h"

namespace tool {
namespace {

constexpr double kDefaultPeriod = 0.5;  // 120 beats a minute

// Index of the last beat at or before `seconds`, or -1.
long BeatBefore(const std::vector<double>& beats, double seconds) {
  return static_cast<long>(std::upper_bound(beats.begin(), beats.end(), seconds) - beats.begin()) - 1;
}

}  // namespace

double LastEventAt(const std::vector<double>& events, double seconds) {
  const auto after = std::upper_bound(events.begin(), events.end(), seconds);
  return after == events.begin() ? -1.0 : *(after - 1);
}

BeatGrid::BeatGrid(std::vector<double> beatTimes, std::vector<int> placeInBar, int barLength,
                   std::vector<double> sectionTimes)
    : beats(std::move(beatTimes)),
      sections(std::move(sectionTimes)),
      positionInBar(std::move(placeInBar)),
      beatsPerBar(std::max(1, barLength)) {
  positionInBar.resize(beats.size(), 0);
  for (size_t i = 0; i < beats.size(); ++i) {
    if (positionInBar[i] == 0) downbeats.push_back(beats[i]);
    if (positionInBar[i] % 2 == 0) halfBeats.push_back(beats[i]);
    doubleBeats.push_back(beats[i]);
    if (i + 1 < beats.size()) {
      const double middle = 0.5 * (beats[i] + beats[i + 1]);
      offbeats.push_back(middle);
      doubleBeats.push_back(middle);
    }
  }
}

double BeatGrid::PeriodAt(double seconds) const {
  if (beats.size() < 2) return kDefaultPeriod;
  const long before = std::clamp(BeatBefore(beats, seconds), 0L, static_cast<long>(beats.size()) - 2);
  return beats[static_cast<size_t>(before) + 1] - beats[static_cast<size_t>(before)];
}

double BeatGrid::BeatsPerMinuteAt(double seconds) const { return beats.size() < 2 ? 0.0 : 60.0 / PeriodAt(seconds); }

double BeatGrid::BeatsPerMinute() const {
  if (beats.size() < 2) return 0.0;
  std::vector<double> intervals;
  for (size_t i = 1; i < beats.size(); ++i) intervals.push_back(beats[i] - beats[i - 1]);
  return 60.0 / Median(intervals);
}

void BeatGrid::TempoRange(double& slowest, double& fastest) const {
  slowest = fastest = BeatsPerMinute();
  // A bar's mean tempo, so one uneven interval does not count as a change.
  const size_t bar = static_cast<size_t>(beatsPerBar);
  for (size_t i = 0; i + bar < beats.size(); ++i) {
    const double tempo = 60.0 * static_cast<double>(bar) / (beats[i + bar] - beats[i]);
    slowest = std::min(slowest, tempo);
    fastest = std::max(fastest, tempo);
  }
}

float BeatGrid::BeatPhase(double seconds) const {
  const long before = BeatBefore(beats, seconds);
  if (before < 0 || before + 1 >= static_cast<long>(beats.size())) return 0.0f;
  const double start = beats[static_cast<size_t>(before)], end = beats[static_cast<size_t>(before) + 1];
  return static_cast<float>(std::clamp((seconds - start) / (end - start), 0.0, 1.0));
}

double BeatGrid::Position(double seconds) const {
  const long before = BeatBefore(beats, seconds);
  if (before < 0) return 0.0;
  // Counted from the bar of the first beat, so the downbeats fall on whole bars.
  return static_cast<double>(before + positionInBar.front()) + BeatPhase(seconds);
}

float BeatGrid::BarPhase(double seconds) const {
  const long before = BeatBefore(beats, seconds);
  if (before < 0 || before + 1 >= static_cast<long>(beats.size())) return 0.0f;
  const double within = BeatPhase(seconds);
  return static_cast<float>((positionInBar[static_cast<size_t>(before)] + within) / beatsPerBar);
}

}  // namespace tool
