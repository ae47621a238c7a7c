#include "music/BeatTracker.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "music/BarsAndSections.h"
#include "music/BeatPhase.h"
#include "music/Indexing.h"
#include "music/TempoPath.h"

namespace tool {
namespace {

// How hard the beats hold to the tempo against stronger onsets off the grid.
// Where the tempo is steady the path is exact to a fraction of a percent, so
// the beats hold to it: an interval 5 % off costs what a strong onset is
// worth, and a run of accents on the off-beat no longer pulls the grid over
// to them. Within kNearChange of a change of tempo the path's timing of the
// change is only as good as its windows, and the beats find it themselves.
constexpr double kSteadyTightness = 1000.0;
constexpr double kChangingTightness = 100.0;
constexpr double kNearChange = 4.0;     // seconds
constexpr double kSteadyPeriod = 0.01;  // the period's largest change there
// Sound separated by less silence than this is one stretch: sparse drums
// fall silent between hits.
constexpr double kLongestPause = 1.5;
// Each beat is fitted on a line with up to this many neighbours each side,
// of the same tempo within kSameTempo.
constexpr int kFitReach = 8;
constexpr double kHeardAfter = 0.1;
constexpr double kSameTempo = 0.04;

struct Stretch {
  long first = 0, end = 0;  // hops
};

// The stretches of sound, with pauses shorter than kLongestPause inside.
std::vector<Stretch> SoundStretches(const std::vector<uint8_t>& sound, double hopSeconds) {
  const long pause = std::lround(kLongestPause / hopSeconds);
  std::vector<Stretch> stretches;
  for (long h = 0; h < static_cast<long>(sound.size()); ++h) {
    if (!At(sound, h)) continue;
    if (!stretches.empty() && h - stretches.back().end < pause) stretches.back().end = h + 1;
    else stretches.push_back({h, h + 1});
  }
  // An onset's strength peaks just after the hop it starts in.
  const long tail = std::lround(0.05 / hopSeconds);
  for (Stretch& stretch : stretches) stretch.end = std::min(static_cast<long>(sound.size()), stretch.end + tail);
  return stretches;
}

// How hard the beats hold to the tempo at each hop.
std::vector<double> TightnessPerHop(const std::vector<double>& period, double hopSeconds) {
  const long n = Count(period), reach = std::lround(kNearChange / hopSeconds);
  std::vector<double> tightness(period.size(), kSteadyTightness);
  for (long h = 1; h < n; ++h) {
    if (std::fabs(At(period, h) / At(period, h - 1) - 1.0) <= kSteadyPeriod) continue;
    for (long k = std::max(0L, h - reach); k < std::min(n, h + reach); ++k) At(tightness, k) = kChangingTightness;
  }
  return tightness;
}

// The beats of one stretch, in hops (fractional), by dynamic programming:
// each hop's best score as the last beat of a chain is its onset plus the
// best score of a beat before it, less the squared log of the interval's
// distance from the period, times the tightness there.
std::vector<double> ChainOfBeats(const std::vector<double>& onset, const std::vector<double>& period,
                                 const std::vector<double>& tightness, Stretch stretch) {
  const long length = stretch.end - stretch.first;
  std::vector<double> score(static_cast<size_t>(length));
  std::vector<long> before(static_cast<size_t>(length), -1);
  for (long i = 0; i < length; ++i) {
    const long h = stretch.first + i;
    const double p = At(period, h);
    double best = -std::numeric_limits<double>::infinity();
    for (long j = std::max(0L, i - std::lround(2.0 * p)); j <= i - std::lround(0.5 * p); ++j) {
      const double deviation = std::log(static_cast<double>(i - j) / p);
      const double value = At(score, j) - At(tightness, h) * deviation * deviation;
      if (value > best) best = value, At(before, i) = j;
    }
    At(score, i) = At(onset, h) + (At(before, i) >= 0 ? best : 0.0);
  }
  // The last beat: the best-scoring hop within the last period.
  const long tail = std::max(0L, length - std::lround(At(period, stretch.end - 1)));
  long last = static_cast<long>(std::max_element(score.begin() + tail, score.end()) - score.begin());
  std::vector<double> beats;
  for (long i = last; i >= 0; i = At(before, i)) beats.push_back(static_cast<double>(stretch.first + i));
  std::reverse(beats.begin(), beats.end());

  // The grid carries on at the tempo to the edges of the sound.
  if (!beats.empty()) {
    while (beats.front() - At(period, static_cast<long>(beats.front())) >= static_cast<double>(stretch.first))
      beats.insert(beats.begin(), beats.front() - At(period, static_cast<long>(beats.front())));
    while (beats.back() + At(period, static_cast<long>(beats.back())) < static_cast<double>(stretch.end))
      beats.push_back(beats.back() + At(period, static_cast<long>(beats.back())));
  }
  return beats;
}

// A beat on an onset peak moves to the parabola's top between hops.
double RefinedHop(double beat, const std::vector<float>& strength) {
  const long h = std::lround(beat);
  if (beat != std::floor(beat) || h <= 0 || h + 1 >= static_cast<long>(strength.size())) return beat;
  const double left = At(strength, h - 1), middle = At(strength, h),
               right = At(strength, h + 1);
  const double curvature = left - 2.0 * middle + right;
  if (middle < left || middle < right || curvature >= 0.0) return beat;
  return beat + std::clamp(0.5 * (left - right) / curvature, -0.5, 0.5);
}

// Each beat replaced by the value at its place of a line fitted through it
// and its neighbours of the same tempo: a steady grid, finer than a hop.
std::vector<double> FittedOnLines(const std::vector<double>& times, const std::vector<double>& periods) {
  std::vector<double> fitted(times.size());
  const long count = static_cast<long>(times.size());
  for (long i = 0; i < count; ++i) {
    double n = 0.0, sx = 0.0, sy = 0.0, sxx = 0.0, sxy = 0.0;
    for (long j = std::max(0L, i - kFitReach); j <= std::min(count - 1, i + kFitReach); ++j) {
      if (std::fabs(At(periods, j) / At(periods, i) - 1.0) > kSameTempo) continue;
      const double x = static_cast<double>(j - i), y = At(times, j);
      n += 1.0, sx += x, sy += y, sxx += x * x, sxy += x * y;
    }
    const double determinant = n * sxx - sx * sx;
    At(fitted, i) =
        n >= 3.0 && determinant > 0.0 ? (sy * sxx - sx * sxy) / determinant : At(times, i);
  }
  return fitted;
}


// The tracked beats, in seconds, stretch by stretch; `stretchOf` tells each
// beat's stretch and `periodOf` the tempo path's period there (seconds).
std::vector<double> TrackedBeats(const OnsetCurve& curve, const std::vector<Stretch>& stretches,
                                 const std::vector<uint8_t>& inside, std::vector<int>& stretchOf,
                                 std::vector<double>& periodOf) {
  const std::vector<double> onset = EmphasisedOnsets(std::vector<double>(curve.strength.begin(), curve.strength.end()), inside, curve.hopSeconds);
  const std::vector<double> period = PeriodPerHop(onset, inside, curve.hopSeconds);
  const std::vector<double> tightness = TightnessPerHop(period, curve.hopSeconds);
  std::vector<double> beats;
  for (size_t s = 0; s < stretches.size(); ++s) {
    const std::vector<double> hops = ChainOfBeats(onset, period, tightness, stretches[s]);
    std::vector<double> times, periods;
    for (double beat : hops) {
      times.push_back(RefinedHop(beat, curve.strength) * curve.hopSeconds + kStrengthOffsetSeconds);
      periods.push_back(period[std::min(period.size() - 1, static_cast<size_t>(std::lround(beat)))]);
    }
    const std::vector<double> fitted = FittedOnLines(times, periods);
    for (size_t i = 0; i < fitted.size(); ++i) {
      const double time = std::max(0.0, fitted[i]);
      if (!beats.empty() && time <= beats.back()) continue;
      beats.push_back(time);
      stretchOf.push_back(static_cast<int>(s));
      periodOf.push_back(periods[i] * curve.hopSeconds);
    }
  }
  return beats;
}

// A fixed tempo's grid, at the phase where the onsets are strongest.
std::vector<double> GridAtTempo(const OnsetCurve& curve, const std::vector<uint8_t>& inside, double beatsPerMinute,
                                double firstBeat) {
  const double period = 60.0 / beatsPerMinute;
  const double trackSeconds = static_cast<double>(curve.strength.size()) * curve.hopSeconds;
  double phase = firstBeat;
  if (phase < 0.0) {
    const std::vector<double> onset = EmphasisedOnsets(std::vector<double>(curve.strength.begin(), curve.strength.end()), inside, curve.hopSeconds);
    double best = -1.0;
    for (double candidate = 0.0; candidate < period; candidate += curve.hopSeconds / 4.0) {
      double sum = 0.0;
      for (double t = candidate; t < trackSeconds; t += period) sum += At(onset, HopOf(t, curve));
      if (sum > best) best = sum, phase = candidate;
    }
  }
  std::vector<double> beats;
  for (long k = 0;; ++k) {
    const double t = phase + static_cast<double>(k) * period;
    if (t >= trackSeconds) break;
    if (At(inside, HopOf(t, curve))) beats.push_back(t);
  }
  return beats;
}

// Every other beat, on the parity where the bass hits harder; or the beats
// and the points halfway between.
std::vector<double> Rescaled(const std::vector<double>& beats, BeatScale scale, const OnsetCurve& curve) {
  std::vector<double> result;
  if (scale == BeatScale::Half) {
    double weight[2] = {0.0, 0.0};
    for (size_t i = 0; i < beats.size(); ++i) weight[i % 2] += curve.bassStrength[static_cast<size_t>(HopOf(beats[i], curve))];
    const size_t parity = weight[1] > weight[0] ? 1 : 0;
    for (size_t i = parity; i < beats.size(); i += 2) result.push_back(beats[i]);
  } else {
    for (size_t i = 0; i < beats.size(); ++i) {
      result.push_back(beats[i]);
      if (i + 1 < beats.size()) result.push_back(0.5 * (beats[i] + beats[i + 1]));
    }
  }
  return result;
}

}  // namespace

BeatGrid TrackBeats(const OnsetCurve& curve, const BeatOptions& options) {
  if (curve.strength.empty()) return BeatGrid();
  const std::vector<Stretch> stretches = SoundStretches(curve.sound, curve.hopSeconds);
  std::vector<uint8_t> inside(curve.strength.size(), 0);
  for (const Stretch& stretch : stretches) std::fill(inside.begin() + stretch.first, inside.begin() + stretch.end, 1);
  std::vector<double> beats;
  std::vector<int> stretchOf;
  if (options.beatsGiven) {
    beats = options.beats;
  } else if (options.beatsPerMinute > 0.0) {
    beats = GridAtTempo(curve, inside, options.beatsPerMinute, options.firstBeat);
  } else {
    std::vector<double> periodOf;
    beats = TrackedBeats(curve, stretches, inside, stretchOf, periodOf);
    FromWhereTheChainSettles(beats, stretchOf, periodOf);
    beats = OnTheBeat(beats, stretchOf, periodOf, curve);
  }
  if (!options.beatsGiven) {
    // No beat where nothing sounds: the grid is carried through quiet
    // passages, not through silence. A beat counts as heard when sound
    // starts with it or within kHeardAfter (a dip between two chords).
    const long after = std::lround(kHeardAfter / curve.hopSeconds);
    std::vector<double> audible;
    std::vector<int> audibleStretch;
    for (size_t i = 0; i < beats.size(); ++i) {
      const long h = static_cast<long>(std::floor(beats[i] / curve.hopSeconds));  // the hop the beat falls in
      // A rest inside a stretch of sound is no silence: the beat is played
      // by the music around it (the stretch goes on after it).
      bool heard = h >= 0 && h + after < static_cast<long>(inside.size()) && At(inside, h) && At(inside, h + after);
      for (long k = std::max(0L, h); k <= std::min(h + after, static_cast<long>(curve.sound.size()) - 1); ++k)
        heard = heard || At(curve.sound, k);
      if (!heard) continue;
      audible.push_back(beats[i]);
      if (i < stretchOf.size()) audibleStretch.push_back(stretchOf[i]);
    }
    beats.swap(audible);
    stretchOf.swap(audibleStretch);
  }
  if (options.scale != BeatScale::AsTracked) beats = Rescaled(beats, options.scale, curve);
  if (options.firstBeat >= 0.0) {
    const double period = beats.size() >= 2 ? beats[1] - beats[0] : 0.5;
    beats.erase(beats.begin(), std::lower_bound(beats.begin(), beats.end(), options.firstBeat - 0.25 * period));
  }
  // Beats the tracker did not place belong to the stretch of sound they
  // fall in.
  if (stretchOf.size() != beats.size()) {
    stretchOf.assign(beats.size(), 0);
    for (size_t i = 0; i < beats.size(); ++i) {
      const long h = HopOf(beats[i], curve);
      for (size_t s = 0; s < stretches.size(); ++s)
        if (h >= stretches[s].first) stretchOf[i] = static_cast<int>(s);
    }
  }
  const std::vector<int> place = PlacesInBars(beats, stretchOf, curve, options.beatsPerBar, options.firstBeat);
  std::vector<double> sections = SectionChanges(beats, place, stretchOf, curve);
  return BeatGrid(std::move(beats), place, options.beatsPerBar, std::move(sections));
}

}  // namespace tool
