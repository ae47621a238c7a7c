#include "music/BeatTracker.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace tool {
namespace {

// The onset strength of a hop is computed from the window that ends with
// that hop, so it peaks a little after the hop's own time: drums, measured
// on the synthetic kits of the tests, sound this long after the peak's hop.
constexpr double kStrengthOffsetSeconds = -0.007;

// The tempo: autocorrelation in windows this long, this far apart, and a
// preference for tempi near kPreferredTempo, falling by half an octave away.
constexpr double kTempoWindowSeconds = 8.0;
constexpr long kMultiples = kTempoMultiples;
constexpr double kHalfPenalty = 0.5;
constexpr double kTempoStepSeconds = 0.5;
constexpr double kPreferredTempo = 120.0;
constexpr double kTempoSpreadOctaves = 1.0;
// What changing tempo costs between two windows, per octave of change, in
// units of a typical window's evidence: a real change pays it back within a
// few windows; a break without drums never does.
constexpr double kTempoChangeCost = 3.0;

// The metrical level. The comb over every multiple of a period (1, 2, 3, 4)
// cannot tell the beat from a period in a 3:2 or 4:3 relation to it (three
// eighths, three half-beats) when the music is full of subdivisions: both
// line up with many onsets. The metre a period implies can: the onsets
// repeat at the period, at two and at four periods (the bar), and fall
// between the beats at half the period. A level in one of these relations
// to the path's replaces it where the metre it implies fits the onsets
// clearly better; the level chosen is then held steady over a few seconds.
constexpr double kRelatedLevels[] = {2.0 / 3.0, 3.0 / 4.0, 4.0 / 3.0, 3.0 / 2.0};
constexpr double kMetreLags[] = {0.5, 1.0, 2.0, 4.0};
constexpr double kLevelMargin = 1.25;
constexpr long kLevelSmoothingWindows = 4;  // each side, half a second apart
// The windows whose best evidence is the live path's unit.
constexpr size_t kFollowedWindows = 20;

// How hard the beats hold to the tempo against stronger onsets off the grid.
constexpr double kTightness = 100.0;
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
    if (!sound[static_cast<size_t>(h)]) continue;
    if (!stretches.empty() && h - stretches.back().end < pause) stretches.back().end = h + 1;
    else stretches.push_back({h, h + 1});
  }
  // An onset's strength peaks just after the hop it starts in.
  const long tail = std::lround(0.05 / hopSeconds);
  for (Stretch& stretch : stretches) stretch.end = std::min(static_cast<long>(sound.size()), stretch.end + tail);
  return stretches;
}

double TempoPreference(double lagHops, double hopSeconds) {
  const double octaves = std::log2(60.0 / (lagHops * hopSeconds) / kPreferredTempo) / kTempoSpreadOctaves;
  return std::exp(-0.5 * octaves * octaves);
}

// The tempi the path may take: steps of half a percent, evenly spaced in
// octaves, so a change costs the same at any tempo.
constexpr double kTempoStep = 0.005;

// The autocorrelation between whole lags, by straight lines.
double Between(const std::vector<double>& correlation, double lag) {
  const size_t below = static_cast<size_t>(lag);
  if (below + 1 >= correlation.size()) return 0.0;
  const double share = lag - static_cast<double>(below);
  return correlation[below] * (1.0 - share) + correlation[below + 1] * share;
}

// The best total reaching each tempo from the totals of the window before,
// less kTempoChangeCost per octave of change: a distance transform, two
// sweeps, instead of trying every pair.
void BestArrivals(const std::vector<double>& total, double costPerStep, std::vector<double>& best,
                  std::vector<int>& from) {
  const size_t states = total.size();
  best = total;
  from.resize(states);
  for (size_t s = 0; s < states; ++s) from[s] = static_cast<int>(s);
  for (size_t s = 1; s < states; ++s)
    if (best[s - 1] - costPerStep > best[s]) best[s] = best[s - 1] - costPerStep, from[s] = from[s - 1];
  for (size_t s = states - 1; s-- > 0;)
    if (best[s + 1] - costPerStep > best[s]) best[s] = best[s + 1] - costPerStep, from[s] = from[s + 1];
}

