#include "music/BeatPhase.h"

#include <algorithm>
#include <cmath>

#include "music/Indexing.h"

namespace tool {
namespace {

// How much more the halfway points must hold to move the beats.
constexpr double kClearly = 1.3;
// How much more the point a third of a beat after the beats must hold than
// the points halfway and two thirds after, for the beats to be on a swung
// note; and the least share of the beats' own onsets it must hold.
constexpr double kSwungClearly = 3.0;
constexpr double kSwungBeat = 1.0 / 3.0;

// The strongest of `strengths` within a hop or two of `seconds`.
double StrongestAt(double seconds, const std::vector<float>& strengths, const OnsetCurve& curve) {
  const long h = HopOf(seconds, curve);
  double strongest = 0.0;
  for (long k = std::max(0L, h - 1); k <= std::min(Count(strengths) - 1, h + 2); ++k)
    strongest = std::max(strongest, static_cast<double>(At(strengths, k)));
  return strongest;
}

// How far the harmony moves across `seconds`: 1 - the cosine of the mean
// pitch-class energies over `span` before and after it.
double HarmonyChangeAt(double seconds, double span, const OnsetCurve& curve) {
  const long hops = static_cast<long>(curve.chroma.size() / kPitchClasses);
  const long at = HopOf(seconds, curve), width = std::max(1L, std::lround(span / curve.hopSeconds));
  double before[kPitchClasses] = {}, after[kPitchClasses] = {};
  for (long h = std::max(0L, at - width); h < std::min(hops, at + width); ++h)
    for (int c = 0; c < kPitchClasses; ++c)
      (h < at ? before : after)[c] += At(curve.chroma, h * kPitchClasses + c);
  double dot = 0.0, a = 0.0, b = 0.0;
  for (int c = 0; c < kPitchClasses; ++c) dot += before[c] * after[c], a += before[c] * before[c], b += after[c] * after[c];
  return a > 0.0 && b > 0.0 ? 1.0 - dot / std::sqrt(a * b) : 0.0;
}

// Which of two places holds more, from -1 (all `on`) to 1 (all `off`): each
// kind of evidence as a share of its total, so neither outweighs the other
// by its units.
double Lean(double on, double off) { return on + off > 0.0 ? (off - on) / (on + off) : 0.0; }

// What the music holds at a beat and at points on the way to the next.
struct Evidence {
  double bassOn = 0.0, bassOff = 0.0;      // the bass's onsets at the beat and halfway
  double changeOn = 0.0, changeOff = 0.0;  // the harmony's changes there
  double onset = 0.0, third = 0.0, half = 0.0, twoThirds = 0.0;  // the onsets at the beat, a third on, ...

