// The automatic director: a cue sheet for a song from its analysis, as a
// video maker would cut it. A new look at bar 1, at each section change and
// otherwise at the start of each phrase (16 bars, or 8 when 16 would hold a
// look longer than 45 s), never within 4 bars before a section change;
// every change on a downbeat. The transition follows the music across the
// change: a cut where it gets much louder (a drop), a dissolve over a bar
// where it gets much quieter, a dissolve over two beats otherwise. The
// looks come in a shuffled order that uses every look before one comes
// back and never shows one twice in a row; the same seed gives the same
// sheet. `render --direct` renders it, `tessarvander direct` writes it for
// editing.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "formats/CueSheet.h"
#include "music/AudioAnalysis.h"

namespace tool {

struct DirectorOptions {
  uint64_t seed = 1;
  int phraseBars = 16;
  double longestLookSeconds = 45.0;
  // Changes this close before a section change wait for it.
  int barsBeforeSection = 4;
  // The loudness across a change (the bar after over the bar before) that
  // makes it a cut, or a long dissolve.
  double drop = 1.4, fall = 0.7;
};

// The looks in a shuffled order that uses every look before one comes
// back and never gives one twice in a row; the same seed, the same order.
class LookOrder {
 public:
  // `looks`: the bank's looks by name, in slot order (empty: an empty slot).
  LookOrder(const std::vector<std::string>& looks, uint64_t seed);
  bool Empty() const { return usable.empty(); }
  // The next look's slot.
  size_t Next();

 private:
  std::vector<size_t> usable, round;
  size_t last;
  std::mt19937_64 random;
};

// A phrase's bars at this length of bar: 16, or 8 when 16 would hold a look
// longer than the longest wanted.
int PhraseBars(double barSeconds, const DirectorOptions& options);

// The transition across a change, by the loudness of the music after it
// over before it: a cut on a drop, a dissolve over a bar into a quieter
// passage, a dissolve over two beats otherwise.
CueLength TransitionAcross(double levelRatio, const DirectorOptions& options);

// `looks`: the bank's looks by name, in slot order (empty names are empty
// slots). An empty sheet when the song has no bars or the bank no look.
CueSheet Direct(const AudioAnalysis& analysis, const std::vector<std::string>& looks, const DirectorOptions& options);

}  // namespace tool