// How well a period's implied metre fits a window's onsets: the
// autocorrelation at half the period, the period, two and four periods,
// weighted by the preference.
double MetreFit(const std::vector<double>& correlation, double period, double hop) {
  double fit = 0.0;
  for (double lag : kMetreLags) fit += Between(correlation, lag * period);
  return TempoPreference(period, hop) * fit / static_cast<double>(std::size(kMetreLags));
}

// The related level whose metre fits the window clearly better than the
// period's own (1 when none does).
double BetterLevel(const std::vector<double>& correlation, double period, double hop) {
  const double shortest = 60.0 / kFastestTempo / hop, longest = 60.0 / kSlowestTempo / hop;
  double best = MetreFit(correlation, period, hop) * kLevelMargin, level = 1.0;
  for (double ratio : kRelatedLevels) {
    const double candidate = period / ratio;
    if (candidate < shortest || candidate > longest) continue;
    const double fit = MetreFit(correlation, candidate, hop);
    if (fit > best) best = fit, level = ratio;
  }
  return level;
}

// Each window's period moved to a related level whose metre fits clearly
// better, then held steady: the median level over the windows around it.
void ChooseMetricalLevel(const std::vector<std::vector<double>>& correlations, const std::vector<bool>& heard,
                         double hop, std::vector<double>& period) {
  const long windows = static_cast<long>(period.size());
  std::vector<double> level(period.size(), 1.0);
  for (long w = 0; w < windows; ++w)
    if (heard[static_cast<size_t>(w)])
      level[static_cast<size_t>(w)] = BetterLevel(correlations[static_cast<size_t>(w)], period[static_cast<size_t>(w)], hop);
  std::vector<double> steady(level.size());
  for (long w = 0; w < windows; ++w) {
    std::vector<double> around;
    for (long v = std::max(0L, w - kLevelSmoothingWindows); v <= std::min(windows - 1, w + kLevelSmoothingWindows); ++v)
      if (heard[static_cast<size_t>(v)]) around.push_back(level[static_cast<size_t>(v)]);
    if (around.empty()) around.push_back(1.0);
    std::nth_element(around.begin(), around.begin() + static_cast<long>(around.size() / 2), around.end());
    steady[static_cast<size_t>(w)] = around[around.size() / 2];
  }
  for (long w = 0; w < windows; ++w) period[static_cast<size_t>(w)] /= steady[static_cast<size_t>(w)];
}

}  // namespace

std::vector<double> EmphasisedOnsets(const std::vector<double>& strength, const std::vector<uint8_t>& inside,
                                     double hopSeconds) {
  const long n = static_cast<long>(strength.size());
  const long reach = std::max(1L, std::lround(0.2 / hopSeconds));
  std::vector<double> prefix(static_cast<size_t>(n) + 1, 0.0);
  for (long h = 0; h < n; ++h) prefix[static_cast<size_t>(h) + 1] = prefix[static_cast<size_t>(h)] + strength[static_cast<size_t>(h)];
  std::vector<double> emphasised(static_cast<size_t>(n), 0.0);
  double sumSquares = 0.0;
  long counted = 0;
  for (long h = 0; h < n; ++h) {
    if (!inside.empty() && !inside[static_cast<size_t>(h)]) continue;
    const long from = std::max(0L, h - reach), to = std::min(n, h + reach + 1);
    const double mean = (prefix[static_cast<size_t>(to)] - prefix[static_cast<size_t>(from)]) / (to - from);
    const double value = std::max(0.0, strength[static_cast<size_t>(h)] - mean);
    emphasised[static_cast<size_t>(h)] = value;
    sumSquares += value * value;
    ++counted;
  }
  const double deviation = counted > 0 ? std::sqrt(sumSquares / counted) : 0.0;
  if (deviation > 0.0)
    for (double& value : emphasised) value /= deviation;
  return emphasised;
}