  Evidence& operator+=(const Evidence& other) {
    bassOn += other.bassOn, bassOff += other.bassOff, changeOn += other.changeOn, changeOff += other.changeOff;
    onset += other.onset, third += other.third, half += other.half, twoThirds += other.twoThirds;
    return *this;
  }
};

Evidence EvidenceAt(double beat, double next, const OnsetCurve& curve) {
  const double period = next - beat, halfway = beat + 0.5 * period;
  Evidence e;
  e.bassOn = StrongestAt(beat, curve.bassStrength, curve);
  e.bassOff = StrongestAt(halfway, curve.bassStrength, curve);
  e.changeOn = HarmonyChangeAt(beat, 0.25 * period, curve);
  e.changeOff = HarmonyChangeAt(halfway, 0.25 * period, curve);
  e.onset = StrongestAt(beat, curve.strength, curve);
  e.third = StrongestAt(beat + period / 3.0, curve.strength, curve);
  e.half = StrongestAt(halfway, curve.strength, curve);
  e.twoThirds = StrongestAt(beat + 2.0 * period / 3.0, curve.strength, curve);
  return e;
}

// Beats on the off-beat: the bass's onsets and the harmony's changes hold
// clearly more at the halfway points.
bool OnTheOffBeat(const Evidence& e) {
  return Lean(e.bassOn, e.bassOff) + Lean(e.changeOn, e.changeOff) > 2.0 * (kClearly - 1.0) / (kClearly + 1.0);
}

// Beats on a swung note: swing delays the off-beat, so beats whose strongest
// onset between them comes a third of a beat after them, as strong as a
// beat, sit on the swung note before the beat (a shuffle's comping guitar
// can strike it as hard as the drums strike the beat).
bool OnASwungNote(const Evidence& e) {
  return e.third > kSwungClearly * std::max(e.half, e.twoThirds) && e.third > kSwungBeat * e.onset;
}

// A beat chain keeps its phase from beat to beat unless it jumps (an
// interval half a beat longer or shorter, where it lost the beat and found
// it again) or slides (its beats drift from the tempo's grid, drawn by
// stronger onsets off the beat): its beats between are one passage, on the
// beat or off it together. A passage never spans two stretches of sound or
// a change of tempo.
constexpr double kLargestSlide = 0.10;  // beats
constexpr double kTempoMove = 0.01;

struct Passage {
  long first = 0, end = 0;  // beats
};

std::vector<Passage> SteadyPassages(const std::vector<double>& beats, const std::vector<int>& stretchOf,
                                    const std::vector<double>& periodOf) {
  const long count = Count(beats);
  std::vector<Passage> passages;
  for (long first = 0; first < count;) {
    long end = first + 1;
    double slide = 0.0;  // how far the chain has moved from the grid, in beats
    for (; end < count; ++end) {
      if (At(stretchOf, end) != At(stretchOf, first)) break;
      if (std::fabs(At(periodOf, end) / At(periodOf, first) - 1.0) > kTempoMove) break;
      slide += (At(beats, end) - At(beats, end - 1)) / At(periodOf, end) - 1.0;
      if (std::fabs(slide) > kLargestSlide) break;
    }
    passages.push_back({first, end});
    first = end;
  }
  return passages;
}

// The chain has settled at its first passage of this many beats (four
// bars); before it, its first beats may have entered off the beat and slid.
constexpr long kSettledBeats = 16;

}  // namespace

void FromWhereTheChainSettles(std::vector<double>& beats, std::vector<int>& stretchOf, std::vector<double>& periodOf) {
  std::vector<double> newBeats, newPeriods;
  std::vector<int> newStretches;
  const auto keep = [&](double beat, int stretch, double period) {
    newBeats.push_back(beat), newStretches.push_back(stretch), newPeriods.push_back(period);
  };
  const std::vector<Passage> passages = SteadyPassages(beats, stretchOf, periodOf);
  for (size_t p = 0; p < passages.size();) {
    size_t q = p + 1;  // the passages of one stretch: [p, q)
    while (q < passages.size() && At(stretchOf, passages[q].first) == At(stretchOf, passages[p].first)) ++q;
    size_t settled = p;
    while (settled < q && passages[settled].end - passages[settled].first < kSettledBeats) ++settled;
    long from = passages[p].first;
    if (settled < q && passages[settled].first - from < passages[settled].end - passages[settled].first) {
      // The settled passage's grid, carried back to where the stretch's
      // first beat was.
      const Passage& grid = passages[settled];
      const double start = At(beats, grid.first);
      const double period = (At(beats, grid.end - 1) - start) / static_cast<double>(grid.end - 1 - grid.first);
      for (long k = std::lround(std::floor((start - At(beats, from)) / period + 0.5)); k >= 1; --k)
        keep(start - static_cast<double>(k) * period, At(stretchOf, grid.first), At(periodOf, grid.first));
      from = grid.first;
    }
    for (long i = from; i < passages[q - 1].end; ++i) keep(At(beats, i), At(stretchOf, i), At(periodOf, i));
    p = q;
  }
  beats.swap(newBeats);
  stretchOf.swap(newStretches);
  periodOf.swap(newPeriods);
}

std::vector<double> OnTheBeat(const std::vector<double>& beats, const std::vector<int>& stretchOf,
                              const std::vector<double>& periodOf, const OnsetCurve& curve) {
  const long count = static_cast<long>(beats.size());
  if (count < 4) return beats;
  std::vector<double> moved = beats;
  for (const Passage& passage : SteadyPassages(beats, stretchOf, periodOf)) {
    // A passage shorter than a chain takes to settle is where it lost the
    // beat and found it again: too few beats to weigh (a song at half tempo
    // moved three such passages of seven to eleven beats each its own way),
    // so it keeps the phase the chain found there.
    if (passage.end - passage.first < kSettledBeats) continue;
    Evidence all;
    for (long i = passage.first; i + 1 < passage.end; ++i) all += EvidenceAt(At(beats, i), At(beats, i + 1), curve);
    const double share = OnASwungNote(all) ? 1.0 / 3.0 : OnTheOffBeat(all) ? 0.5 : 0.0;
    if (share == 0.0) continue;
    for (long i = passage.first; i < passage.end; ++i) {
      const long next = i + 1 < passage.end ? i + 1 : i, before = next - 1;
      At(moved, i) = At(beats, i) + share * (At(beats, next) - At(beats, before));
    }
  }
  // Beats stay in order: a beat moved forward never passes the next.
  for (long i = 1; i < count; ++i)
    if (At(moved, i) <= At(moved, i - 1)) At(moved, i) = std::min(At(beats, i), At(moved, i - 1) + 1e-3);
  return moved;
}

}  // namespace tool
