#include "music/BarsAndSections.h"

#include <algorithm>
#include <cmath>

#include "music/Indexing.h"

namespace tool {
namespace {

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
        means[i][static_cast<size_t>(b)] += At(series, h * width + b);
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

}  // namespace

// Each beat's place in its bar. Within a stretch of sound, the first beat of
// the bar is where, on average, the bass hits hardest and the colour of the
// sound changes most (harmony changes on the bar).
std::vector<int> PlacesInBars(const std::vector<double>& beats, const std::vector<int>& stretchOf,
                              const OnsetCurve& curve, int beatsPerBar, double firstBeat) {
  const int bar = std::max(1, beatsPerBar);
  std::vector<int> place(beats.size(), 0);
  if (beats.empty()) return place;
  if (firstBeat >= 0.0) {
    // The beat nearest the given first beat starts a bar.
    long anchor = 0;
    for (size_t i = 1; i < beats.size(); ++i)
      if (std::fabs(beats[i] - firstBeat) < std::fabs(At(beats, anchor) - firstBeat))
        anchor = static_cast<long>(i);
    for (size_t i = 0; i < beats.size(); ++i) place[i] = static_cast<int>(((static_cast<long>(i) - anchor) % bar + bar) % bar);
    return place;
  }
  const std::vector<std::vector<double>> harmony = MeanPerBeat(beats, curve.chroma, kPitchClasses, curve);
  std::vector<double> hit(beats.size(), 0.0), change(beats.size(), 0.0);
  for (size_t i = 0; i < beats.size(); ++i) {
    const long h = HopOf(beats[i], curve);
    for (long k = std::max(0L, h - 2); k <= std::min(static_cast<long>(curve.bassStrength.size()) - 1, h + 2); ++k)
      hit[i] = std::max(hit[i], static_cast<double>(At(curve.bassStrength, k)));
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
    for (const auto& colour : colours) mean += At(colour, b);
    mean /= static_cast<double>(count);
    for (const auto& colour : colours) squares += std::pow(At(colour, b) - mean, 2.0);
    const double spread = std::sqrt(squares / static_cast<double>(count)) + 1e-9;
    for (auto& colour : colours) At(colour, b) = (At(colour, b) - mean) / spread;
  }
  constexpr long kReach = 8;
  std::vector<double> novelty(static_cast<size_t>(count), 0.0);
  for (long i = kReach; i + kReach <= count; ++i) {
    double distance = 0.0;
    for (int b = 0; b < kColourBands; ++b) {
      double before = 0.0, after = 0.0;
      for (long k = 1; k <= kReach; ++k)
        before += At(colours, i - k)[static_cast<size_t>(b)],
            after += At(colours, i + k - 1)[static_cast<size_t>(b)];
      distance += std::pow((after - before) / kReach, 2.0);
    }
    At(novelty, i) = std::sqrt(distance / kColourBands);
  }
  // A change of more than half a spread in the sound's colour, and the
  // largest within its reach.
  constexpr double kStrongChange = 0.6;
  for (long i = 0; i < count; ++i) {
    const double value = At(novelty, i);
    bool peak = value >= kStrongChange;
    for (long k = std::max(0L, i - kReach); peak && k <= std::min(count - 1, i + kReach); ++k)
      if (At(novelty, k) > value || (k < i && At(novelty, k) == value)) peak = false;
    const bool returns = i > 0 && At(stretchOf, i) != At(stretchOf, i - 1);
    if (!peak && !returns) continue;
    long at = i;
    for (long k = 1; k <= 2 && !returns; ++k) {
      if (i - k >= 0 && At(place, i - k) == 0) at = i - k;
      if (i + k < count && At(place, i + k) == 0) at = i + k;
      if (at != i) break;
    }
    if (sections.empty() || At(beats, at) > sections.back()) sections.push_back(At(beats, at));
  }
  return sections;
}

}  // namespace tool
