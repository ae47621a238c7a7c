// The tempo of a track as a path through its windows of onset strength:
// each window (eight seconds, every half second) adds its evidence for
// every tempo (TempoEvidence.h), and the path with the most evidence, less
// a cost for each change, is the track's tempo (Viterbi). A change costs per
// octave what a typical window's evidence is worth three times: a real
// change pays it back within a few windows, a break without drums never
// does. Each window's period then moves to a related level whose metre fits
// clearly better, held steady over a few seconds.
//
// The same path is followed live (TempoFollower), window by window as the
// music comes, so the live analysis hears the tempo the render would.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

namespace tool {

// The beat period, in hops, at every hop of the emphasised onset strength
// (`inside` marks the hops of sound).
std::vector<double> PeriodPerHop(const std::vector<double>& onset, const std::vector<uint8_t>& inside,
                                 double hopSeconds);

// The path followed as the music comes: each window of onset strength adds
// its evidence as the track's windows do, and the answer is where the path
// stands now, at the metrical level the window's metre fits clearly better.
// It hears a change of tempo once a window holds more of the new tempo than
// the old.
class TempoFollower {
 public:
  explicit TempoFollower(double hopSeconds) : hop(hopSeconds) {}
  // The last seconds' onset strength, hop by hop, and whether they are the
  // whole stretch the caller follows (not only the first seconds of it):
  // the beat period the path stands at, in seconds, or 0 while it has heard
  // too little.
  double Follow(const std::vector<double>& strength, bool whole);

 private:
  double hop;
  std::vector<double> total;     // the path's totals, by tempo
  std::deque<double> strongest;  // the recent windows' best evidence
  std::deque<double> periods;    // the recent windows' periods, each at the level its metre chose
};

}  // namespace tool
