#include "music/TempoEvidence.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "music/Indexing.h"

namespace tool {
namespace {

// The comb reads the period and its multiples up to this one.
constexpr long kMultiples = 4;
constexpr double kHalfPenalty = 0.5;
// The preference for tempi near kPreferredTempo, falling by half over an
// octave away: a tie-breaker.
constexpr double kPreferredTempo = 120.0;
constexpr double kTempoSpreadOctaves = 1.0;
constexpr double kTempoStep = 0.005;

// The levels a period may be taken for (a 4:5 one too: a figure of five
// sixteenths repeated over a groove of four), and the lags (in periods)
// whose onsets its metre implies.
constexpr double kMetricallyRelated[] = {2.0 / 3.0, 3.0 / 4.0, 4.0 / 5.0, 5.0 / 4.0, 4.0 / 3.0, 3.0 / 2.0};
constexpr double kMetreLags[] = {0.5, 1.0, 2.0, 4.0};

double TempoPreference(double lagHops, double hopSeconds, double spreadOctaves = kTempoSpreadOctaves) {
  const double octaves = std::log2(60.0 / (lagHops * hopSeconds) / kPreferredTempo) / spreadOctaves;
  return std::exp(-0.5 * octaves * octaves);
}

// The autocorrelation between whole lags, by straight lines.
double Between(const std::vector<double>& correlation, double lag) {
  const size_t below = static_cast<size_t>(lag);
  if (below + 1 >= correlation.size()) return 0.0;
  const double share = lag - static_cast<double>(below);
  return correlation[below] * (1.0 - share) + correlation[below + 1] * share;
}

// How well a period's implied metre fits the onsets, weighted by the
// preference.
double MetreFit(const std::vector<double>& correlation, double period, double hop, double spreadOctaves) {
  double fit = 0.0;
  for (double lag : kMetreLags) fit += Between(correlation, lag * period);
  return TempoPreference(period, hop, spreadOctaves) * fit / static_cast<double>(std::size(kMetreLags));
}

}  // namespace

std::vector<double> EmphasisedOnsets(const std::vector<double>& strength, const std::vector<uint8_t>& inside,
                                     double hopSeconds) {
  const long n = Count(strength);
  const long reach = std::max(1L, std::lround(0.2 / hopSeconds));
  std::vector<double> prefix(strength.size() + 1, 0.0);
  for (long h = 0; h < n; ++h) At(prefix, h + 1) = At(prefix, h) + At(strength, h);
  std::vector<double> emphasised(strength.size(), 0.0);
  double sumSquares = 0.0;
  long counted = 0;
  for (long h = 0; h < n; ++h) {
    if (!inside.empty() && !At(inside, h)) continue;
    const long from = std::max(0L, h - reach), to = std::min(n, h + reach + 1);
    const double mean = (At(prefix, to) - At(prefix, from)) / static_cast<double>(to - from);
    const double value = std::max(0.0, At(strength, h) - mean);
    At(emphasised, h) = value;
    sumSquares += value * value;
    ++counted;
  }
  const double deviation = counted > 0 ? std::sqrt(sumSquares / static_cast<double>(counted)) : 0.0;
  if (deviation > 0.0)
    for (double& value : emphasised) value /= deviation;
  return emphasised;
}

std::vector<double> BlurredOnsets(const std::vector<double>& onset) {
  const long n = Count(onset);
  std::vector<double> blurred(onset.size(), 0.0);
  for (long h = 0; h < n; ++h)
    for (long k = -2; k <= 2; ++k)
      if (h + k >= 0 && h + k < n) At(blurred, h) += (3.0 - std::fabs(static_cast<double>(k))) / 9.0 * At(onset, h + k);
  return blurred;
}

void Autocorrelation(const std::vector<double>& blurred, long first, long end, std::vector<double>& correlation) {
  for (long lag = 1; lag < Count(correlation); ++lag) {
    double sum = 0.0;
    for (long h = first; h + lag < end; ++h) sum += At(blurred, h) * At(blurred, h + lag);
    At(correlation, lag) = end - first > lag ? sum / static_cast<double>(end - first - lag) : 0.0;
  }
}

double TempoEvidence(const std::vector<double>& correlation, double period, double hop) {
  double comb = 0.0;
  for (long k = 1; k <= kMultiples; ++k) comb += Between(correlation, static_cast<double>(k) * period);
  // A period whose half repeats as strongly is probably two beats: the
  // backbeat of a fast track heard as a slow one.
  const double halves = Between(correlation, 0.5 * period);
  return TempoPreference(period, hop) * std::max(0.0, comb / kMultiples - kHalfPenalty * halves);
}

double BetterLevel(const std::vector<double>& correlation, double period, double hop, LevelChoice choice) {
  const double shortest = 60.0 / kFastestTempo / hop, longest = 60.0 / kSlowestTempo / hop;
  double best = MetreFit(correlation, period, hop, choice.spreadOctaves) * choice.margin, level = 1.0;
  for (double ratio : kMetricallyRelated) {
    for (int step = -choice.searchSteps; step <= choice.searchSteps; ++step) {
      const double candidate = period / ratio * (1.0 + kTempoStep * step);
      if (candidate < shortest || candidate > longest) continue;
      const double fit = MetreFit(correlation, candidate, hop, choice.spreadOctaves);
      if (fit > best) best = fit, level = period / candidate;
    }
  }
  return level;
}

long TempoStates() {
  return static_cast<long>(std::floor(std::log(kFastestTempo / kSlowestTempo) / std::log1p(kTempoStep))) + 1;
}

double PeriodOfState(double state, double hop) {
  return 60.0 / (kSlowestTempo * std::exp(state * std::log1p(kTempoStep)) * hop);
}

double OctavesPerState() { return std::log2(1.0 + kTempoStep); }

long LongestLag(double hop) {
  return static_cast<long>(std::ceil(std::max<double>(kMultiples, 4.0) * PeriodOfState(0.0, hop))) + 2;
}

double EvidenceByState(const std::vector<double>& correlation, double hop, std::vector<double>& evidence) {
  const long states = TempoStates();
  evidence.assign(static_cast<size_t>(states), 0.0);
  double best = 0.0;
  for (long s = 0; s < states; ++s)
    best = std::max(best, At(evidence, s) = TempoEvidence(correlation, PeriodOfState(static_cast<double>(s), hop), hop));
  return best;
}

double RefinedState(long state, const std::vector<double>& evidence) {
  double offset = 0.0;
  if (state > 0 && state + 1 < Count(evidence)) {
    const double left = At(evidence, state - 1), middle = At(evidence, state), right = At(evidence, state + 1);
    const double curvature = left - 2.0 * middle + right;
    if (curvature < 0.0) offset = std::clamp(0.5 * (left - right) / curvature, -0.5, 0.5);
  }
  return static_cast<double>(state) + offset;
}

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

}  // namespace tool
