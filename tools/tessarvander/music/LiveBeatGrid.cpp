#include "music/LiveBeatGrid.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "music/Median.h"

namespace tool {
namespace {

// An onset within this share of a period of a beat is on it.
constexpr double kOnBeat = 0.2;
constexpr int kBeatsToLetGo = 8;
// A slope this far off the period is a change for the tempo path to hear.
constexpr double kTempoChange = 0.03;
// Onsets a quarter, a half or three quarters of a beat away must be this
// much stronger than those on the beat, over about this many beats (and at
// least this many since the grid last moved or took a tempo), to move the
// grid to them.
constexpr double kOffBeatStronger = 1.5;
constexpr int kWeighedBeforeMoving = 8;
// How fast the strength of the onsets on the beats follows the last ones.
constexpr double kWeighing = 0.2;
// An onset weaker than this share of those on the beats is soft.
constexpr double kSoftOnset = 0.4;
// The period is the slope of a line fitted through the onsets of the last
// beats that had one, against their beat numbers: finer than the hops the
// onsets are placed on, where the median of their intervals flipped between
// two whole hops (165.4 and 170.5 a minute on a 169 track).
constexpr size_t kBeatsFitted = 24;
// What is kept of the beats told and the onsets heard.
constexpr double kKeptSeconds = 2.0;

// The slope of the line through (beat number, onset) fitted by least
// squares, then again without the onsets far off it (a syncopated hit the
// grid took for its beat): more than three times the median distance, and
// more than 4 ms.
double RobustSlope(const std::deque<std::pair<double, double>>& points) {
  const auto fit = [](const std::vector<std::pair<double, double>>& used, double& slope, double& intercept) {
    double n = 0.0, sx = 0.0, sy = 0.0, sxx = 0.0, sxy = 0.0;
    for (const auto& [x, y] : used) n += 1.0, sx += x, sy += y, sxx += x * x, sxy += x * y;
    slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    intercept = (sy - slope * sx) / n;
  };
  std::vector<std::pair<double, double>> used(points.begin(), points.end());
  double slope = 0.0, intercept = 0.0;
  fit(used, slope, intercept);
  std::vector<double> distances;
  for (const auto& [x, y] : used) distances.push_back(std::fabs(y - (intercept + slope * x)));
  const double reach = std::max(3.0 * Median(distances), 0.004);
  std::vector<std::pair<double, double>> kept;
  for (size_t i = 0; i < used.size(); ++i)
    if (distances[i] <= reach) kept.push_back(used[i]);
  if (kept.size() >= 4 && kept.size() < used.size()) fit(kept, slope, intercept);
  return slope;
}

}  // namespace

bool LiveBeatGrid::Soft(double strength) const { return locked && strength < kSoftOnset * onStrength; }

void LiveBeatGrid::Heard(double onset, double strength) {
  WeighOnset(onset, strength);
  recentOnsets.push_back({onset, strength});
}

bool LiveBeatGrid::Hop(double now, double hopSeconds, double onset, bool aubioBeat, double lastSound) {
  while (!recentOnsets.empty() && recentOnsets.front().first < now - kKeptSeconds) recentOnsets.pop_front();
  const double reach = kOnBeat * period;
  if (!locked) {
    if (!aubioBeat || period <= 0.0) return false;
    Lock(now, onset);
    return true;
  }
  if (onset >= 0.0) {
    // Of the onsets near a beat, before or after it, the nearest moves the
    // grid onto it: a sound just before the beat (a note's end, a pickup)
    // does not pull it early when the beat's own onset follows.
    if (std::fabs(onset - predicted) < reach && std::fabs(onset - predicted) < std::fabs(onBeat - predicted)) {
      onBeat = onset;
      next = onset + period;
    } else if (std::fabs(onset - next) < reach && (early < 0.0 || std::fabs(onset - next) < std::fabs(early - next))) {
      early = onset;
    }
  }
  // The beat falls due within this hop: it is told now, on time, unless a
  // whole beat has been silent.
  if (now + hopSeconds / 2.0 >= next) {
    if (now - lastSound > period || beatsWithoutOnset >= kBeatsToLetGo) {
      locked = false;
      beatsPerMinute = 0.0;
      return false;
    }
    StartBeat(now);
  }
  return false;
}

void LiveBeatGrid::Lock(double now, double onset) {
  locked = true;
  fitted.clear();
  zoneStrength.fill(0.0);
  beatsWeighed = 0;
  onStrength = 0.0;
  lastOnBeat = -1.0;
  beatsWithoutOnset = 0;
  beatsPerMinute = 60.0 / period;
  early = onset >= 0.0 && now - onset < kOnBeat * period ? onset : -1.0;
  next = now;
  StartBeat(now);
}

// A grid at the right tempo can sit off the beat: half a beat (on the
// off-beat hi-hats, which sound as regularly as the beats), or a sixteenth
// before it (on a march's pickup, whose beat then falls beyond the reach
// that moves the grid). The onsets are weighed as they come by the quarter
// of the beat they fall in; when a quarter away from the beat holds clearly
// the stronger ones, the grid moves there, and its next beat's onset puts
// it exactly on them.
void LiveBeatGrid::WeighOnset(double onset, double strength) {
  if (!locked || period <= 0.0) return;
  const double phase = (onset - predicted) / period - std::floor((onset - predicted) / period);
  const int zone = static_cast<int>(std::lround(phase * kPhaseZones)) % kPhaseZones;
  zoneStrength[zone] += strength;
  if (std::min(phase, 1.0 - phase) < kOnBeat) onStrength += (strength - onStrength) * kWeighing;
}

// Once a beat: the grid moves to a zone that holds clearly more than the
// beat's own (by a quarter back for the zone three quarters on), and the
// zones fade by a share, so each holds about the last kWeighedBeforeMoving
// beats' worth.
void LiveBeatGrid::WeighPhase() {
  if (++beatsWeighed >= kWeighedBeforeMoving) {
    int strongest = 0;
    for (int z = 1; z < kPhaseZones; ++z)
      if (zoneStrength[z] > zoneStrength[strongest]) strongest = z;
    if (strongest != 0 && zoneStrength[strongest] > kOffBeatStronger * zoneStrength[0]) {
      const int quarters = strongest <= kPhaseZones / 2 ? strongest : strongest - kPhaseZones;
      const double shift = period * quarters / kPhaseZones;
      next += shift;
      predicted += shift;
      onBeat = early = lastOnBeat = -1.0;
      fitted.clear();
      std::rotate(zoneStrength.begin(), zoneStrength.begin() + strongest, zoneStrength.end());
      beatsWeighed = 0;
    }
  }
  for (double& held : zoneStrength) held *= 1.0 - 1.0 / kWeighedBeforeMoving;
}

void LiveBeatGrid::TakeTempo(double newPeriod, double now) {
  period = newPeriod;
  zoneStrength.fill(0.0);  // where onsets fell in the old beat says nothing of the new one
  beatsWeighed = 0;
  beatsPerMinute = 60.0 / period;
  fitted.clear();
  onBeat = early = -1.0;
  double anchor = predicted, strongest = 0.0;
  for (const auto& [time, strength] : recentOnsets)
    if (time > now - 2.0 * period && strength > strongest) anchor = time, strongest = strength;
  next = anchor + period * (std::floor((now - anchor) / period) + 1.0);
}

// A beat told now, due at `next`: the last beat's onset, if it had one,
// refines the period (the slope of the line through the last onsets on
// beats).
void LiveBeatGrid::StartBeat(double now) {
  if (onBeat >= 0.0) {
    const double number = static_cast<double>(beatCount - 1);  // the beat the onset fell on
    if (!fitted.empty() && (number - fitted.back().first > 4.0 || onBeat <= fitted.back().second)) fitted.clear();
    fitted.push_back({number, onBeat});
    if (fitted.size() > kBeatsFitted) fitted.pop_front();
    if (fitted.size() >= 4) {
      const double slope = RobustSlope(fitted);
      if (std::fabs(slope / period - 1.0) < kTempoChange) {
        period = slope;
        beatsPerMinute = 60.0 / period;
      }
    }
    lastOnBeat = onBeat;
    beatsWithoutOnset = 0;
  } else {
    ++beatsWithoutOnset;
  }
  WeighPhase();
  predicted = next;
  onBeat = early;
  early = -1.0;
  next = (onBeat >= 0.0 ? onBeat : predicted) + period;
  Emit(now);
}

void LiveBeatGrid::Emit(double now) {
  lastBeat = now;
  if (beatCount % kBeatsPerBar == 0) lastDownbeat = now;
  ++beatCount;
  beatsTold.push_back({now, static_cast<double>(beatCount - 1)});
  while (!beatsTold.empty() && beatsTold.front().first < now - kKeptSeconds) beatsTold.pop_front();
}

double LiveBeatGrid::Beats(double now) const {
  if (beatCount == 0 || !locked) return 0.0;
  const double since = (now - lastBeat) / period;
  return static_cast<double>(beatCount - 1) + std::min(since, 0.999);
}

double LiveBeatGrid::BeatsAt(double seconds, double now) const {
  if (!locked || beatsTold.empty()) return Beats(now);
  for (auto beat = beatsTold.rbegin(); beat != beatsTold.rend(); ++beat)
    if (beat->first <= seconds) return beat->second + std::min((seconds - beat->first) / period, 0.999);
  return Beats(now);
}

double LiveBeatGrid::LastTold(bool downbeatsOnly, double seconds) const {
  for (auto beat = beatsTold.rbegin(); beat != beatsTold.rend(); ++beat) {
    if (beat->first > seconds) continue;
    if (!downbeatsOnly || static_cast<long>(beat->second) % kBeatsPerBar == 0) return beat->first;
  }
  return -1.0;
}

}  // namespace tool
