#include "music/BeatPhase.h"

#include <algorithm>
#include <cmath>

#include "music/Indexing.h"

namespace tool {
namespace {

// Beats weighed each side of a beat.
constexpr long kReach = 8;
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

}  // namespace

std::vector<double> OnTheBeat(const std::vector<double>& beats, const std::vector<int>& stretchOf,
                              const OnsetCurve& curve) {
  const long count = static_cast<long>(beats.size());
  if (count < 4) return beats;
  std::vector<Evidence> evidence(beats.size());
  for (long i = 0; i + 1 < count; ++i) At(evidence, i) = EvidenceAt(At(beats, i), At(beats, i + 1), curve);
  std::vector<double> moved = beats;
  for (long i = 0; i + 1 < count; ++i) {
    if (At(stretchOf, i + 1) != At(stretchOf, i)) continue;
    Evidence around;
    for (long j = std::max(0L, i - kReach); j <= std::min(count - 2, i + kReach); ++j)
      if (At(stretchOf, j) == At(stretchOf, i) && At(stretchOf, j + 1) == At(stretchOf, i)) around += At(evidence, j);
    const double period = At(beats, i + 1) - At(beats, i);
    if (OnASwungNote(around)) At(moved, i) = At(beats, i) + period / 3.0;
    else if (OnTheOffBeat(around)) At(moved, i) = At(beats, i) + period / 2.0;
  }
  // The last beat of a stretch, with no next beat to weigh it by, moves as
  // the one before it did.
  for (long i = 1; i < count; ++i) {
    const bool last = i + 1 == count || At(stretchOf, i + 1) != At(stretchOf, i);
    if (last && At(stretchOf, i - 1) == At(stretchOf, i))
      At(moved, i) = At(beats, i) + (At(moved, i - 1) - At(beats, i - 1));
  }
  // Beats stay in order: a beat moved forward never passes the next.
  for (long i = 1; i < count; ++i)
    if (At(moved, i) <= At(moved, i - 1)) At(moved, i) = std::min(At(beats, i), At(moved, i - 1) + 1e-3);
  return moved;
}

}  // namespace tool
