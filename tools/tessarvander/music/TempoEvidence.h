// What speaks for a beat period, read from onset strength: the tempo
// evidence that the track's tempo path and the live analysis share.
//   - the onset strength emphasised (its slow trend taken away, scaled to a
//     unit spread) and blurred over a few hops, so that onsets a fractional
//     period apart (34 and 35 hops alternately) still meet near one lag;
//   - its autocorrelation, by lag in hops;
//   - the evidence for a period: the mean autocorrelation at the period and
//     its first multiples (a comb, so a period and its double are judged on
//     equal terms), less a share at half the period, weighted towards
//     moderate tempi;
//   - the metrical level: the comb cannot tell the beat from a period at 3:2
//     or 4:3 to it when the music is full of subdivisions; the metre a
//     period implies (onsets repeating at the period, at two and four
//     periods, and between the beats at half the period) can.
// Tempi are states: steps of half a percent from the slowest tempo, evenly
// spaced in octaves, so that a change costs the same at any tempo.
#pragma once

#include <cstdint>
#include <vector>

namespace tool {

// The tempo range looked in, in beats a minute.
constexpr double kSlowestTempo = 50.0;
constexpr double kFastestTempo = 220.0;

// The onset strength with its slow trend (0.2 s each side) removed,
// negatives cut, scaled to a unit standard deviation over the hops
// `inside` marks as sound (all of them when it is empty); 0 elsewhere.
std::vector<double> EmphasisedOnsets(const std::vector<double>& strength, const std::vector<uint8_t>& inside,
                                     double hopSeconds);
std::vector<double> BlurredOnsets(const std::vector<double>& onset);
// The autocorrelation of `blurred` over hops [first, end) for every lag
// below the vector's size, each as a mean over the pairs it has.
void Autocorrelation(const std::vector<double>& blurred, long first, long end, std::vector<double>& correlation);
// The longest lag the evidence and the metre read, in hops.
long LongestLag(double hopSeconds);

// How strongly a correlation speaks for a period of `period` hops.
double TempoEvidence(const std::vector<double>& correlation, double period, double hopSeconds);
// The level related to `period` (2:3, 3:4, 4:5, 5:4, 4:3 or 3:2) whose metre fits
// the correlation clearly better than the period's own, as the ratio to
// divide the period by; 1 when none does.
// The fits are weighted towards moderate tempi by a preference
// `spreadOctaves` wide, and a level must fit `margin` times better. The
// track's windows, held to one level by the passages around them, let the
// metre decide over two octaves (a fast piece's beat is not given up for a
// slower figure nearer 120) and by a smaller margin (where even eighths fill
// the bar, a dotted figure's level fits barely less than the beat's), and
// seek the level `searchSteps` tempo steps either side of its exact ratio
// (a period read at a figure's level is a percent or two off); a live
// window, decided alone, keeps to one octave, a wider margin and the exact
// ratios.
struct LevelChoice {
  double spreadOctaves, margin;
  int searchSteps;
};
constexpr LevelChoice kTrackLevels{2.0, 1.15, 5};
constexpr LevelChoice kLiveLevels{1.0, 1.25, 0};
double BetterLevel(const std::vector<double>& correlation, double period, double hopSeconds, LevelChoice choice);

// The tempo states.
long TempoStates();
double PeriodOfState(double state, double hopSeconds);  // in hops
// The octaves between two neighbouring states.
double OctavesPerState();
// Every state's evidence in one correlation; the largest.
double EvidenceByState(const std::vector<double>& correlation, double hopSeconds, std::vector<double>& evidence);
// A state made finer than a step: the peak of the parabola through the
// evidence around it.
double RefinedState(long state, const std::vector<double>& evidence);
// The best total reaching each state from the totals before, less
// `costPerStep` for each step of change (a distance transform, two sweeps,
// instead of trying every pair); `from` the state each came from.
void BestArrivals(const std::vector<double>& total, double costPerStep, std::vector<double>& best,
                  std::vector<int>& from);

}  // namespace tool