std::vector<double> BlurredOnsets(const std::vector<double>& onset) {
  const long n = static_cast<long>(onset.size());
  std::vector<double> blurred(onset.size(), 0.0);
  for (long h = 0; h < n; ++h)
    for (long k = -2; k <= 2; ++k)
      if (h + k >= 0 && h + k < n)
        blurred[static_cast<size_t>(h)] += (3.0 - std::fabs(static_cast<double>(k))) / 9.0 * onset[static_cast<size_t>(h + k)];
  return blurred;
}

double TempoEvidence(const std::vector<double>& correlation, double period, double hop) {
  double comb = 0.0;
  for (long k = 1; k <= kMultiples; ++k) comb += Between(correlation, static_cast<double>(k) * period);
  // A period whose half repeats as strongly is probably two beats: the
  // backbeat of a fast track heard as a slow one.
  const double halves = Between(correlation, 0.5 * period);
  return TempoPreference(period, hop) * std::max(0.0, comb / kMultiples - kHalfPenalty * halves);
}

namespace {

// The tempi the path may take, as steps of kTempoStep from kSlowestTempo.
long TempoStates() {
  return static_cast<long>(std::floor(std::log(kFastestTempo / kSlowestTempo) / std::log1p(kTempoStep))) + 1;
}

double PeriodOfState(double state, double hop) {
  return 60.0 / (kSlowestTempo * std::exp(state * std::log1p(kTempoStep)) * hop);
}

// The autocorrelation of `blurred` over [first, end) for every lag below
// the vector's size, each as a mean over the pairs it has.
void Autocorrelation(const std::vector<double>& blurred, long first, long end, std::vector<double>& correlation) {
  for (long lag = 1; lag < static_cast<long>(correlation.size()); ++lag) {
    double sum = 0.0;
    for (long h = first; h + lag < end; ++h) sum += blurred[static_cast<size_t>(h)] * blurred[static_cast<size_t>(h + lag)];
    correlation[static_cast<size_t>(lag)] = end - first > lag ? sum / static_cast<double>(end - first - lag) : 0.0;
  }
}

// The longest lag the evidence and the metre read.
long LongestLag(double hop) {
  return static_cast<long>(std::ceil(std::max<double>(kMultiples, 4.0) * PeriodOfState(0.0, hop))) + 2;
}

// A state made finer than a step: the peak of the parabola through the
// window's evidence around it.
double RefinedState(long state, const std::vector<double>& evidence) {
  const long states = static_cast<long>(evidence.size());
  double offset = 0.0;
  if (state > 0 && state + 1 < states) {
    const double left = evidence[static_cast<size_t>(state - 1)], middle = evidence[static_cast<size_t>(state)],
                 right = evidence[static_cast<size_t>(state + 1)];
    const double curvature = left - 2.0 * middle + right;
    if (curvature < 0.0) offset = std::clamp(0.5 * (left - right) / curvature, -0.5, 0.5);
  }
  return static_cast<double>(state) + offset;
}

}  // namespace

TempoFollower::TempoFollower(double hopSeconds) : hop(hopSeconds) {}

