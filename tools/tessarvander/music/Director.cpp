#include "music/Director.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace tool {
namespace {

// The bar (from 0) whose downbeat is nearest `seconds`.
size_t NearestBar(const std::vector<double>& downbeats, double seconds) {
  const auto after = std::lower_bound(downbeats.begin(), downbeats.end(), seconds);
  size_t bar = static_cast<size_t>(after - downbeats.begin());
  if (bar == downbeats.size() || (bar > 0 && seconds - downbeats[bar - 1] < *after - seconds)) --bar;
  return bar;
}

// The bars where a look changes: the first, each section change, and the
// start of each phrase that no section change is about to end.
std::vector<size_t> ChangeBars(const BeatGrid& grid, const DirectorOptions& options) {
  const std::vector<double>& downbeats = grid.Downbeats();
  std::vector<size_t> sections;
  for (double section : grid.Sections()) sections.push_back(NearestBar(downbeats, section));
  std::sort(sections.begin(), sections.end());
  const double barSeconds = grid.PeriodAt(downbeats.front()) * grid.BeatsPerBar();
  const size_t phrase = static_cast<size_t>(PhraseBars(barSeconds, options));
  std::vector<size_t> changes = {0};
  size_t nextSection = 0;
  for (size_t bar = 1; bar < downbeats.size(); ++bar) {
    while (nextSection < sections.size() && sections[nextSection] < bar) ++nextSection;
    const bool section = nextSection < sections.size() && sections[nextSection] == bar;
    const bool phraseEnds = bar - changes.back() >= phrase;
    const bool sectionSoon = nextSection < sections.size() &&
                             sections[nextSection] - bar < static_cast<size_t>(options.barsBeforeSection);
    if (section || (phraseEnds && !sectionSoon)) changes.push_back(bar);
  }
  return changes;
}

}  // namespace

LookOrder::LookOrder(const std::vector<std::string>& looks, uint64_t seed) : last(looks.size()), random(seed) {
  for (size_t slot = 0; slot < looks.size(); ++slot)
    if (!looks[slot].empty()) usable.push_back(slot);
}

size_t LookOrder::Next() {
  if (round.empty()) {
    round = usable;
    std::shuffle(round.begin(), round.end(), random);
    // A new round never opens on the look just shown.
    if (round.size() > 1 && round.back() == last) std::swap(round.back(), round.front());
  }
  last = round.back();
  round.pop_back();
  return last;
}

int PhraseBars(double barSeconds, const DirectorOptions& options) {
  return options.phraseBars * barSeconds > options.longestLookSeconds ? std::max(1, options.phraseBars / 2)
                                                                       : options.phraseBars;
}

CueLength TransitionAcross(double levelRatio, const DirectorOptions& options) {
  if (levelRatio >= options.drop) return {};
  if (levelRatio <= options.fall) return {1.0, CueLength::Unit::Bars};
  return {2.0, CueLength::Unit::Beats};
}

CueSheet Direct(const AudioAnalysis& analysis, const std::vector<std::string>& looks, const DirectorOptions& options) {
  CueSheet sheet;
  const BeatGrid& grid = analysis.Grid();
  LookOrder order(looks, options.seed);
  if (grid.Downbeats().empty() || order.Empty()) return sheet;

  const std::vector<double>& downbeats = grid.Downbeats();
  for (size_t bar : ChangeBars(grid, options)) {
    const double at = downbeats[bar];
    const double barSeconds = grid.PeriodAt(at) * grid.BeatsPerBar();
    Cue cue;
    cue.kind = CueKind::Look;
    cue.at.inBars = true;
    // Bar 1 is the bar of the song's first beat, as the cue sheet counts.
    cue.at.bar = std::round(grid.Position(at) / grid.BeatsPerBar()) + 1.0;
    cue.at.beat = 1.0;
    cue.look = looks[order.Next()];
    if (bar > 0) {
      const double before = analysis.Continuous(AudioFeature::Level, at - barSeconds, barSeconds);
      const double after = analysis.Continuous(AudioFeature::Level, at, barSeconds);
      cue.transition = Transition::Dissolve;
      cue.length = TransitionAcross(after / std::max(1e-3, before), options);
    }
    sheet.cues.push_back(cue);
  }
  return sheet;
}

}  // namespace tool
