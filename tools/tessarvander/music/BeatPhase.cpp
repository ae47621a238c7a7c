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
// How far the bass, over a whole stretch, must lean to the halfway points
// to move the stretch.
constexpr double kStretchLeans = 0.08;

// The bass's strongest onset within a hop or two of `seconds`.
double BassAt(double seconds, const OnsetCurve& curve) {
  const long h = HopOf(seconds, curve);
  double strongest = 0.0;
  for (long k = std::max(0L, h - 1); k <= std::min(static_cast<long>(curve.bassStrength.size()) - 1, h + 2); ++k)
    strongest = std::max(strongest, static_cast<double>(At(curve.bassStrength, k)));
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

// The stretches whose beats sit on the off-beat of a groove whose snare or
// chord plays every off-beat (a polka's or a ska's after-beat, a thrash
// beat): the loudest onsets are between the beats, and the chain of beats
// follows them. The kick still falls on the beat, by a margin too small for
// a window of beats to tell but the same over the whole stretch. The
// harmony is not asked: the snare's noise on the chain's beats reads as a
// change of chord there.
std::vector<bool> StretchesOnTheOffBeat(const std::vector<double>& bassOn, const std::vector<double>& bassOff,
                                        const std::vector<int>& stretchOf) {
  const long count = Count(stretchOf);
  const long stretches = count == 0 ? 0 : *std::max_element(stretchOf.begin(), stretchOf.end()) + 1;
  std::vector<double> on(static_cast<size_t>(stretches)), off(on);
  for (long i = 0; i + 1 < count; ++i) {
    At(on, At(stretchOf, i)) += At(bassOn, i);
    At(off, At(stretchOf, i)) += At(bassOff, i);
  }
  std::vector<bool> offBeat(static_cast<size_t>(stretches));
  for (long s = 0; s < stretches; ++s) At(offBeat, s) = Lean(At(on, s), At(off, s)) > kStretchLeans;
  return offBeat;
}

}  // namespace

std::vector<double> OnTheBeat(const std::vector<double>& beats, const std::vector<int>& stretchOf,
                              const OnsetCurve& curve) {
  const long count = static_cast<long>(beats.size());
  if (count < 4) return beats;
  // The evidence at each beat and at the point after it, halfway to the next.
  std::vector<double> bassOn(beats.size()), bassOff(beats.size()), changeOn(beats.size()), changeOff(beats.size());
  for (long i = 0; i + 1 < count; ++i) {
    const double period = At(beats, i + 1) - At(beats, i), halfway = At(beats, i) + 0.5 * period;
    At(bassOn, i) = BassAt(At(beats, i), curve);
    At(bassOff, i) = BassAt(halfway, curve);
    At(changeOn, i) = HarmonyChangeAt(At(beats, i), 0.25 * period, curve);
    At(changeOff, i) = HarmonyChangeAt(halfway, 0.25 * period, curve);
  }
  const std::vector<bool> offBeat = StretchesOnTheOffBeat(bassOn, bassOff, stretchOf);
  std::vector<double> moved = beats;
  for (long i = 0; i + 1 < count; ++i) {
    double on = 0.0, off = 0.0, onChange = 0.0, offChange = 0.0;
    for (long j = std::max(0L, i - kReach); j <= std::min(count - 2, i + kReach); ++j) {
      if (At(stretchOf, j) != At(stretchOf, i) || At(stretchOf, j + 1) != At(stretchOf, i)) continue;
      on += At(bassOn, j), off += At(bassOff, j), onChange += At(changeOn, j), offChange += At(changeOff, j);
    }
    const double lean = Lean(on, off) + Lean(onChange, offChange);  // above 0: the halfway points hold more
    const bool clearly = lean > 2.0 * (kClearly - 1.0) / (kClearly + 1.0);
    if ((clearly || At(offBeat, At(stretchOf, i))) && At(stretchOf, i + 1) == At(stretchOf, i))
      At(moved, i) = 0.5 * (At(beats, i) + At(beats, i + 1));
  }
  // Beats stay in order: a beat moved forward never passes the next.
  for (long i = 1; i < count; ++i)
    if (At(moved, i) <= At(moved, i - 1)) At(moved, i) = std::min(At(beats, i), At(moved, i - 1) + 1e-3);
  return moved;
}

}  // namespace tool