double TempoFollower::Follow(const std::vector<double>& strength, bool whole) {
  const long n = static_cast<long>(strength.size()), states = TempoStates();
  if (n < 2 * static_cast<long>(PeriodOfState(0.0, hop))) return 0.0;
  const std::vector<double> blurred = BlurredOnsets(EmphasisedOnsets(strength, {}, hop));
  std::vector<double> correlation(static_cast<size_t>(LongestLag(hop)) + 1, 0.0);
  Autocorrelation(blurred, 0, n, correlation);
  std::vector<double> evidence(static_cast<size_t>(states));
  double best = 0.0;
  for (long s = 0; s < states; ++s)
    best = std::max(best, evidence[static_cast<size_t>(s)] = TempoEvidence(correlation, PeriodOfState(static_cast<double>(s), hop), hop));
  if (best <= 0.0) return 0.0;
  // Evidence in units of a recent window's best, as the track's are in a
  // typical window's.
  strongest.push_back(best);
  if (strongest.size() > kFollowedWindows) strongest.pop_front();
  std::vector<double> sorted(strongest.begin(), strongest.end());
  std::nth_element(sorted.begin(), sorted.begin() + static_cast<long>(sorted.size() / 2), sorted.end());
  for (double& value : evidence) value /= sorted[sorted.size() / 2];
  // A stretch shorter than the follower's own speaks for itself only: the
  // path starts at the first whole one, so that the first seconds' guesses
  // do not hold it back.
  if (!whole) total.clear(), levels.clear();
  if (total.empty()) {
    total = evidence;
  } else {
    std::vector<double> arrival;
    std::vector<int> from;
    BestArrivals(total, kTempoChangeCost * std::log2(1.0 + kTempoStep), arrival, from);
    const double top = *std::max_element(arrival.begin(), arrival.end());
    for (long s = 0; s < states; ++s)
      total[static_cast<size_t>(s)] = arrival[static_cast<size_t>(s)] - top + evidence[static_cast<size_t>(s)];
  }
  const long state = static_cast<long>(std::max_element(total.begin(), total.end()) - total.begin());
  const double period = PeriodOfState(RefinedState(state, evidence), hop);
  // The level held steady: the median of the last windows'.
  levels.push_back(BetterLevel(correlation, period, hop));
  if (levels.size() > static_cast<size_t>(kLevelSmoothingWindows) + 1) levels.pop_front();
  std::vector<double> recent(levels.begin(), levels.end());
  std::nth_element(recent.begin(), recent.begin() + static_cast<long>(recent.size() / 2), recent.end());
  return period / recent[recent.size() / 2] * hop;
}

