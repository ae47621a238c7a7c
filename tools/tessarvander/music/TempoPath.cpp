#include "music/TempoPath.h"

#include <algorithm>
#include <cmath>

#include "music/Indexing.h"
#include "music/Median.h"
#include "music/TempoEvidence.h"

namespace tool {
namespace {

constexpr double kTempoWindowSeconds = 8.0;
constexpr double kTempoStepSeconds = 0.5;
// The period when nothing speaks for one: 120 beats a minute.
constexpr double kDefaultPeriodSeconds = 0.5;
// What changing tempo costs between two windows, per octave of change, in
// units of a typical window's evidence.
constexpr double kTempoChangeCost = 3.0;
// The chosen metrical level is held steady as the median over this many
// windows each side (half a second apart).
constexpr long kLevelSmoothingWindows = 4;
// The windows whose best evidence is the live path's unit.
constexpr size_t kFollowedWindows = 20;

// Each window's period moved to a related level whose metre fits clearly
// better, then held steady: the median level over the windows around it.
void ChooseMetricalLevel(const std::vector<std::vector<double>>& correlations, const std::vector<bool>& heard,
                         double hop, std::vector<double>& period) {
  const long windows = Count(period);
  std::vector<double> level(period.size(), 1.0);
  for (long w = 0; w < windows; ++w)
    if (At(heard, w)) At(level, w) = BetterLevel(At(correlations, w), At(period, w), hop, kTrackLevels);
  std::vector<double> steady(level.size());
  for (long w = 0; w < windows; ++w) {
    std::vector<double> around;
    for (long v = std::max(0L, w - kLevelSmoothingWindows); v <= std::min(windows - 1, w + kLevelSmoothingWindows); ++v)
      if (At(heard, v)) around.push_back(At(level, v));
    At(steady, w) = around.empty() ? 1.0 : Median(around);
  }
  for (long w = 0; w < windows; ++w) At(period, w) /= At(steady, w);
}

// Whether two periods are one tempo at another metrical level: a ratio of
// 2, 3/2 or 4/3 (either way), within kLevelTolerance.
constexpr double kLevelTolerance = 0.03;
constexpr double kOtherLevels[] = {2.0, 0.5, 1.5, 2.0 / 3.0, 4.0 / 3.0, 0.75};
bool OtherLevel(double a, double b) {
  for (double ratio : kOtherLevels)
    if (std::fabs(a / b / ratio - 1.0) <= kLevelTolerance) return true;
  return false;
}
// The largest change of tempo a piece makes from one passage to the next
// (either way): beyond it, a new passage at another level is taken as it is.
constexpr double kLargestChange = 1.45;
bool SameTempo(double a, double b) { return std::fabs(a / b - 1.0) <= kLevelTolerance; }
bool SameOrOtherLevel(double a, double b) { return SameTempo(a, b) || OtherLevel(a, b); }

struct Run {
  long first = 0, end = 0;  // windows
  double period = 0.0;      // the period most of its windows hold