namespace {

// The beat period, in hops, at every hop: the tempo path through windows.
std::vector<double> PeriodPerHop(const std::vector<double>& onset, const std::vector<uint8_t>& inside, double hop) {
  const long n = static_cast<long>(onset.size());
  const long states = TempoStates();
  const auto periodOf = [&](double state) { return PeriodOfState(state, hop); };
  const long window = std::min(n, std::lround(kTempoWindowSeconds / hop));
  const long step = std::max(1L, std::lround(kTempoStepSeconds / hop));
  const long windows = n <= window ? 1 : 1 + (n - window + step - 1) / step;
  if (n < 2 * static_cast<long>(periodOf(static_cast<double>(states - 1))))
    return std::vector<double>(static_cast<size_t>(n), 60.0 / kPreferredTempo / hop);

  const std::vector<double> blurred = BlurredOnsets(onset);

  // Each window's evidence for each tempo: the mean autocorrelation at the
  // period and its first multiples (a comb, so that a period and its double
  // are judged on equal terms), less a share of it at half the period,
  // weighted by the preference.
  std::vector<std::vector<double>> evidence(static_cast<size_t>(windows), std::vector<double>(static_cast<size_t>(states), 0.0));
  // The correlations of the windows heard, for the metrical level.
  std::vector<std::vector<double>> correlations(static_cast<size_t>(windows));
  std::vector<double> correlation(static_cast<size_t>(LongestLag(hop)) + 1, 0.0);
  std::vector<double> strongest;
  std::vector<bool> heard(static_cast<size_t>(windows), false);
  for (long w = 0; w < windows; ++w) {
    const long first = std::min(w * step, std::max(0L, n - window)), end = std::min(n, first + window);
    long sounding = 0;
    for (long h = first; h < end; ++h) sounding += inside[static_cast<size_t>(h)];
    if (2 * sounding < end - first) continue;
    heard[static_cast<size_t>(w)] = true;
    Autocorrelation(blurred, first, end, correlation);
    double best = 0.0;
    for (long s = 0; s < states; ++s) {
      const double value = TempoEvidence(correlation, periodOf(static_cast<double>(s)), hop);
      evidence[static_cast<size_t>(w)][static_cast<size_t>(s)] = value;
      best = std::max(best, value);
    }
    strongest.push_back(best);
    correlations[static_cast<size_t>(w)] = correlation;
  }
  // Evidence in units of a typical window's best.
  double typical = 0.0;
  if (!strongest.empty()) {
    std::nth_element(strongest.begin(), strongest.begin() + static_cast<long>(strongest.size() / 2), strongest.end());
    typical = strongest[strongest.size() / 2];
  }
  if (typical <= 0.0) return std::vector<double>(static_cast<size_t>(n), 60.0 / kPreferredTempo / hop);
  for (auto& row : evidence)
    for (double& value : row) value /= typical;

  // Viterbi: the path of tempi with the most evidence, less the cost of its
  // changes.
  const double costPerStep = kTempoChangeCost * std::log2(1.0 + kTempoStep);
  std::vector<std::vector<int>> from(static_cast<size_t>(windows));
  std::vector<double> total = evidence[0], arrival;
  for (long w = 1; w < windows; ++w) {
    BestArrivals(total, costPerStep, arrival, from[static_cast<size_t>(w)]);
    for (long s = 0; s < states; ++s)
      total[static_cast<size_t>(s)] = arrival[static_cast<size_t>(s)] + evidence[static_cast<size_t>(w)][static_cast<size_t>(s)];
  }
  std::vector<double> periodOfWindow(static_cast<size_t>(windows));
  long state = static_cast<long>(std::max_element(total.begin(), total.end()) - total.begin());
  for (long w = windows - 1; w >= 0; --w) {
    periodOfWindow[static_cast<size_t>(w)] = periodOf(RefinedState(state, evidence[static_cast<size_t>(w)]));
    if (w > 0) state = from[static_cast<size_t>(w)][static_cast<size_t>(state)];
  }
  ChooseMetricalLevel(correlations, heard, hop, periodOfWindow);
  // Windows in silence take the period of the nearest window heard.
  for (long w = 1; w < windows; ++w)
    if (!heard[static_cast<size_t>(w)] && heard[static_cast<size_t>(w - 1)])
      heard[static_cast<size_t>(w)] = true, periodOfWindow[static_cast<size_t>(w)] = periodOfWindow[static_cast<size_t>(w - 1)];

  std::vector<double> period(static_cast<size_t>(n));
  for (long h = 0; h < n; ++h) {
    const long w = std::clamp((h - window / 2 + step / 2) / step, 0L, windows - 1);
    period[static_cast<size_t>(h)] = periodOfWindow[static_cast<size_t>(w)];
  }
  return period;
}

// The beats of one stretch, in hops (fractional), by dynamic programming:
// each hop's best score as the last beat of a chain is its onset plus the
// best score of a beat before it, less the squared log of the interval's
// distance from the period.
std::vector<double> ChainOfBeats(const std::vector<double>& onset, const std::vector<double>& period, Stretch stretch) {
  const long length = stretch.end - stretch.first;
  std::vector<double> score(static_cast<size_t>(length));
  std::vector<long> before(static_cast<size_t>(length), -1);
  for (long i = 0; i < length; ++i) {
    const long h = stretch.first + i;
    const double p = period[static_cast<size_t>(h)];
    double best = -std::numeric_limits<double>::infinity();
    for (long j = std::max(0L, i - std::lround(2.0 * p)); j <= i - std::lround(0.5 * p); ++j) {
      const double deviation = std::log(static_cast<double>(i - j) / p);
      const double value = score[static_cast<size_t>(j)] - kTightness * deviation * deviation;
      if (value > best) best = value, before[static_cast<size_t>(i)] = j;
    }
    score[static_cast<size_t>(i)] = onset[static_cast<size_t>(h)] + (before[static_cast<size_t>(i)] >= 0 ? best : 0.0);
  }
  // The last beat: the best-scoring hop within the last period.
  const long tail = std::max(0L, length - std::lround(period[static_cast<size_t>(stretch.end - 1)]));
  long last = static_cast<long>(std::max_element(score.begin() + tail, score.end()) - score.begin());
  std::vector<double> beats;
  for (long i = last; i >= 0; i = before[static_cast<size_t>(i)]) beats.push_back(static_cast<double>(stretch.first + i));
  std::reverse(beats.begin(), beats.end());

  // The grid carries on at the tempo to the edges of the sound.
  if (!beats.empty()) {
    while (beats.front() - period[static_cast<size_t>(beats.front())] >= static_cast<double>(stretch.first))
      beats.insert(beats.begin(), beats.front() - period[static_cast<size_t>(beats.front())]);
    while (beats.back() + period[static_cast<size_t>(beats.back())] < static_cast<double>(stretch.end))
      beats.push_back(beats.back() + period[static_cast<size_t>(beats.back())]);
  }
  return beats;
}

// A beat on an onset peak moves to the parabola's top between hops.
double RefinedHop(double beat, const std::vector<float>& strength) {
  const long h = std::lround(beat);
  if (beat != std::floor(beat) || h <= 0 || h + 1 >= static_cast<long>(strength.size())) return beat;
  const double left = strength[static_cast<size_t>(h - 1)], middle = strength[static_cast<size_t>(h)],
               right = strength[static_cast<size_t>(h + 1)];
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
      if (std::fabs(periods[static_cast<size_t>(j)] / periods[static_cast<size_t>(i)] - 1.0) > kSameTempo) continue;
      const double x = static_cast<double>(j - i), y = times[static_cast<size_t>(j)];
      n += 1.0, sx += x, sy += y, sxx += x * x, sxy += x * y;
    }
    const double determinant = n * sxx - sx * sx;
    fitted[static_cast<size_t>(i)] =
        n >= 3.0 && determinant > 0.0 ? (sy * sxx - sx * sxy) / determinant : times[static_cast<size_t>(i)];
  }
  return fitted;
}