  long Windows() const { return end - first; }
};

// A run shorter than this is the music passing from one tempo to another
// (a window holds eight seconds, so one that straddles a change reads some
// tempo between for a few steps), or a moment's guess: no tempo the music
// holds.
constexpr long kPassingWindows = 6;
bool Passing(const Run& run) { return run.Windows() < kPassingWindows; }

// The period most of the windows [first, end) hold (within the tolerance).
double MostHeld(const std::vector<double>& period, long first, long end) {
  double most = At(period, first);
  long mostCount = 0;
  for (long w = first; w < end; ++w) {
    long count = 0;
    for (long v = first; v < end; ++v) count += SameTempo(At(period, v), At(period, w));
    if (count > mostCount) mostCount = count, most = At(period, w);
  }
  return most;
}

// The runs of heard windows whose periods are related from window to window
// (one tempo at one level or another); each window at another level than
// most of its run's is moved to theirs.
std::vector<Run> RunsOfOneTempo(const std::vector<bool>& heard, std::vector<double>& period) {
  const long windows = Count(period);
  std::vector<Run> runs;
  for (long first = 0; first < windows;) {
    if (!At(heard, first)) {
      ++first;
      continue;
    }
    long end = first + 1;
    while (end < windows && At(heard, end) && SameOrOtherLevel(At(period, end), At(period, end - 1))) ++end;
    const double most = MostHeld(period, first, end);
    for (long w = first; w < end; ++w)
      if (OtherLevel(At(period, w), most)) At(period, w) = most;
    runs.push_back({first, end, most});
    first = end;
  }
  return runs;
}

// A passing run between two runs of one tempo (at one level or another) is
// no change: the three are one run, at the level most of its windows hold.
void JoinAcrossPassing(std::vector<Run>& runs, std::vector<double>& period) {
  for (size_t r = 1; r + 1 < runs.size();) {
    const Run before = runs[r - 1], after = runs[r + 1];
    if (!Passing(runs[r]) || Passing(before) || !SameOrOtherLevel(before.period, after.period)) {
      ++r;
      continue;
    }
    const double most = before.Windows() >= after.Windows() ? before.period : after.period;
    for (long w = before.first; w < after.end; ++w)
      if (!SameTempo(At(period, w), most)) At(period, w) = most;
    runs[r - 1] = {before.first, after.end, most};
    runs.erase(runs.begin() + static_cast<long>(r), runs.begin() + static_cast<long>(r) + 2);
  }
}

// Across a real change of tempo (or a pause), the music keeps its level:
// each run is heard at the level (itself, its double or its half) nearest
// the last run the music held, where that is a change a piece makes.
void KeepLevelAcrossChanges(std::vector<Run>& runs, std::vector<double>& period) {
  double before = 0.0;  // the period of the last run the music held
  for (Run& run : runs) {
    if (before > 0.0) {
      double factor = 1.0;
      for (double candidate : {2.0, 0.5})
        if (std::fabs(std::log(run.period * candidate / before)) < std::fabs(std::log(run.period * factor / before)))
          factor = candidate;
      const double change = run.period * factor / before;
      if (factor != 1.0 && change > 1.0 / kLargestChange && change < kLargestChange) {
        for (long w = run.first; w < run.end; ++w) At(period, w) *= factor;
        run.period *= factor;
      }
    }
    if (!Passing(run)) before = run.period;
  }
}

// A figure in fives (five sixteenths against a bar of four) reads as a
// tempo 5:4 from the music's for as long as it plays. A real change by
// that ratio stays; a passage at 5:4 between two passages of one tempo is
// the figure, and is heard at the tempo around it.
constexpr double kFiguresInFives[] = {1.25, 0.8};
void HoldAcrossFigures(std::vector<Run>& runs, std::vector<double>& period) {
  for (size_t r = 1; r + 1 < runs.size(); ++r) {
    const double around = runs[r - 1].period;
    if (!SameTempo(runs[r + 1].period, around)) continue;
    for (double ratio : kFiguresInFives) {
      if (!SameTempo(runs[r].period, around * ratio)) continue;
      for (long w = runs[r].first; w < runs[r].end; ++w) At(period, w) = around;
      runs[r].period = around;
    }
  }
}

// A steady piece is heard at one level. Where a run of windows goes between
// levels of one tempo (its periods related from window to window by a
// simple ratio, as when the drums thin out or a figure stresses every third
// eighth), each window at another level than most of the run's is moved to
// theirs, and so across a moment's passing guess. A real change of tempo
// (any other ratio, or a gradual one within a level) ends a run or is kept
// as it is, but for a figure in fives.
void HoldOneLevel(const std::vector<bool>& heard, std::vector<double>& period) {
  std::vector<Run> runs = RunsOfOneTempo(heard, period);
  JoinAcrossPassing(runs, period);
  KeepLevelAcrossChanges(runs, period);
  HoldAcrossFigures(runs, period);
}

}  // namespace

std::vector<double> PeriodPerHop(const std::vector<double>& onset, const std::vector<uint8_t>& inside, double hop) {
  const long n = Count(onset);
  const long states = TempoStates();
  const long window = std::min(n, std::lround(kTempoWindowSeconds / hop));
  const long step = std::max(1L, std::lround(kTempoStepSeconds / hop));
  const long windows = n <= window ? 1 : 1 + (n - window + step - 1) / step;
  const std::vector<double> fallback(onset.size(), kDefaultPeriodSeconds / hop);
  if (n < 2 * static_cast<long>(PeriodOfState(static_cast<double>(states - 1), hop))) return fallback;

  const std::vector<double> blurred = BlurredOnsets(onset);
  // Each window's evidence for each tempo, and its correlation for the
  // metrical level; windows mostly silent are not heard.
  std::vector<std::vector<double>> evidence(static_cast<size_t>(windows));
  std::vector<std::vector<double>> correlations(static_cast<size_t>(windows));
  std::vector<double> correlation(static_cast<size_t>(LongestLag(hop)) + 1, 0.0);
  std::vector<double> strongest;
  std::vector<bool> heard(static_cast<size_t>(windows), false);
  for (long w = 0; w < windows; ++w) {
    At(evidence, w).assign(static_cast<size_t>(states), 0.0);
    const long first = std::min(w * step, std::max(0L, n - window)), end = std::min(n, first + window);
    long sounding = 0;
    for (long h = first; h < end; ++h) sounding += At(inside, h);
    if (2 * sounding < end - first) continue;
    At(heard, w) = true;
    Autocorrelation(blurred, first, end, correlation);
    strongest.push_back(EvidenceByState(correlation, hop, At(evidence, w)));
    At(correlations, w) = correlation;
  }
  // Evidence in units of a typical window's best.
  const double typical = strongest.empty() ? 0.0 : Median(strongest);
  if (typical <= 0.0) return fallback;
  for (auto& row : evidence)
    for (double& value : row) value /= typical;

  // Viterbi: the path of tempi with the most evidence, less the cost of its
  // changes.
  const double costPerStep = kTempoChangeCost * OctavesPerState();
  std::vector<std::vector<int>> from(static_cast<size_t>(windows));
  std::vector<double> total = evidence[0], arrival;
  for (long w = 1; w < windows; ++w) {
    BestArrivals(total, costPerStep, arrival, At(from, w));
    for (long s = 0; s < states; ++s) At(total, s) = At(arrival, s) + At(At(evidence, w), s);
  }
  std::vector<double> periodOfWindow(static_cast<size_t>(windows));
  long state = std::max_element(total.begin(), total.end()) - total.begin();
  for (long w = windows - 1; w >= 0; --w) {
    At(periodOfWindow, w) = PeriodOfState(RefinedState(state, At(evidence, w)), hop);
    if (w > 0) state = At(At(from, w), state);
  }
  ChooseMetricalLevel(correlations, heard, hop, periodOfWindow);
  HoldOneLevel(heard, periodOfWindow);
  // Windows in silence take the period of the nearest window heard.
  for (long w = 1; w < windows; ++w)
    if (!At(heard, w) && At(heard, w - 1)) At(heard, w) = true, At(periodOfWindow, w) = At(periodOfWindow, w - 1);

  std::vector<double> period(onset.size());
  for (long h = 0; h < n; ++h) At(period, h) = At(periodOfWindow, std::clamp((h - window / 2 + step / 2) / step, 0L, windows - 1));
  return period;
}

double TempoFollower::Follow(const std::vector<double>& strength, bool whole) {
  const long n = Count(strength), states = TempoStates();
  if (n < 2 * static_cast<long>(PeriodOfState(0.0, hop))) return 0.0;
  const std::vector<double> blurred = BlurredOnsets(EmphasisedOnsets(strength, {}, hop));
  std::vector<double> correlation(static_cast<size_t>(LongestLag(hop)) + 1, 0.0);
  Autocorrelation(blurred, 0, n, correlation);
  std::vector<double> evidence;
  const double best = EvidenceByState(correlation, hop, evidence);
  if (best <= 0.0) return 0.0;
  // Evidence in units of a recent window's best, as the track's are in a
  // typical window's.
  strongest.push_back(best);
  if (strongest.size() > kFollowedWindows) strongest.pop_front();
  const double typical = Median(std::vector<double>(strongest.begin(), strongest.end()));
  for (double& value : evidence) value /= typical;
  // A stretch shorter than the follower's own speaks for itself only: the
  // path starts at the first whole one, so that the first seconds' guesses
  // do not hold it back.
  if (!whole) total.clear();
  if (total.empty()) {
    total = evidence;
    periods.clear();
  } else {
    std::vector<double> arrival;
    std::vector<int> from;
    BestArrivals(total, kTempoChangeCost * OctavesPerState(), arrival, from);
    const double top = *std::max_element(arrival.begin(), arrival.end());
    for (long s = 0; s < states; ++s) At(total, s) = At(arrival, s) - top + At(evidence, s);
  }
  const long state = std::max_element(total.begin(), total.end()) - total.begin();
  const double period = PeriodOfState(RefinedState(state, evidence), hop);
  // The level held steady: the median of the path's last windows' periods,
  // each at its own level, so that the path moving between levels of one
  // tempo says nothing new; while the path has fewer windows than that, as
  // it settles, the latest.
  periods.push_back(period / BetterLevel(correlation, period, hop, kLiveLevels));
  if (Count(periods) > kLevelSmoothingWindows + 1) periods.pop_front();
  if (Count(periods) <= kLevelSmoothingWindows) return periods.back() * hop;
  return Median(std::vector<double>(periods.begin(), periods.end())) * hop;
}

}  // namespace tool