long HopOf(double seconds, const OnsetCurve& curve) {
  return std::clamp(std::lround((seconds - kStrengthOffsetSeconds) / curve.hopSeconds), 0L,
                    static_cast<long>(curve.strength.size()) - 1);
}

// The tracked beats, in seconds, stretch by stretch; `stretchOf` tells each
// beat's stretch.
std::vector<double> TrackedBeats(const OnsetCurve& curve, const std::vector<Stretch>& stretches,
                                 const std::vector<uint8_t>& inside, std::vector<int>& stretchOf) {
  const std::vector<double> onset = EmphasisedOnsets(std::vector<double>(curve.strength.begin(), curve.strength.end()), inside, curve.hopSeconds);
  const std::vector<double> period = PeriodPerHop(onset, inside, curve.hopSeconds);
  std::vector<double> beats;
  for (size_t s = 0; s < stretches.size(); ++s) {
    const std::vector<double> hops = ChainOfBeats(onset, period, stretches[s]);
    std::vector<double> times, periods;
    for (double beat : hops) {
      times.push_back(RefinedHop(beat, curve.strength) * curve.hopSeconds + kStrengthOffsetSeconds);
      periods.push_back(period[std::min(period.size() - 1, static_cast<size_t>(std::lround(beat)))]);
    }
    for (double time : FittedOnLines(times, periods)) {
      time = std::max(0.0, time);
      if (!beats.empty() && time <= beats.back()) continue;
      beats.push_back(time);
      stretchOf.push_back(static_cast<int>(s));
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
      for (double t = candidate; t < trackSeconds; t += period) sum += onset[static_cast<size_t>(HopOf(t, curve))];
      if (sum > best) best = sum, phase = candidate;
    }
  }
  std::vector<double> beats;
  for (long k = 0;; ++k) {
    const double t = phase + static_cast<double>(k) * period;
    if (t >= trackSeconds) break;
    if (inside[static_cast<size_t>(HopOf(t, curve))]) beats.push_back(t);
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

// The mean of a per-hop vector series (`width` values a hop) over each beat.
std::vector<std::vector<double>> MeanPerBeat(const std::vector<double>& beats, const std::vector<float>& series,
                                             int width, const OnsetCurve& curve) {
  std::vector<std::vector<double>> means(beats.size(), std::vector<double>(static_cast<size_t>(width), 0.0));
  for (size_t i = 0; i < beats.size(); ++i) {
    const long first = HopOf(beats[i], curve);
    // The last beat lasts as long as the one before it.
    const double next = i + 1 < beats.size() ? beats[i + 1] : i > 0 ? 2.0 * beats[i] - beats[i - 1] : beats[i];
    const long end = std::clamp(HopOf(next, curve), first + 1, static_cast<long>(curve.strength.size()));
    for (long h = first; h < end; ++h)
      for (int b = 0; b < width; ++b)
        means[i][static_cast<size_t>(b)] += series[static_cast<size_t>(h) * static_cast<size_t>(width) + static_cast<size_t>(b)];
    for (double& value : means[i]) value /= static_cast<double>(end - first);
  }
  return means;
}

// How far the harmony moved from one beat to the next: 1 - the cosine of
// their pitch-class energies.
double HarmonyChange(const std::vector<double>& before, const std::vector<double>& after) {
  double dot = 0.0, a = 0.0, b = 0.0;
  for (size_t k = 0; k < before.size(); ++k) dot += before[k] * after[k], a += before[k] * before[k], b += after[k] * after[k];
  return a > 0.0 && b > 0.0 ? 1.0 - dot / std::sqrt(a * b) : 0.0;
}

// Each beat's place in its bar. Within a stretch of sound, the first beat of
// the bar is where, on average, the bass hits hardest and the colour of the
// sound changes most (harmony changes on the bar).
std::vector<int> PlacesInBars(const std::vector<double>& beats, const std::vector<int>& stretchOf,
                              const OnsetCurve& curve, const BeatOptions& options) {
  const int bar = std::max(1, options.beatsPerBar);
  std::vector<int> place(beats.size(), 0);
  if (beats.empty()) return place;
  if (options.firstBeat >= 0.0) {
    // The beat nearest the given first beat starts a bar.
    long anchor = 0;
    for (size_t i = 1; i < beats.size(); ++i)
      if (std::fabs(beats[i] - options.firstBeat) < std::fabs(beats[static_cast<size_t>(anchor)] - options.firstBeat))
        anchor = static_cast<long>(i);
    for (size_t i = 0; i < beats.size(); ++i) place[i] = static_cast<int>(((static_cast<long>(i) - anchor) % bar + bar) % bar);
    return place;
  }
  const std::vector<std::vector<double>> harmony = MeanPerBeat(beats, curve.chroma, kPitchClasses, curve);
  std::vector<double> hit(beats.size(), 0.0), change(beats.size(), 0.0);
  for (size_t i = 0; i < beats.size(); ++i) {
    const long h = HopOf(beats[i], curve);
    for (long k = std::max(0L, h - 2); k <= std::min(static_cast<long>(curve.bassStrength.size()) - 1, h + 2); ++k)
      hit[i] = std::max(hit[i], static_cast<double>(curve.bassStrength[static_cast<size_t>(k)]));
    if (i > 0 && stretchOf[i] == stretchOf[i - 1]) change[i] = HarmonyChange(harmony[i - 1], harmony[i]);
  }
  for (size_t start = 0; start < beats.size();) {
    size_t end = start;
    while (end < beats.size() && stretchOf[end] == stretchOf[start]) ++end;
    double meanHit = 1e-12, meanChange = 1e-12;
    for (size_t i = start; i < end; ++i) meanHit += hit[i], meanChange += change[i];
    // The first beat of the stretch has nothing before it to change from.
    change[start] = meanChange / static_cast<double>(end - start);
    std::vector<double> weight(static_cast<size_t>(bar), 0.0);
    for (size_t i = start; i < end; ++i) weight[(i - start) % static_cast<size_t>(bar)] += hit[i] / meanHit + change[i] / meanChange;
    const size_t first = static_cast<size_t>(std::max_element(weight.begin(), weight.end()) - weight.begin());
    for (size_t i = start; i < end; ++i)
      place[i] = static_cast<int>((i - start + static_cast<size_t>(bar) - first) % static_cast<size_t>(bar));
    start = end;
  }
  return place;
}

// Beats where the colour of the sound over the bars before differs most from
// the bars after (a break, a drop), moved to the nearest downbeat; and the
// return of sound after a silence.
std::vector<double> SectionChanges(const std::vector<double>& beats, const std::vector<int>& place,
                                   const std::vector<int>& stretchOf, const OnsetCurve& curve) {
  std::vector<double> sections;
  const long count = static_cast<long>(beats.size());
  if (count == 0) return sections;
  std::vector<std::vector<double>> colours = MeanPerBeat(beats, curve.colour, kColourBands, curve);
  for (int b = 0; b < kColourBands; ++b) {  // each band in units of its spread
    double mean = 0.0, squares = 0.0;
    for (const auto& colour : colours) mean += colour[static_cast<size_t>(b)];
    mean /= static_cast<double>(count);
    for (const auto& colour : colours) squares += std::pow(colour[static_cast<size_t>(b)] - mean, 2.0);
    const double spread = std::sqrt(squares / static_cast<double>(count)) + 1e-9;
    for (auto& colour : colours) colour[static_cast<size_t>(b)] = (colour[static_cast<size_t>(b)] - mean) / spread;
  }
  constexpr long kReach = 8;
  std::vector<double> novelty(static_cast<size_t>(count), 0.0);
  for (long i = kReach; i + kReach <= count; ++i) {
    double distance = 0.0;
    for (int b = 0; b < kColourBands; ++b) {
      double before = 0.0, after = 0.0;
      for (long k = 1; k <= kReach; ++k)
        before += colours[static_cast<size_t>(i - k)][static_cast<size_t>(b)],
            after += colours[static_cast<size_t>(i + k - 1)][static_cast<size_t>(b)];
      distance += std::pow((after - before) / kReach, 2.0);
    }
    novelty[static_cast<size_t>(i)] = std::sqrt(distance / kColourBands);
  }
  // A change of more than half a spread in the sound's colour, and the
  // largest within its reach.
  constexpr double kStrongChange = 0.6;
  for (long i = 0; i < count; ++i) {
    const double value = novelty[static_cast<size_t>(i)];
    bool peak = value >= kStrongChange;
    for (long k = std::max(0L, i - kReach); peak && k <= std::min(count - 1, i + kReach); ++k)
      if (novelty[static_cast<size_t>(k)] > value || (k < i && novelty[static_cast<size_t>(k)] == value)) peak = false;
    const bool returns = i > 0 && stretchOf[static_cast<size_t>(i)] != stretchOf[static_cast<size_t>(i - 1)];
    if (!peak && !returns) continue;
    long at = i;
    for (long k = 1; k <= 2 && !returns; ++k) {
      if (i - k >= 0 && place[static_cast<size_t>(i - k)] == 0) at = i - k;
      if (i + k < count && place[static_cast<size_t>(i + k)] == 0) at = i + k;
      if (at != i) break;
    }
    if (sections.empty() || beats[static_cast<size_t>(at)] > sections.back()) sections.push_back(beats[static_cast<size_t>(at)]);
  }
  return sections;
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
    beats = TrackedBeats(curve, stretches, inside, stretchOf);
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
      bool heard = false;
      for (long k = std::max(0L, h); k <= std::min(h + after, static_cast<long>(curve.sound.size()) - 1); ++k)
        heard = heard || curve.sound[static_cast<size_t>(k)];
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
  const std::vector<int> place = PlacesInBars(beats, stretchOf, curve, options);
  std::vector<double> sections = SectionChanges(beats, place, stretchOf, curve);
  return BeatGrid(std::move(beats), place, options.beatsPerBar, std::move(sections));
}

}  // namespace tool
